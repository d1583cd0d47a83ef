import com.vantel.rfid.RFIDReader;

/** The Java side of bench_bridge: loops of native calls, as an application makes them. */
public final class BridgeBench {
    private BridgeBench() {
    }

    /** n reads of a block; the sum of the results (0 when all succeed). */
    public static int readLoop(RFIDReader reader, byte[] block, int n) {
        int sum = 0;
        for (int i = 0; i < n; i++) {
            sum += reader.picc_read(block, 4);
        }
        return sum;
    }

    /** n calls of a control code whose output goes to the buffer field. */
    public static int ctrlLoop(RFIDReader reader, int code, int n) {
        int sum = 0;
        for (int i = 0; i < n; i++) {
            sum += reader.picc_ctrl(code, null);
        }
        return sum;
    }
}
