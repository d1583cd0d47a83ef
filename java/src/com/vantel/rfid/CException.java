package com.vantel.rfid;

/**
 * An error of the reader library, with its code and the library's message
 * for it.
 */
public class CException extends Exception {
    private static final long serialVersionUID = 1L;

    static {
        System.loadLibrary("vantelrfid");
    }

    /** The library's negative error code. */
    private final int code;

    /**
     * An exception for a library error code.
     *
     * @param code the negative error code a native method returned
     */
    public CException(int code) {
        super(picc_strerror(code));
        this.code = code;
    }

    /**
     * The error code this exception carries.
     *
     * @return the negative error code
     */
    public int getCode() {
        return code;
    }

    /**
     * The library's message for an error code (the same text as
     * {@link RFIDReader#picc_strerror(int)}).
     *
     * @param code an error code
     * @return its message
     */
    public static native String picc_strerror(int code);
}
