package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantel.rfid.testing.SimulatedReader;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * Several Java threads drive the reader at once, each through its own
 * reader object bound to the same card.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class ConcurrentReadersTest {
    static final int KEY_A = 0x60;
    static final int ROUNDS = 25;
    // Each open resets the antenna (300 ms): fewer rounds for the churn.
    static final int OPENS = 8;
    static final byte[] FIRST = Cards.pattern(16, 0x10);
    static final byte[] SECOND = Cards.pattern(16, 0x90);

    SimulatedReader sim;
    RFIDReader reader;

    @BeforeAll
    void open() throws Exception {
        sim = new SimulatedReader("--card", "mifare_s50:5A5A5A5A");
        RFIDReader.uartDeviceName = sim.path();
        reader = new RFIDReader("uart");
        assertEquals(0, reader.picc_open("mifare_s50", 0));
        assertEquals(0, reader.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4));
        assertEquals(0, reader.picc_write(FIRST, 6));
    }

    @AfterAll
    void close() {
        reader.picc_ctrl(33, null);
        sim.close();
    }

    RFIDReader boundToTheCard() {
        RFIDReader r = new RFIDReader("uart");
        r.uid = reader.uid.clone();
        r.type = reader.type;
        r.vendor = reader.vendor;
        return r;
    }

    /** Runs the tasks together on threads of their own; their results. */
    static <T> List<T> together(List<Callable<T>> tasks) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(tasks.size());
        CountDownLatch start = new CountDownLatch(1);
        try {
            List<Future<T>> futures = new ArrayList<>();
            for (Callable<T> task : tasks) {
                futures.add(pool.submit(() -> {
                    start.await();
                    return task.call();
                }));
            }
            start.countDown();
            List<T> results = new ArrayList<>();
            for (Future<T> f : futures) {
                results.add(f.get(120, TimeUnit.SECONDS));
            }
            return results;
        } finally {
            pool.shutdownNow();
        }
    }

    @Test
    void cardAndReaderCallsFromSeveralThreads() throws Exception {
        List<Callable<String>> tasks = new ArrayList<>();
        // A writer flips block 6 between two patterns; readers must only
        // ever see one of them, whole.
        RFIDReader writer = boundToTheCard();
        tasks.add(() -> {
            for (int i = 0; i < ROUNDS; i++) {
                if (writer.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4) != 0) return "writer: auth failed";
                int rc = writer.picc_write(i % 2 == 0 ? SECOND : FIRST, 6);
                if (rc != 0) return "writer: write gave " + rc;
            }
            return "";
        });
        for (int t = 0; t < 2; t++) {
            RFIDReader r = boundToTheCard();
            tasks.add(() -> {
                byte[] block = new byte[16];
                for (int i = 0; i < ROUNDS; i++) {
                    if (r.picc_auth(Cards.DEFAULT_KEY, KEY_A, 5) != 0) return "reader: auth failed";
                    int rc = r.picc_read(block, 6);
                    if (rc != 0) return "reader: read gave " + rc;
                    if (!Arrays.equals(block, FIRST) && !Arrays.equals(block, SECOND)) {
                        return "reader: torn block " + Arrays.toString(block);
                    }
                }
                return "";
            });
        }
        // Reader-level codes and texts, through the buffer of each thread's
        // own object.
        RFIDReader control = boundToTheCard();
        tasks.add(() -> {
            for (int i = 0; i < ROUNDS; i++) {
                int rc = control.picc_ctrl(61, null);
                if (rc != 0) return "control: 61 gave " + rc;
                String version = new String(control.buffer, StandardCharsets.US_ASCII);
                if (!version.equals("vantel-sim 1.0.0")) return "control: version " + version;
                if (!control.picc_type().equals(reader.type)) return "control: type " + control.picc_type();
                if (control.picc_uidlen() != 4) return "control: uid length";
            }
            return "";
        });
        for (String failure : together(tasks)) {
            assertEquals("", failure);
        }
    }

    @Test
    void closingAndReopeningWhileOthersUseTheCard() throws Exception {
        // Results another thread may see while the card comes and goes:
        // success, no card open right now, or a failed (re-)selection or
        // authentication of a card that was reset meanwhile.
        Set<Integer> allowed = Set.of(0, -1, -30, -34, -35, -37);
        List<Callable<String>> tasks = new ArrayList<>();
        RFIDReader churn = new RFIDReader("uart");
        tasks.add(() -> {
            for (int i = 0; i < OPENS; i++) {
                int rc = churn.picc_open("mifare_s50", 0);
                if (rc != 0) return "churn: open gave " + rc;
                rc = churn.picc_close();
                if (rc != 0 && rc != -37) return "churn: close gave " + rc;
            }
            return "";
        });
        for (int t = 0; t < 3; t++) {
            RFIDReader r = boundToTheCard();
            tasks.add(() -> {
                byte[] block = new byte[16];
                for (int i = 0; i < 2 * ROUNDS; i++) {
                    int auth = r.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4);
                    int read = r.picc_read(block, 6);
                    if (!allowed.contains(auth) || !allowed.contains(read)) {
                        return "user: auth " + auth + ", read " + read;
                    }
                }
                return "";
            });
        }
        for (String failure : together(tasks)) {
            assertEquals("", failure);
        }
        // Afterwards the card opens and reads as before.
        assertEquals(0, reader.picc_open("mifare_s50", 0));
        assertEquals(0, reader.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4));
        byte[] block = new byte[16];
        assertEquals(0, reader.picc_read(block, 6));
        assertTrue(Arrays.equals(block, FIRST) || Arrays.equals(block, SECOND));
        assertArrayEquals(Cards.bytes(0x5A, 0x5A, 0x5A, 0x5A), reader.uid);
    }
}
