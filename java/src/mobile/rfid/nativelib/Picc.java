package mobile.rfid.nativelib;

/**
 * A card described by plain fields, for host code that binds this class
 * through the library's exported helpers ({@code nativeClassInit},
 * {@code getPicc_*}, {@code setPicc_*}). The library itself does not use it.
 */
public class Picc {
    /** The card identifier as text. */
    public String picc_uid;
    /** The identifier's length in bytes. */
    public int picc_uid_len;
    /** The card identifier number of an ISO 14443-4 card. */
    public char picc_cid;
    /** The reader slot the card is in. */
    public char picc_slot_num;
    /** The card's vendor. */
    public String picc_vendor;
    /** The card's type name. */
    public String picc_type;
    /** The card's protocol name. */
    public String picc_protocol;
    /** The card's state. */
    public String picc_status;
    /** A link to another record, for host code that chains them. */
    public long nextPointer;

    /** An empty record. */
    public Picc() {
    }
}
