package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantel.rfid.testing.NativeFixture;
import com.vantel.rfid.testing.SimulatedReader;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * Control codes whose card or link this build lacks, through stand-ins the
 * fixture installs: an identity-card control operation that fills every
 * area it is given with a byte of its own ('T' text, 'P' photo, 'F'
 * fingerprint) and a bank-card item, and a USB link that records the
 * descriptor it is handed.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class ControlStandInsTest {
    SimulatedReader sim;
    RFIDReader reader;

    @BeforeAll
    void openCardWithStandInControl() throws Exception {
        sim = new SimulatedReader("--card", "mifare_s50:0A0B0C0D");
        RFIDReader.uartDeviceName = sim.path();
        reader = new RFIDReader("uart");
        assertEquals(0, reader.picc_open("mifare_s50", 0));
        assertTrue(NativeFixture.installCardCtrl(reader));
    }

    @AfterAll
    void stop() {
        reader.picc_ctrl(33, null);
        sim.close();
    }

    static byte[] filled(int n, char c) {
        byte[] out = new byte[n];
        Arrays.fill(out, (byte) c);
        return out;
    }

    static byte[] join(byte[]... parts) {
        int n = 0;
        for (byte[] p : parts) {
            n += p.length;
        }
        byte[] out = new byte[n];
        int at = 0;
        for (byte[] p : parts) {
            System.arraycopy(p, 0, out, at, p.length);
            at += p.length;
        }
        return out;
    }

    @Test
    void identityCodesCopyTheirAreasWhole() {
        byte[] text = filled(256, 'T');
        byte[] photo = filled(1024, 'P');
        byte[] finger = filled(1024, 'F');
        Object[][] rows = {
            {69, text},
            {71, photo},
            {72, finger},
            {73, join(text, photo)},
            {74, join(text, photo, finger)},
            // The fingerprint area goes where the dispatcher reads it.
            {79, finger},
        };
        for (Object[] row : rows) {
            int code = (Integer) row[0];
            reader.buffer = new byte[0];
            assertEquals(0, reader.picc_ctrl(code, null), "code " + code);
            assertArrayEquals((byte[]) row[1], reader.buffer, "code " + code);
        }
    }

    @Test
    void bankCardItemsGiveTheirTextOrNone() {
        assertEquals(0, reader.picc_ctrl(31, new int[] {1}));
        assertEquals("6225880000000001", new String(reader.buffer, StandardCharsets.US_ASCII));
        assertEquals(0, reader.picc_ctrl(31, new int[] {0}));
        assertEquals("(none)", new String(reader.buffer, StandardCharsets.US_ASCII));
        assertEquals(-24, reader.picc_ctrl(31, null));
    }

    @Test
    void usbLinksAreHandedTheDescriptorAndUartItsPath() {
        NativeFixture.installUsbLink();
        assertEquals(0, reader.picc_ctrl(33, null));

        RFIDReader usb = new RFIDReader("usbhid");
        RFIDReader.usbFd = 77;
        assertEquals(-10, usb.picc_open("mifare_s50", 0));
        assertEquals(77, NativeFixture.lastUsbDescriptor());
        RFIDReader.usbFd = 78;
        assertEquals(-10, reader.picc_ctrl_ex1(32, "usbhid".getBytes(StandardCharsets.US_ASCII)));
        assertEquals(78, NativeFixture.lastUsbDescriptor());
        RFIDReader.usbFd = 79;
        assertEquals(-10, reader.picc_ctrl_ex2(47, "USB".getBytes(StandardCharsets.US_ASCII), null));
        assertEquals(79, NativeFixture.lastUsbDescriptor());

        // The serial link's name in capitals: the static uartDeviceName.
        assertEquals(0, reader.picc_ctrl(25, null));
        assertEquals(0, reader.picc_ctrl_ex1(32, "UART".getBytes(StandardCharsets.US_ASCII)));
        assertEquals(0x33, reader.picc_ctrl(25, null));
        assertEquals(0, reader.picc_open("mifare_s50", 0));
        assertEquals(0, reader.picc_ctrl(61, null));
    }
}
