package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertAll;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantel.rfid.testing.SimulatedReader;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/**
 * The reader natives against the simulated reader on a pseudo-terminal,
 * over the "uart" link: a MIFARE Classic 1K card in its field.
 */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class ReaderNativesTest {
    static final byte[] KEY = Cards.DEFAULT_KEY;
    static final int KEY_A = 0x60;

    SimulatedReader sim;
    RFIDReader reader;

    @BeforeAll
    void startReader() throws Exception {
        sim = new SimulatedReader("--card", "mifare_s50:11223344");
        RFIDReader.uartDeviceName = sim.path();
        reader = new RFIDReader("uart");
        assertEquals(0, reader.picc_open("mifare_s50", 0));
    }

    @AfterAll
    void stopReader() throws Exception {
        reader.picc_ctrl(33, null);
        sim.close();
    }

    @BeforeEach
    void cardIsOpen() {
        if (reader.picc_status() < 0) {
            assertEquals(0, reader.picc_open("mifare_s50", 0));
        }
    }

    @Test
    void openBindsTheReaderObjectToTheCard() {
        assertAll(
            () -> assertArrayEquals(Cards.bytes(0x11, 0x22, 0x33, 0x44), reader.uid),
            () -> assertEquals(reader.type, reader.picc_type()),
            () -> assertEquals(reader.vendor, reader.picc_vendor()),
            () -> assertEquals(4, reader.picc_uidlen()),
            () -> assertEquals(64, reader.picc_blkcnt()),
            () -> assertEquals(16, reader.picc_seccnt()),
            () -> assertEquals(4, reader.picc_secblk(3)),
            () -> assertEquals(16, reader.picc_blklen(4)));
        byte[] uid = new byte[4];
        assertEquals(4, reader.picc_getuid(uid));
        assertArrayEquals(reader.uid, uid);
        assertEquals(2, reader.picc_getatqa(new byte[2]));
        assertEquals(1, reader.picc_getsak(new byte[1]));
    }

    @Test
    void blocksAreWrittenAndReadBack() {
        byte[] data = "Hello from Java!".getBytes(StandardCharsets.US_ASCII);
        assertEquals(0, reader.picc_auth(KEY, KEY_A, 4));
        assertEquals(0, reader.picc_write(data, 4));
        byte[] back = new byte[16];
        assertEquals(0, reader.picc_read(back, 4));
        assertArrayEquals(data, back);
        // A longer array is fine; the block lands at its start.
        byte[] longer = new byte[20];
        Arrays.fill(longer, (byte) 0x5A);
        assertEquals(0, reader.picc_read(longer, 4));
        assertArrayEquals(data, Arrays.copyOf(longer, 16));
        assertEquals(0x5A, longer[16]);
    }

    @Test
    void arraysTooShortOrMissingAreRefusedUntouched() {
        assertEquals(0, reader.picc_auth(KEY, KEY_A, 4));
        byte[] shortBlock = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        byte[] copy = shortBlock.clone();
        assertAll(
            () -> assertEquals(-24, reader.picc_read(shortBlock, 4)),
            () -> assertEquals(-24, reader.picc_write(shortBlock, 4)),
            () -> assertEquals(-24, reader.picc_read(null, 4)),
            () -> assertEquals(-24, reader.picc_readdata(0, 32, new byte[31])),
            () -> assertEquals(-24, reader.picc_writedata(0, 32, new byte[31])),
            () -> assertEquals(-24, reader.picc_auth(new byte[5], KEY_A, 4)),
            () -> assertEquals(-24, reader.picc_chpw(new byte[6], 0x61, 4)),
            () -> assertEquals(-24, reader.picc_chaccess(new byte[15], 4)),
            () -> assertEquals(-24, reader.picc_getuid(new byte[3])),
            () -> assertEquals(-24, reader.picc_getatqa(new byte[1])),
            () -> assertEquals(-24, reader.picc_getsak(null)),
            () -> assertEquals(-24, reader.picc_count(null)));
        assertArrayEquals(copy, shortBlock);
        // The card was left alone: the block still reads as it was.
        byte[] block = new byte[16];
        assertEquals(0, reader.picc_read(block, 4));
    }

    @Test
    void byteRangesCountFromTheDataArea() {
        // The reader keeps a key for sector 1; the byte view authenticates
        // with it.
        assertEquals(0, reader.picc_ctrl_ex2(18, KEY, new int[] {1, KEY_A, 6}));
        assertEquals(0, reader.picc_auth(null, KEY_A, 4));
        byte[] block4 = Cards.pattern(16, 0x40);
        byte[] block5 = Cards.pattern(16, 0x50);
        assertEquals(0, reader.picc_write(block4, 4));
        assertEquals(0, reader.picc_write(block5, 5));
        byte[] range = new byte[32];
        assertEquals(0, reader.picc_readdata(0, 32, range));
        assertArrayEquals(block4, Arrays.copyOfRange(range, 0, 16));
        assertArrayEquals(block5, Arrays.copyOfRange(range, 16, 32));

        byte[] middle = Cards.pattern(8, 0xA0);
        assertEquals(0, reader.picc_writedata(12, 8, middle));
        byte[] back = new byte[8];
        assertEquals(0, reader.picc_readdata(12, 8, back));
        assertArrayEquals(middle, back);
        // The enciphered view moves whole 8-byte blocks only.
        assertEquals(-24, reader.picc_readdata_enc(0, 12, new byte[16]));
        assertEquals(-24, reader.picc_writedata_enc(0, 12, new byte[16]));
    }

    @Test
    void valueBlocks() {
        assertEquals(0, reader.picc_auth(KEY, KEY_A, 8));
        assertEquals(0, reader.picc_wrval(100, 9));
        assertEquals(100, reader.picc_rdval(9));
        assertEquals(0, reader.error);
        assertEquals(0, reader.picc_incval(5, 9));
        assertEquals(0, reader.picc_transfer(9));
        assertEquals(105, reader.picc_rdval(9));
        assertEquals(0, reader.picc_decval(7, 9));
        assertEquals(0, reader.picc_transfer(9));
        assertEquals(98, reader.picc_rdval(9));
        assertEquals(0, reader.picc_load(9));
        assertEquals(0, reader.picc_transfer(10));
        assertEquals(98, reader.picc_rdval(10));
        // A negative value is told from a failure by the error field.
        assertEquals(0, reader.picc_wrval(-35, 9));
        assertEquals(-35, reader.picc_rdval(9));
        assertEquals(0, reader.error);
        assertEquals(0, reader.picc_write(new byte[16], 10));
        int failed = reader.picc_rdval(10);
        assertTrue(failed < 0);
        assertEquals(failed, reader.error);
    }

    @Test
    void keysAndAccessConditions() {
        byte[] newKey = Cards.bytes(0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6);
        assertEquals(0, reader.picc_auth(KEY, KEY_A, 12));
        assertEquals(0, reader.picc_chpw(newKey, KEY_A, 12));
        assertNotEquals(0, reader.picc_auth(KEY, KEY_A, 12));
        assertEquals(0, reader.picc_auth(newKey, KEY_A, 12));
        // Both keys back to the default, access codes unchanged (FF).
        byte[] access = new byte[16];
        System.arraycopy(KEY, 0, access, 0, 6);
        System.arraycopy(KEY, 0, access, 6, 6);
        Arrays.fill(access, 12, 16, (byte) 0xFF);
        assertEquals(0, reader.picc_chaccess(access, 12));
        assertEquals(0, reader.picc_auth(KEY, KEY_A, 12));
        assertEquals(0, reader.picc_auth(KEY, 0x61, 12));
    }

    @Test
    void controlCodesOfEachRowKind() {
        int[] none = new int[0];
        // Rows that leave the buffer empty.
        reader.buffer = Cards.bytes(1, 2, 3);
        assertEquals(0, reader.picc_ctrl(4, new int[] {1, 1}));
        assertEquals(0, reader.buffer.length);
        assertEquals(0x33, reader.picc_ctrl(25, null));
        // Areas of 8, 16 and 2 bytes.
        assertEquals(0, reader.picc_ctrl(10, none));
        assertArrayEquals(Cards.bytes(0x56, 0x52, 0, 0, 0, 0, 0, 1), reader.buffer);
        assertEquals(0, reader.picc_ctrl(61, none));
        assertEquals("vantel-sim 1.0.0", new String(reader.buffer, StandardCharsets.US_ASCII));
        assertEquals(0, reader.picc_ctrl(64, none));
        assertArrayEquals(Cards.bytes(0, 0), reader.buffer);
        // Text results.
        assertEquals(0, reader.picc_ctrl(46, none));
        assertEquals("VR1356-S", new String(reader.buffer, StandardCharsets.US_ASCII));
        assertEquals("VR1356-S", reader.picc_hard_model());
        // Unknown codes and missing arguments.
        for (int code : new int[] {9, 26, 81, -1, 1000}) {
            assertEquals(-22, reader.picc_ctrl(code, new int[] {0, 0, 0, 0}), "code " + code);
        }
        assertEquals(-24, reader.picc_ctrl(4, new int[] {1}));
        assertEquals(-24, reader.picc_ctrl(80, null));
        assertEquals(-24, reader.picc_ctrl(2, none));
    }

    @Test
    void aFailedCopyingCodeKeepsTheBufferAndAFailedEmptyingCodeEmptiesIt() throws Exception {
        assertEquals(0, reader.picc_ctrl(61, null));
        byte[] version = reader.buffer;
        assertEquals("ok", sim.control("fault status 0x0B"));
        assertTrue(reader.picc_ctrl(10, null) < 0);
        assertArrayEquals(version, reader.buffer);
        assertEquals("ok", sim.control("fault status 0x0B"));
        assertTrue(reader.picc_ctrl(5, new int[] {1, 0}) < 0);
        assertEquals(0, reader.buffer.length);
    }

    @Test
    void machineIdIsSentFromTheArgumentNotFromItsValueAsAnAddress() {
        assertEquals(0, reader.picc_ctrl(7, new int[] {0x1234_5605}));
        // Read it back with a raw command: 0x0601, low byte first.
        assertEquals(0, reader.picc_ctrl_ex1(39, Cards.bytes(0x01, 0x06)));
        assertArrayEquals(Cards.bytes(0x05), reader.buffer);
        assertEquals(0, reader.picc_ctrl(8, null));
        assertEquals(0, reader.buffer.length);
    }

    @Test
    void rawCommandsReturnTheWholeReply() {
        // The reply is longer than the request: all of it comes back.
        assertEquals(0, reader.picc_ctrl_ex1(39, Cards.bytes(0x03, 0x01)));
        assertEquals("vantel-sim 1.0.0", new String(reader.buffer, StandardCharsets.US_ASCII));
        assertEquals(0, reader.picc_ctrl_ex1(38, "0301".getBytes(StandardCharsets.US_ASCII)));
        assertEquals("76616E74656C2D73696D20312E302E30", new String(reader.buffer, StandardCharsets.US_ASCII));
        // ... and a shorter one is not padded with stale bytes.
        assertEquals(0, reader.picc_ctrl_ex1(39, Cards.bytes(0x02, 0x0F, 0xAB)));
        assertArrayEquals(Cards.bytes(0xAB), reader.buffer);
        // Length-prefixed: two big-endian length bytes, in and out.
        assertEquals(0, reader.picc_ctrl_ex1(34, Cards.bytes(0x00, 0x02, 0x03, 0x01)));
        assertEquals(18, reader.buffer.length);
        assertArrayEquals(Cards.bytes(0x00, 0x10), Arrays.copyOf(reader.buffer, 2));
        // A length claiming more bytes than were given is refused.
        assertEquals(-24, reader.picc_ctrl_ex1(34, Cards.bytes(0x00, 0x05, 0x03, 0x01)));
        assertEquals(-24, reader.picc_ctrl_ex1(34, Cards.bytes(0x00)));
    }

    @Test
    void byteArgumentCodes() {
        assertEquals(-24, reader.picc_ctrl_ex1(9, new byte[7]));
        byte[] serial = Cards.bytes(0x56, 0x52, 9, 8, 7, 6, 5, 4);
        assertEquals(0, reader.picc_ctrl_ex1(9, serial));
        assertEquals(0, reader.buffer.length);
        assertEquals(0, reader.picc_ctrl(10, null));
        assertArrayEquals(serial, reader.buffer);
        assertEquals(-24, reader.picc_ctrl_ex1(62, new byte[15]));
        assertEquals(-24, reader.picc_ctrl_ex1(63, new byte[15]));
        assertEquals(-24, reader.picc_ctrl_ex1(65, new byte[1]));
        assertEquals(0, reader.picc_ctrl_ex1(65, Cards.bytes(0x01, 0x02)));
        assertEquals(0, reader.picc_ctrl(66, null));
        assertArrayEquals(Cards.bytes(0x01, 0x02), reader.buffer);
        assertEquals(0, reader.picc_ctrl_ex1(62, new byte[16]));
        // A text without a terminator of its own.
        reader.buffer = Cards.bytes(1);
        assertEquals(0, reader.picc_ctrl_ex1(13, "Welcome".getBytes(StandardCharsets.US_ASCII)));
        assertEquals(0, reader.buffer.length);
        assertEquals(-22, reader.picc_ctrl_ex1(7, new byte[8]));
        assertEquals(-24, reader.picc_ctrl_ex1(39, null));
    }

    @Test
    void textAndIntArgumentCodes() {
        assertEquals(-24, reader.picc_ctrl_ex2(18, KEY, new int[] {0, KEY_A}));
        // The key length may not run past the key.
        assertEquals(-24, reader.picc_ctrl_ex2(18, KEY, new int[] {0, KEY_A, 7}));
        assertEquals(-60, reader.picc_ctrl_ex2(18, null, new int[] {0, KEY_A, 6}));
        assertEquals(-22, reader.picc_ctrl_ex2(19, KEY, new int[] {0, 0, 0}));
        // Connecting a link that is open already changes nothing.
        assertEquals(0, reader.picc_ctrl_ex2(47, "uart".getBytes(StandardCharsets.US_ASCII), null));
        assertEquals(-24, reader.picc_ctrl_ex2(47, "ch340g".getBytes(StandardCharsets.US_ASCII), new int[] {1}));
    }

    @Test
    void twoReaderObjectsWithTheSameCardShareItsRecord() {
        RFIDReader other = new RFIDReader();
        other.uid = reader.uid.clone();
        other.type = reader.type;
        other.vendor = reader.vendor;
        assertEquals(0, other.picc_auth(KEY, KEY_A, 4));
        byte[] data = Cards.pattern(16, 0x77);
        assertEquals(0, other.picc_write(data, 4));
        byte[] back = new byte[16];
        assertEquals(0, reader.picc_read(back, 4));
        assertArrayEquals(data, back);

        // A different uid names no card.
        RFIDReader stranger = new RFIDReader();
        stranger.uid = Cards.bytes(0x11, 0x22, 0x33, 0x45);
        stranger.type = reader.type;
        stranger.vendor = reader.vendor;
        assertEquals(-37, stranger.picc_read(back, 4));
        assertEquals("specified picc donot exist", stranger.picc_type());
        // Neither does an object never bound to a card.
        RFIDReader fresh = new RFIDReader();
        assertEquals(-37, fresh.picc_status());
        assertEquals(-47, fresh.picc_uidlen());
        assertEquals(-47, fresh.picc_blkcnt());
    }

    @Test
    void aClosedCardIsGoneForEveryReaderObject() {
        RFIDReader second = new RFIDReader("uart");
        assertEquals(0, second.picc_open("mifare_s50", 0));
        assertEquals(0, second.picc_close());
        String gone = "specified picc donot exist";
        assertAll(
            () -> assertEquals(gone, reader.picc_type()),
            () -> assertEquals(gone, reader.picc_vendor()),
            () -> assertEquals(gone, reader.picc_protocol()),
            () -> assertEquals(-37, reader.picc_read(new byte[16], 4)),
            () -> assertEquals(-37, reader.picc_close()),
            () -> assertEquals(-47, reader.picc_uidlen()),
            () -> assertEquals(-47, reader.picc_seccnt()));
        // Reader-level codes still work without a card.
        assertEquals(0, reader.picc_ctrl(61, null));
        assertEquals(0, reader.picc_open("mifare_s50", 0));
    }

    @Test
    void openFailuresReportTheirCode() throws Exception {
        assertEquals(-24, reader.picc_open(null, 0));
        RFIDReader noLink = new RFIDReader();
        assertEquals(-24, noLink.picc_open("mifare_s50", 0));
        assertEquals("ok", sim.control("card remove"));
        RFIDReader other = new RFIDReader("uart");
        assertEquals(-30, other.picc_open("mifare_s70", 0));
        assertEquals("ok", sim.control("card place mifare_s50 11223344").substring(0, 2));
    }

    @Test
    void messages() {
        String text = reader.picc_strerror(-24);
        assertTrue(text.length() > 0);
        assertEquals(text, CException.picc_strerror(-24));
        CException e = new CException(-37);
        assertEquals(-37, e.getCode());
        assertEquals(reader.picc_strerror(-37), e.getMessage());
        assertNotEquals(text, reader.picc_strerror(-37));
    }

    @Test
    void theAudioManagerIsRequiredBySystemInit() {
        RFIDReader.audioManager = null;
        assertEquals(-60, reader.system_init());
        RFIDReader.audioManager = new android.media.AudioManager();
        assertEquals(0, reader.system_init());
        RFIDReader.audioManager = null;
        // One is kept already.
        assertEquals(0, reader.system_init());
    }
}
