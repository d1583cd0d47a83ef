package com.vantel.rfid;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;

import com.vantel.rfid.testing.NativeFixture;
import java.nio.charset.StandardCharsets;
import mobile.rfid.nativelib.Picc;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * The exported field helpers, called from native code on Java objects: the
 * generic accessors and their by-kind dispatchers, the reader object's own
 * fields, the text conversion and the Picc class binding.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class FieldHelpersTest {
    static final int INSTANCE = 0;
    static final int STATIC = 1;
    static final int EARG = -24;
    static final int ELOOKUP = -60;

    /** A host object with one field of each kind the helpers serve. */
    static final class Host {
        String text = "hello";
        int number = 7;
        byte[] bytes = {1, 2, 3};
        Object thing;
        static String sharedText = "shared";
        static int sharedNumber = 11;
        static byte[] sharedBytes = {9};
    }

    static byte[] utf8(String s) {
        return s.getBytes(StandardCharsets.UTF_8);
    }

    @Test
    @Order(1)
    void piccGettersBeforeTheClassIsBound() {
        Picc p = new Picc();
        p.picc_uid_len = 4;
        byte[][] f = NativeFixture.piccFields(p);
        assertNull(f[0]);
        assertEquals("-1", new String(f[5], StandardCharsets.US_ASCII));
        assertEquals("255", new String(f[6], StandardCharsets.US_ASCII));
        assertEquals("-1", new String(f[8], StandardCharsets.US_ASCII));
    }

    @Test
    @Order(2)
    void piccClassBinding() {
        assertEquals(0, NativeFixture.piccClassInit());
        Picc p = new Picc();
        NativeFixture.setPiccFields(p, "04A1B2C3", -2);
        assertEquals("04A1B2C3", p.picc_uid);
        assertEquals("04A1B2C3", p.picc_status);
        assertEquals(-2, p.picc_uid_len);
        assertEquals((char) 0xFE, p.picc_cid);
        // The pointer is sign-extended from 32 bits.
        assertEquals(-2L, p.nextPointer);
        byte[][] f = NativeFixture.piccFields(p);
        assertEquals("04A1B2C3", new String(f[2], StandardCharsets.US_ASCII));
        assertEquals("-2", new String(f[5], StandardCharsets.US_ASCII));
        assertEquals("254", new String(f[6], StandardCharsets.US_ASCII));
        assertEquals("-2", new String(f[8], StandardCharsets.US_ASCII));
        // Without a text the setters leave the fields alone.
        NativeFixture.setPiccFields(p, null, 3);
        assertEquals("04A1B2C3", p.picc_type);
    }

    @Test
    void uidTakesAtMostTwentyBytes() {
        RFIDReader r = new RFIDReader();
        byte[] twenty = new byte[20];
        twenty[19] = 20;
        assertArrayEquals(new int[] {0, 0}, NativeFixture.setUid(r, twenty, 20));
        assertArrayEquals(twenty, r.uid);
        assertEquals(-1, NativeFixture.setUid(r, new byte[21], 21)[0]);
        assertArrayEquals(twenty, r.uid);
        assertEquals(EARG, NativeFixture.setUid(null, twenty, 20)[0]);
    }

    @Test
    void bufferTakesAnyCountButANegativeOne() {
        RFIDReader r = new RFIDReader();
        r.buffer = null;
        assertEquals(0, NativeFixture.setBuff(r, new byte[0], 0)[0]);
        assertEquals(0, r.buffer.length);
        assertEquals(0, NativeFixture.setBuff(r, new byte[] {5, 6}, 2)[0]);
        assertArrayEquals(new byte[] {5, 6}, r.buffer);
        assertEquals(-1, NativeFixture.setBuff(r, new byte[] {5, 6}, -1)[0]);
        assertEquals(EARG, NativeFixture.setBuff(r, null, 2)[0]);
    }

    @Test
    void byKindDispatchers() {
        Host h = new Host();
        assertArrayEquals(new int[] {7, 0}, NativeFixture.getInt(h, INSTANCE, "number"));
        assertArrayEquals(new int[] {11, 0}, NativeFixture.getInt(h, STATIC, "sharedNumber"));
        // The static form also takes the class itself.
        assertArrayEquals(new int[] {11, 0}, NativeFixture.getInt(Host.class, STATIC, "sharedNumber"));
        assertArrayEquals(new int[] {-1, EARG}, NativeFixture.getInt(h, 2, "number"));
        assertArrayEquals(new int[] {-1, EARG}, NativeFixture.getInt(h, INSTANCE, null));
        assertArrayEquals(new int[] {-1, EARG}, NativeFixture.getInt(null, INSTANCE, "number"));
        assertArrayEquals(new int[] {-1, ELOOKUP}, NativeFixture.getInt(h, INSTANCE, "missing"));
        // A field of another type is not found under the int signature.
        assertArrayEquals(new int[] {-1, ELOOKUP}, NativeFixture.getInt(h, INSTANCE, "text"));
        assertArrayEquals(new int[] {-1, ELOOKUP}, NativeFixture.getInt(h, STATIC, "number"));

        assertEquals(0, NativeFixture.setInt(h, INSTANCE, "number", -5)[0]);
        assertEquals(-5, h.number);
        assertEquals(0, NativeFixture.setInt(Host.class, STATIC, "sharedNumber", 12)[0]);
        assertEquals(12, Host.sharedNumber);
        assertArrayEquals(new int[] {-1, EARG}, NativeFixture.setInt(h, 3, "number", 1));
    }

    @Test
    void textsAndBytes() {
        Host h = new Host();
        int[] code = new int[1];
        assertArrayEquals(utf8("hello"), NativeFixture.getString(h, INSTANCE, "text", code));
        assertArrayEquals(utf8("shared"), NativeFixture.getString(h, STATIC, "sharedText", code));
        h.text = null;
        assertNull(NativeFixture.getString(h, INSTANCE, "text", code));
        assertEquals(ELOOKUP, code[0]);
        assertNull(NativeFixture.getString(h, INSTANCE, null, code));
        assertEquals(EARG, code[0]);

        assertEquals(0, NativeFixture.setString(h, INSTANCE, "text", utf8("grüße €"))[0]);
        assertEquals("grüße €", h.text);
        // Malformed UTF-8 from a card or reader still makes a valid text.
        assertEquals(0, NativeFixture.setString(h, INSTANCE, "text", new byte[] {'a', (byte) 0xC3, 'b', (byte) 0xFF})[0]);
        assertEquals("a\uFFFDb\uFFFD", h.text);

        assertArrayEquals(new byte[] {1, 2, 3}, NativeFixture.getBytes(h, INSTANCE, "bytes", code));
        assertEquals(3, code[0]);
        assertArrayEquals(new byte[] {9}, NativeFixture.getBytes(Host.class, STATIC, "sharedBytes", code));
        h.bytes = null;
        assertNull(NativeFixture.getBytes(h, INSTANCE, "bytes", code));
        assertEquals(ELOOKUP, code[0]);
        assertEquals(0, NativeFixture.setBytes(h, INSTANCE, "bytes", new byte[] {4, 5}, 2)[0]);
        assertArrayEquals(new byte[] {4, 5}, h.bytes);
        // A count of 0 is refused by the generic setter.
        assertEquals(-1, NativeFixture.setBytes(h, INSTANCE, "bytes", new byte[] {4}, 0)[0]);
        assertArrayEquals(new byte[] {4, 5}, h.bytes);
    }

    @Test
    void objects() {
        Host h = new Host();
        h.thing = "x";
        assertSame(h.thing, NativeFixture.getObject(h, INSTANCE, "thing", "Ljava/lang/Object;"));
        assertNull(NativeFixture.getObject(h, INSTANCE, "thing", "Ljava/lang/String;"));
        assertNull(NativeFixture.getObject(h, 5, "thing", "Ljava/lang/Object;"));
    }

    @Test
    void readerObjectFields() {
        RFIDReader r = new RFIDReader("bluetooth-serial");
        RFIDReader.uartDeviceName = "/dev/ttyS7";
        RFIDReader.usbFd = 42;
        assertArrayEquals(utf8("bluetooth-serial"), NativeFixture.copyLinkText(r, 0, 64));
        // The copy ends within its capacity.
        assertArrayEquals(utf8("blue"), NativeFixture.copyLinkText(r, 0, 5));
        assertNull(NativeFixture.copyLinkText(r, 0, 0));
        // The device path is the static field.
        assertArrayEquals(utf8("/dev/ttyS7"), NativeFixture.copyLinkText(r, 1, 64));
        assertEquals("/dev/ttyS7", NativeFixture.uartDevice(r));
        assertEquals(42, NativeFixture.usbDevice(r));
        assertEquals(EARG, NativeFixture.usbDevice(null));
        assertEquals(0, NativeFixture.setStatus(r, 3));
        assertEquals(3, RFIDReader.status);
        assertEquals(0, NativeFixture.setError(r, -35));
        assertEquals(-35, r.error);
        assertEquals(EARG, NativeFixture.setError(null, 1));

        android.media.AudioManager manager = new android.media.AudioManager();
        RFIDReader.audioManager = manager;
        assertSame(manager, NativeFixture.audioManager(RFIDReader.class));
        RFIDReader.audioManager = null;
        assertNull(NativeFixture.audioManager(RFIDReader.class));
    }

    @Test
    void aReaderObjectWithoutACardFindsNone() {
        RFIDReader r = new RFIDReader();
        assertFalse(NativeFixture.findsCard(r));
        r.uid = new byte[0];
        r.type = "Mifare S50";
        assertFalse(NativeFixture.findsCard(r));
    }

    @Test
    void javaTextsToCTexts() {
        assertNull(NativeFixture.toCString(""));
        assertNull(NativeFixture.toCString(null));
        assertArrayEquals(utf8("ID \u8eab\u4efd\u8bc1 \ud83d\ude00"), NativeFixture.toCString("ID 身份证 😀"));
    }
}
