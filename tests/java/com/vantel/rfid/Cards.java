package com.vantel.rfid;

/** Byte helpers of the tests. */
final class Cards {
    static final byte[] DEFAULT_KEY = bytes(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF);

    private Cards() {
    }

    static byte[] bytes(int... values) {
        byte[] out = new byte[values.length];
        for (int i = 0; i < values.length; i++) {
            out[i] = (byte) values[i];
        }
        return out;
    }

    /** n bytes counting up from first. */
    static byte[] pattern(int n, int first) {
        byte[] out = new byte[n];
        for (int i = 0; i < n; i++) {
            out[i] = (byte) (first + i);
        }
        return out;
    }
}
