import com.vantel.rfid.standins.SampleLine;

/**
 * A sample line that takes playback at audio pace (44100 stereo frames a
 * second) and throws it away, as a sound card would take it: a write that
 * runs ahead of the clock waits.
 */
public final class PacedSink implements SampleLine {
    private static final double BYTES_PER_NANO = 44100.0 * 4 / 1e9;
    private static final long AHEAD_NANOS = 40_000_000L;
    private long start;
    private long bytes;

    @Override
    public void run(boolean playback, boolean on) {
        start = System.nanoTime();
        bytes = 0;
    }

    @Override
    public int play(byte[] data, int offset, int n) {
        bytes += n;
        long due = start + (long) (bytes / BYTES_PER_NANO);
        long ahead = due - System.nanoTime();
        if (ahead > AHEAD_NANOS) {
            try {
                Thread.sleep((ahead - AHEAD_NANOS) / 1_000_000L);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
        return n;
    }

    @Override
    public int record(byte[] out, int offset, int n) {
        return -1;
    }
}
