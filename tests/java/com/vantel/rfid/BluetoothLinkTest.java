package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantel.rfid.testing.NativeFixture;
import com.vantel.rfid.testing.PtyBluetooth;
import com.vantel.rfid.testing.ScriptedBluetooth;
import com.vantel.rfid.testing.SimulatedReader;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * The "bluetooth" link: the application's connection (here carried over
 * the simulated reader's pseudo-terminal) lent to the library through the
 * reader object's bluetoothUart methods.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class BluetoothLinkTest {
    static final int KEY_A = 0x60;

    SimulatedReader sim;
    PtyBluetooth link;
    RFIDReader reader;

    @BeforeAll
    void openCardOverBluetooth() throws Exception {
        sim = new SimulatedReader("--card", "mifare_s50:C0FFEE01");
        link = new PtyBluetooth(sim.path());
        RFIDReader.setBluetoothUart(link);
        reader = new RFIDReader("bluetooth");
        assertEquals(0, reader.picc_open("mifare_s50", 0));
    }

    @AfterAll
    void stop() {
        reader.picc_ctrl(33, null);
        RFIDReader.setBluetoothUart(null);
        sim.close();
    }

    @AfterEach
    void linkBehavesAgain() {
        link.openMode = PtyBluetooth.Mode.NORMAL;
        link.readMode = PtyBluetooth.Mode.NORMAL;
        link.writeMode = PtyBluetooth.Mode.NORMAL;
        link.flushMode = PtyBluetooth.Mode.NORMAL;
        link.closeMode = PtyBluetooth.Mode.NORMAL;
        RFIDReader.setBluetoothUart(link);
    }

    @Test
    void cardOperationsRunOverTheApplicationsConnection() {
        assertArrayEquals(Cards.bytes(0xC0, 0xFF, 0xEE, 0x01), reader.uid);
        assertEquals(0, reader.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4));
        byte[] data = "over bluetooth..".getBytes(StandardCharsets.US_ASCII);
        assertEquals(0, reader.picc_write(data, 4));
        byte[] back = new byte[16];
        assertEquals(0, reader.picc_read(back, 4));
        assertArrayEquals(data, back);
        assertEquals(0, reader.picc_wrval(1000, 5));
        assertEquals(0, reader.picc_decval(1, 5));
        assertEquals(0, reader.picc_transfer(5));
        assertEquals(999, reader.picc_rdval(5));
        assertEquals(0, reader.picc_ctrl(61, null));
        assertEquals("vantel-sim 1.0.0", new String(reader.buffer, StandardCharsets.US_ASCII));
    }

    @Test
    void framesLongerThanTheHostArraysGoInParts() {
        // The reader echoes 3000 bytes: a request and a reply frame of
        // over 3000 bytes each.
        byte[] echo = new byte[3002];
        echo[0] = 0x02;
        echo[1] = 0x0F;
        for (int i = 2; i < echo.length; i++) {
            echo[i] = (byte) (i * 7);
        }
        link.takeReadRequests();
        link.takeWriteCounts();
        assertEquals(0, reader.picc_ctrl_ex1(39, echo));
        assertArrayEquals(Arrays.copyOfRange(echo, 2, echo.length), reader.buffer);
        List<Integer> writes = link.takeWriteCounts();
        List<Integer> reads = link.takeReadRequests();
        assertTrue(writes.stream().allMatch(n -> n <= 2048), writes.toString());
        assertTrue(writes.contains(2048), writes.toString());
        assertTrue(reads.stream().allMatch(n -> n <= 2048), reads.toString());
        assertTrue(reads.contains(2048), reads.toString());
    }

    @Test
    void hostFailuresGiveTheLinksCodes() {
        link.readMode = PtyBluetooth.Mode.THROW;
        assertTrue(reader.picc_ctrl(61, null) < 0);
        link.readMode = PtyBluetooth.Mode.NORMAL;
        link.writeMode = PtyBluetooth.Mode.FAIL;
        assertTrue(reader.picc_ctrl(61, null) < 0);
        link.writeMode = PtyBluetooth.Mode.THROW;
        assertTrue(reader.picc_ctrl(61, null) < 0);
        link.writeMode = PtyBluetooth.Mode.NORMAL;
        // The link carries on once the host does.
        assertEquals(0, reader.picc_ctrl(61, null));

        link.writeMode = PtyBluetooth.Mode.THROW;
        assertEquals(-13, NativeFixture.bluetoothWrite(new byte[] {1}));
        link.flushMode = PtyBluetooth.Mode.FAIL;
        assertEquals(-79, NativeFixture.bluetoothFlush());
        link.flushMode = PtyBluetooth.Mode.THROW;
        assertEquals(-79, NativeFixture.bluetoothFlush());
        link.openMode = PtyBluetooth.Mode.THROW;
        assertEquals(-1, NativeFixture.bluetoothOpen());
    }

    @Test
    void openAndCloseFailures() {
        link.closeMode = PtyBluetooth.Mode.FAIL;
        assertEquals(-11, reader.picc_ctrl(33, null));
        link.closeMode = PtyBluetooth.Mode.NORMAL;
        assertEquals(0, reader.picc_ctrl(33, null));
        link.openMode = PtyBluetooth.Mode.FAIL;
        assertEquals(-10, reader.picc_open("mifare_s50", 0));
        link.openMode = PtyBluetooth.Mode.THROW;
        assertEquals(-10, reader.picc_open("mifare_s50", 0));
        RFIDReader.setBluetoothUart(null);
        assertEquals(-10, reader.picc_open("mifare_s50", 0));
        RFIDReader.setBluetoothUart(link);
        link.openMode = PtyBluetooth.Mode.NORMAL;
        assertEquals(0, reader.picc_open("mifare_s50", 0));
        assertEquals(0, reader.picc_ctrl(61, null));
    }

    @Test
    void readsJoinTheHostsPartsAndTakeNoMoreThanAsked() {
        byte[] hundred = Cards.pattern(100, 0);
        ScriptedBluetooth host = new ScriptedBluetooth()
            .then(Arrays.copyOfRange(hundred, 0, 60))
            .then(Arrays.copyOfRange(hundred, 60, 100));
        RFIDReader.setBluetoothUart(host);
        byte[] out = new byte[100];
        assertEquals(100, NativeFixture.bluetoothRead(out, 100));
        assertArrayEquals(hundred, out);
        assertEquals(List.of(100, 40), host.requests());

        // A host claiming more than it was asked for gives only what was.
        host = new ScriptedBluetooth().thenClaiming(Cards.pattern(10, 1), 3000);
        RFIDReader.setBluetoothUart(host);
        byte[] ten = new byte[10];
        assertEquals(10, NativeFixture.bluetoothRead(ten, 10));
        assertArrayEquals(Cards.pattern(10, 1), ten);

        // A read longer than the host array asks for array-sized parts.
        host = new ScriptedBluetooth().then(new byte[2048]).then(new byte[952]);
        RFIDReader.setBluetoothUart(host);
        assertEquals(3000, NativeFixture.bluetoothRead(new byte[3000], 3000));
        assertEquals(List.of(2048, 952), host.requests());
    }

    /**
     * A read waits n * 25 / 20 + 125 ms for n bytes: the host is polled
     * every 10 ms until then and never after.
     */
    @Test
    void readsGiveUpAtTheirDeadline() {
        int[][] rows = {{1, 126}, {100, 250}};
        for (int[] row : rows) {
            int n = row[0];
            int deadlineMs = row[1];
            ScriptedBluetooth silent = new ScriptedBluetooth();
            RFIDReader.setBluetoothUart(silent);
            long start = System.nanoTime();
            assertEquals(-14, NativeFixture.bluetoothRead(new byte[n], n));
            long waitedMs = (System.nanoTime() - start) / 1_000_000;
            List<Long> calls = silent.readTimes();
            long lastCallMs = (calls.get(calls.size() - 1) - calls.get(0)) / 1_000_000;
            // Never before the deadline...
            assertTrue(waitedMs >= deadlineMs - 1, n + " bytes: gave up after " + waitedMs + " ms");
            // ... and no poll after it (each poll is at least 10 ms after
            // the one before; a generous margin for a loaded machine).
            assertTrue(lastCallMs <= deadlineMs, n + " bytes: last poll at " + lastCallMs + " ms");
            assertTrue(calls.size() <= deadlineMs / 10 + 1, n + " bytes: " + calls.size() + " polls");
            assertTrue(waitedMs < deadlineMs + 150, n + " bytes: gave up after " + waitedMs + " ms");
        }
    }
}
