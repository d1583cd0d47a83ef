import com.vantel.rfid.RFIDReader;

/**
 * Opens the MIFARE Classic card on a serial reader, reads one block with
 * the default key and prints it.
 *
 * <pre>
 * java -Djava.library.path=build/lib -cp build/java/vantel-rfid.jar:build/java/vantel-rfid-examples.jar \
 *      ReadCard /dev/ttyUSB0 [BLOCK]
 * </pre>
 */
public final class ReadCard {
    private static final byte[] DEFAULT_KEY = {
        (byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF
    };
    private static final int KEY_A = 0x60;

    private ReadCard() {
    }

    public static void main(String[] args) {
        if (args.length < 1) {
            System.err.println("usage: ReadCard DEVICE [BLOCK]");
            System.exit(2);
        }
        int block = args.length > 1 ? Integer.parseInt(args[1]) : 4;
        RFIDReader.uartDeviceName = args[0];
        RFIDReader reader = new RFIDReader("uart");

        check(reader, "open", reader.picc_open("mifare_s50", 0));
        System.out.println("card " + hex(reader.uid) + " (" + reader.picc_type() + ")");
        check(reader, "authenticate", reader.picc_auth(DEFAULT_KEY, KEY_A, block));
        byte[] data = new byte[16];
        check(reader, "read", reader.picc_read(data, block));
        System.out.println("block " + block + ": " + hex(data) + "  " + printable(data));
        reader.picc_close();
        reader.picc_ctrl(33, null);
    }

    private static void check(RFIDReader reader, String what, int result) {
        if (result == 0) {
            return;
        }
        System.err.println(what + " failed: " + result + " " + reader.picc_strerror(result));
        System.exit(1);
    }

    private static String hex(byte[] bytes) {
        StringBuilder s = new StringBuilder();
        for (byte b : bytes) {
            s.append(String.format("%02X", b & 0xFF));
        }
        return s.toString();
    }

    private static String printable(byte[] bytes) {
        StringBuilder s = new StringBuilder();
        for (byte b : bytes) {
            s.append(b >= 0x20 && b < 0x7F ? (char) b : '.');
        }
        return s.toString();
    }
}
