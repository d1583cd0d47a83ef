package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import android.media.AudioManager;
import android.media.AudioRecord;
import android.media.AudioTrack;
import com.vantel.rfid.testing.NativeFixture;
import com.vantel.rfid.testing.SimulatedLine;
import java.nio.charset.StandardCharsets;
import java.util.function.BooleanSupplier;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * The "sound" link through the Java VM: the library's modem threads play
 * and record through android.media.AudioTrack and AudioRecord and ask
 * AudioManager for volume, microphone and headset (all stand-ins here,
 * carrying the samples to a simulated reader). The library's process-wide
 * modem runs through the steps in order: refusals first, then the link.
 * The VM runs with -Xcheck:jni, so every JNI misuse fails the test.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class AudioBridgeTest {
    static final int KEY_A = 0x60;

    SimulatedLine line;
    AudioManager manager;
    RFIDReader reader;

    @BeforeAll
    void start() {
        line = new SimulatedLine("mifare_s50:C0FFEE01", 4.0);
        manager = new AudioManager();
        RFIDReader.audioManager = manager;
        reader = new RFIDReader("sound");
    }

    @AfterAll
    void stop() {
        reader.picc_ctrl(33, null);
        line.close();
    }

    static boolean eventually(BooleanSupplier condition) throws InterruptedException {
        for (int i = 0; i < 200; i++) {
            if (condition.getAsBoolean()) return true;
            Thread.sleep(50);
        }
        return condition.getAsBoolean();
    }

    static boolean threadsAttachedByTheLibrary() {
        return Thread.getAllStackTraces().keySet().stream()
                .anyMatch(t -> t.isAlive() && t.getName().equals("native_thread"));
    }

    void readsTheCard() {
        assertEquals(0, reader.picc_open("mifare_s50", 0));
        assertArrayEquals(Cards.bytes(0xC0, 0xFF, 0xEE, 0x01), reader.uid);
        assertEquals(0, reader.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4));
        byte[] data = "through the VM..".getBytes(StandardCharsets.US_ASCII);
        assertEquals(0, reader.picc_write(data, 4));
        byte[] back = new byte[16];
        assertEquals(0, reader.picc_read(back, 4));
        assertArrayEquals(data, back);
    }

    static void assertCall(int result, int code, int[] got) {
        assertArrayEquals(new int[] {result, code}, got);
    }

    @Test
    @Order(1)
    void theManagerAnswersOnlyOnceTheHostHandedItOver() {
        for (int query = 0; query < 4; query++) {
            assertEquals(-1, NativeFixture.audioManagerCall(query, 0)[0], "query " + query);
        }
        assertEquals(0, reader.system_init());
        assertCall(15, 0, NativeFixture.audioManagerCall(1, 0));
        assertCall(-1, -24, NativeFixture.audioManagerCall(4, 16));
        assertCall(0, 0, NativeFixture.audioManagerCall(4, 7));
        assertCall(7, 0, NativeFixture.audioManagerCall(0, 0));
        assertCall(0, 0, NativeFixture.audioManagerCall(6, 0));
        assertEquals(8, manager.getStreamVolume(AudioManager.STREAM_MUSIC));
        assertCall(0, 0, NativeFixture.audioManagerCall(7, 0));
        assertCall(0, 0, NativeFixture.audioManagerCall(5, 0));
        assertEquals(15, manager.getStreamVolume(AudioManager.STREAM_MUSIC));
        assertCall(1, 0, NativeFixture.audioManagerCall(3, 0));
        manager.setMicrophoneMute(true);
        assertCall(1, 0, NativeFixture.audioManagerCall(2, 0));
        manager.setMicrophoneMute(false);
        assertCall(0, 0, NativeFixture.audioManagerCall(2, 0));
        manager.setVolume(5);
    }

    @Test
    @Order(2)
    void aStreamIsMadeOnceAndABadFormatMakesNone() {
        int tracks = AudioTrack.constructed();
        assertEquals(0, NativeFixture.trackInit(2, 16));
        assertEquals(0, NativeFixture.trackInit(2, 16));
        assertEquals(tracks + 1, AudioTrack.constructed());
        assertEquals(0, NativeFixture.trackDestroy());
        int records = AudioRecord.constructed();
        assertEquals(-1, NativeFixture.recordInit(1, 24));
        assertEquals(records, AudioRecord.constructed());
        assertEquals(0, NativeFixture.trackInit(2, 16));
        assertEquals(tracks + 2, AudioTrack.constructed());
        assertEquals(0, NativeFixture.trackDestroy());
    }

    @Test
    @Order(3)
    void aMutedMicrophoneStopsTheOpen() {
        manager.setMicrophoneMute(true);
        assertCall(-1, -83, NativeFixture.soundOpen());
        NativeFixture.soundClose();
        manager.setMicrophoneMute(false);
    }

    @Test
    @Order(4)
    void aVolumeThatWillNotReachItsMaximumStopsTheOpen() {
        manager.setCeiling(11);
        try {
            assertCall(-1, -82, NativeFixture.soundOpen());
            NativeFixture.soundClose();
            assertEquals(11, manager.getStreamVolume(AudioManager.STREAM_MUSIC));
        } finally {
            manager.setCeiling(15);
        }
    }

    @Test
    @Order(5)
    void theLinkCalibratesChoosesItsCarrierAndReadsTheCard() {
        manager.setVolume(4);
        readsTheCard();
        // Calibration raised the volume through the manager and checked it.
        assertEquals(15, manager.getStreamVolume(AudioManager.STREAM_MUSIC));
        // The handshake settled the reader's uplink on the default carrier.
        assertEquals(5512.0, line.carrier(), 0.5);
        assertTrue(line.heard() > 0);
    }

    @Test
    @Order(6)
    void unpluggingThroughTheManagerEndsTheLinkAndRepluggingRestoresIt() throws Exception {
        manager.setWiredHeadsetOn(false);
        line.plugged(false);
        byte[] back = new byte[16];
        assertTrue(eventually(() -> reader.picc_read(back, 4) != 0), "reads fail once the reader is gone");
        manager.setWiredHeadsetOn(true);
        line.plugged(true);
        assertTrue(eventually(() -> reader.picc_open("mifare_s50", 0) == 0), "the link comes back");
        assertEquals(0, reader.picc_auth(Cards.DEFAULT_KEY, KEY_A, 4));
        assertEquals(0, reader.picc_read(back, 4));
        assertArrayEquals("through the VM..".getBytes(StandardCharsets.US_ASCII), back);
    }

    @Test
    @Order(7)
    void closingTheLinkDetachesTheThreadsTheLibraryAttached() throws Exception {
        assertTrue(threadsAttachedByTheLibrary(), "the modem's threads run in the VM while the link is open");
        assertEquals(0, reader.picc_ctrl(33, null));
        assertTrue(eventually(() -> !threadsAttachedByTheLibrary()), "parked threads are detached");
    }
}
