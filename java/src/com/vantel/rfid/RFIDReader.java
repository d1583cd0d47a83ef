package com.vantel.rfid;

import android.media.AudioManager;

/**
 * A contactless card reader and the card it has opened.
 *
 * <p>Set the link in {@link #comType} ("uart", "bluetooth", "usbhid",
 * "ch340g", "ch9326", "pdiusbd12" or "sound") and what the link needs: the
 * serial device's path in {@link #uartDeviceName} for "uart", the
 * descriptor of a USB device the application opened in {@link #usbFd} for
 * the USB links, a {@link BluetoothUart} for "bluetooth". Then
 * {@link #picc_open(String, int)} connects to the reader and opens a card;
 * it writes the card's {@link #type}, {@link #vendor} and {@link #uid} into
 * this object, and every later card method finds the card again through
 * those three fields. Two reader objects with the same three values work on
 * the same card; after {@link #picc_close()} the card is gone for both.
 *
 * <p>Methods return 0 (or a count or value) on success and a negative error
 * code on failure; {@link #picc_strerror(int)} gives its message. Codes the
 * bridge adds: -24 for a missing or too short argument, -37 when no open
 * card belongs to this object, -22 for an unknown control code. The link is
 * shared by the whole process: one reader at a time, opened by the first
 * card open and kept open until control code 33 closes it.
 *
 * <p>Any thread may call these methods; calls that reach the reader are
 * carried out one at a time.
 */
public class RFIDReader extends BluetoothHost {
    static {
        System.loadLibrary("vantelrfid");
    }

    /** The card's vendor, written by {@link #picc_open(String, int)}. */
    public String vendor;
    /** The card's type name, written by {@link #picc_open(String, int)}. */
    public String type;
    /** The card's identifier (at most 20 bytes), written by {@link #picc_open(String, int)}. */
    public byte[] uid;
    /** The name of the link to the reader, such as "uart" or "bluetooth". */
    public String comType;
    /** The serial device's path, for the "uart" link. */
    public static String uartDeviceName;
    /** The descriptor of the USB device the application opened, for the USB links. */
    public static int usbFd = -1;
    /** The platform's audio manager, for the "sound" link; see {@link #system_init()}. */
    public static AudioManager audioManager;
    /** A status the library may report. */
    public static int status;
    /** The result of the last {@link #picc_rdval(int)}: 0 when the value read is valid. */
    public int error;
    /** The output bytes of the last control call. */
    public byte[] buffer = new byte[0];

    /** A reader object without a link name yet. */
    public RFIDReader() {
    }

    /**
     * A reader object for a link.
     *
     * @param comType the link's name, such as "uart" or "bluetooth"
     */
    public RFIDReader(String comType) {
        this.comType = comType;
    }

    /**
     * Hands the library the platform's audio manager from
     * {@link #audioManager}, once; only the "sound" link needs it.
     *
     * @return 0; -60 when {@link #audioManager} is null
     */
    public native int system_init();

    /**
     * Connects to the reader over {@link #comType} (unless the link is open)
     * and opens the card of the given type in its field. On success the
     * card's type, vendor and uid are written into this object.
     *
     * @param type the card type, such as "mifare_s50", "mifare_s70" or
     *     "iso14443A_card" (the reader names the type A card in its field)
     * @param mode 0 idle cards, 1 also halted cards, 2 idle cards only
     * @return 0, or the error code (-24 for a null type)
     */
    public native int picc_open(String type, int mode);

    /**
     * Halts the card and forgets it.
     *
     * @return 0, or the error code
     */
    public native int picc_close();

    /**
     * Reads one block (or page group).
     *
     * @param buffer receives the block; must hold the card's block length
     * @param block the block number
     * @return 0, or a negative code (-1 when the card refuses)
     */
    public native int picc_read(byte[] buffer, int block);

    /**
     * Writes one block (or page).
     *
     * @param buffer the block's bytes; must hold the card's block length
     * @param block the block number
     * @return 0, or the error code
     */
    public native int picc_write(byte[] buffer, int block);

    /**
     * Reads a byte range of the card's data area.
     *
     * @param address the first byte, counted from the first block after the
     *     card's first 16 bytes
     * @param length how many bytes
     * @param buffer receives them; must hold {@code length} bytes
     * @return 0, or a negative code
     */
    public native int picc_readdata(int address, int length, byte[] buffer);

    /**
     * Writes a byte range of the card's data area.
     *
     * @param address the first byte, as for {@link #picc_readdata}
     * @param length how many bytes
     * @param buffer the bytes; must hold {@code length} bytes
     * @return 0, or the error code
     */
    public native int picc_writedata(int address, int length, byte[] buffer);

    /**
     * Reads a byte range the reader stores enciphered.
     *
     * @param address the first byte, as for {@link #picc_readdata}
     * @param length how many bytes, a multiple of 8
     * @param buffer receives them
     * @return 0, or a negative code (-24 when the length is not a multiple of 8)
     */
    public native int picc_readdata_enc(int address, int length, byte[] buffer);

    /**
     * Writes a byte range for the reader to store enciphered.
     *
     * @param address the first byte, as for {@link #picc_readdata}
     * @param length how many bytes, a multiple of 8
     * @param buffer the bytes
     * @return 0, or the error code
     */
    public native int picc_writedata_enc(int address, int length, byte[] buffer);

    /**
     * The card's lock operation.
     *
     * @param argument its argument (8 bits)
     * @return 0, or the error code
     */
    public native int picc_lock(int argument);

    /**
     * The card's counter operation.
     *
     * @param buffer its data
     * @return 0, or the error code
     */
    public native int picc_count(byte[] buffer);

    /**
     * Reads a value block. {@link #error} tells a negative value from a
     * failure: 0 after a successful read, else the error code.
     *
     * @param block the block number
     * @return the value, or the error code
     */
    public native int picc_rdval(int block);

    /**
     * Makes a block a value block holding the value.
     *
     * @param value the value
     * @param block the block number
     * @return 0, or the error code
     */
    public native int picc_wrval(int value, int block);

    /**
     * Adds to a value block.
     *
     * @param value the amount
     * @param block the block number
     * @return 0, or the error code
     */
    public native int picc_incval(int value, int block);

    /**
     * Subtracts from a value block.
     *
     * @param value the amount
     * @param block the block number
     * @return 0, or the error code
     */
    public native int picc_decval(int value, int block);

    /**
     * Authenticates for a block's sector.
     *
     * @param key the key (6 bytes for MIFARE Classic), or null for the key
     *     stored in the reader
     * @param keyType 0x60 key A, 0x61 key B
     * @param block a block of the sector
     * @return 0, or the error code
     */
    public native int picc_auth(byte[] key, int keyType, int block);

    /**
     * Changes the keys of a block's sector.
     *
     * @param keys the new key A (6 bytes) for key type 0x60; key A then key
     *     B (12 bytes) for 0x61 and 0x62
     * @param keyType which keys change
     * @param block a block of the sector
     * @return 0, or the error code
     */
    public native int picc_chpw(byte[] keys, int keyType, int block);

    /**
     * Changes the keys and access conditions of a block's sector.
     *
     * @param access 16 bytes: key A (6), key B (6), then the access code of
     *     blocks 0, 1, 2 and the trailer (0xFF leaves one unchanged)
     * @param block a block of the sector
     * @return 0, or the error code
     */
    public native int picc_chaccess(byte[] access, int block);

    /**
     * Loads a value block into the card's transfer buffer.
     *
     * @param block the block number
     * @return 0, or the error code
     */
    public native int picc_load(int block);

    /**
     * Writes the card's transfer buffer to a block.
     *
     * @param block the block number
     * @return 0, or the error code
     */
    public native int picc_transfer(int block);

    /**
     * The card's state: 0 new, 2 failed, 4 selected, 5 halted.
     *
     * @return the state, or the error code
     */
    public native int picc_status();

    /**
     * The card's signature operation.
     *
     * @param buffer its data
     * @return 0, or the error code
     */
    public native int picc_sign(byte[] buffer);

    /**
     * The card identifier number of an ISO 14443-4 card.
     *
     * @return the number, or the error code
     */
    public native int picc_getcid();

    /**
     * The card's ATQA, low byte first.
     *
     * @param buffer receives 2 bytes
     * @return the count copied, or the error code
     */
    public native int picc_getatqa(byte[] buffer);

    /**
     * The card's SAK.
     *
     * @param buffer receives 1 byte
     * @return the count copied, or the error code
     */
    public native int picc_getsak(byte[] buffer);

    /**
     * The card's ATS.
     *
     * @param buffer receives {@link #picc_atslen()} bytes
     * @return the count copied, or the error code
     */
    public native int picc_getats(byte[] buffer);

    /**
     * The card's identifier.
     *
     * @param buffer receives {@link #picc_uidlen()} bytes
     * @return the count copied, or the error code
     */
    public native int picc_getuid(byte[] buffer);

    /**
     * The length of the card's ATS.
     *
     * @return the length; -47 without a card
     */
    public native int picc_atslen();

    /**
     * The length of the card's identifier.
     *
     * @return the length; -47 without a card
     */
    public native int picc_uidlen();

    /**
     * The bytes of a block.
     *
     * @param block the block number
     * @return the length; -47 without a card
     */
    public native int picc_blklen(int block);

    /**
     * The number of blocks of the card.
     *
     * @return the count; -47 without a card
     */
    public native int picc_blkcnt();

    /**
     * The number of sectors of the card.
     *
     * @return the count; -47 without a card
     */
    public native int picc_seccnt();

    /**
     * The number of blocks of a sector.
     *
     * @param sector the sector number
     * @return the count; -47 without a card
     */
    public native int picc_secblk(int sector);

    /**
     * The reader's model text.
     *
     * @return the model, or the message of the failure
     */
    public native String picc_hard_model();

    /**
     * The library's message for an error code.
     *
     * @param code an error code
     * @return its message
     */
    public native String picc_strerror(int code);

    /**
     * The open card's type name.
     *
     * @return the name, or "specified picc donot exist" without a card
     */
    public native String picc_type();

    /**
     * The open card's vendor.
     *
     * @return the vendor, or "specified picc donot exist" without a card
     */
    public native String picc_vendor();

    /**
     * The open card's protocol name.
     *
     * @return the protocol, or "specified picc donot exist" without a card
     */
    public native String picc_protocol();

    /**
     * A control code with int arguments; works without a card for the
     * reader's and the link's own codes. Codes and their arguments: 0/1
     * antenna on/off, 2 baud, 3 protocol, 4/5/6 buzzer and LEDs (two
     * values), 7 machine id, 8 read machine id, 10 serial number (8 bytes
     * to {@link #buffer}), 11 brightness, 17 encrypted start page, 25 port
     * state, 27 link encryption (0/1), 31 a bank-card item (text to
     * {@link #buffer}), 33 close the link, 42 battery percent, 43/44 take and
     * release exclusive use, 45 OTP serial number (8 bytes), 46 model text,
     * 48 uplink settings, 61 firmware version (16 bytes), 64 jack, 66 valid
     * cards (2 bytes), 69/71/72/73/74/79 identity-card text, photo and
     * fingerprint areas, 77 SAM reset (16 bytes), 80 buzzer (four values).
     *
     * @param code the control code
     * @param args its int arguments, in order (may be null for codes
     *     without)
     * @return the code's result; -22 for an unknown code; -24 when the
     *     array holds too few arguments
     */
    public native int picc_ctrl(int code, int[] args);

    /**
     * A control code with one byte or text argument; output goes to
     * {@link #buffer}. Codes: 9 set serial number (8 bytes), 13 LCD text,
     * 32 connect a link by name, 34 raw reader command (two-byte big-endian
     * length first, the reply comes back the same way), 38/39 raw command
     * in hexadecimal/bytes, 40/41 APDU in hexadecimal/bytes, 53/54 APDU
     * batch, 55 infrared waveform conversion, 62/63 Ultralight C and data
     * keys (16 bytes), 65 valid cards (2 bytes), 70 CID-card file, 75/76
     * SAM command.
     *
     * @param code the control code
     * @param data the argument's bytes (a text without terminator)
     * @return the code's result; -22 for an unknown code; -24 for a missing
     *     or too short argument
     */
    public native int picc_ctrl_ex1(int code, byte[] data);

    /**
     * A control code with a text and int arguments. Codes: 18 store a key
     * in the reader (args: index, key type, key length; the text holds the
     * key), 47 connect a link by name (args for the "sound" link: connect
     * type, uplink algorithm, carrier frequency).
     *
     * @param code the control code
     * @param text the text's bytes
     * @param args the int arguments
     * @return the code's result; -22 for an unknown code; -60 without a text
     */
    public native int picc_ctrl_ex2(int code, byte[] text, int[] args);
}
