package com.vantel.rfid.testing;

/**
 * The library's exported JNI helpers, called from native code the way host
 * code would, and stand-ins installed into the library (tests/java/fixture.cpp).
 * Results that come with errno are {result, errno} pairs.
 */
public final class NativeFixture {
    static {
        System.loadLibrary("vantelrfid");
        System.loadLibrary("vrjnitest");
    }

    private NativeFixture() {
    }

    public static native int[] setUid(Object obj, byte[] uid, int n);
    public static native int[] setBuff(Object obj, byte[] data, int n);
    public static native int[] getInt(Object obj, int kind, String name);
    public static native int[] setInt(Object obj, int kind, String name, int value);
    /** The field's text as UTF-8 bytes, or null; errno in code[0]. */
    public static native byte[] getString(Object obj, int kind, String name, int[] code);
    /** Stores the given bytes as a C text (they may be malformed UTF-8). */
    public static native int[] setString(Object obj, int kind, String name, byte[] utf8);
    /** The field's bytes, or null; the count or errno in code[0]. */
    public static native byte[] getBytes(Object obj, int kind, String name, int[] code);
    public static native int[] setBytes(Object obj, int kind, String name, byte[] data, int n);
    public static native Object getObject(Object obj, int kind, String name, String signature);
    /** comType (which 0) or uartDeviceName (1) copied into capacity bytes, or null. */
    public static native byte[] copyLinkText(Object obj, int which, int capacity);
    public static native String uartDevice(Object obj);
    public static native int usbDevice(Object obj);
    public static native Object audioManager(Class<?> readerClass);
    public static native int setStatus(Object obj, int value);
    public static native int setError(Object obj, int value);
    public static native boolean findsCard(Object reader);
    /** Jstring2CStr's bytes, or null. */
    public static native byte[] toCString(String text);

    public static native int piccClassInit();
    /** uid, vendor, type, protocol, status, uid_len, cid, slot_num, next pointer. */
    public static native byte[][] piccFields(Object picc);
    public static native void setPiccFields(Object picc, String text, int number);

    /** Gives the reader object's card a control operation that fills the identity-card areas. */
    public static native boolean installCardCtrl(Object reader);
    /** Offers "usbhid" through a link that records the descriptor it is handed and fails to open. */
    public static native void installUsbLink();
    public static native int lastUsbDescriptor();

    public static native int bluetoothRead(byte[] out, int n);
    public static native int bluetoothWrite(byte[] data);
    public static native int bluetoothFlush();
    public static native int bluetoothOpen();
    public static native int bluetoothClose();

    /** suart_init and suart_open: the result and errno. */
    public static native int[] soundOpen();
    public static native int soundClose();
    /** An audio manager operation (0 getvol ... 7 decvol): the result and errno. */
    public static native int[] audioManagerCall(int which, int value);
    public static native int trackInit(int channels, int bits);
    public static native int trackDestroy();
    public static native int recordInit(int channels, int bits);
    public static native int recordDestroy();
}
