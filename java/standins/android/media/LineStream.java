package android.media;

import com.vantel.rfid.standins.SampleLine;

/**
 * What the stand-in track and record stream share: the line they use,
 * their state and the blocking moves of samples. Framework semantics: a
 * write blocks until every byte is taken, a read until some bytes exist;
 * both end early (with what moved) when the stream stops.
 */
final class LineStream {
    static final int RATE = 44100;
    static final int ENCODING_PCM_16BIT = 2;
    static final int ERROR_BAD_VALUE = -2;
    static final int ERROR_INVALID_OPERATION = -3;
    static final int MIN_BUFFER = 4096;

    final SampleLine line;
    final boolean playback;
    private volatile boolean usable;
    private volatile boolean running;

    LineStream(boolean playback, boolean validFormat) {
        this.playback = playback;
        this.line = SampleLine.installed();
        this.usable = validFormat && line != null;
    }

    static int minBuffer(int rate, boolean validMask, int encoding) {
        return rate == RATE && validMask && encoding == ENCODING_PCM_16BIT ? MIN_BUFFER : ERROR_BAD_VALUE;
    }

    boolean usable() {
        return usable;
    }

    boolean running() {
        return running;
    }

    void start() {
        if (!usable) throw new IllegalStateException("stream not initialised");
        line.run(playback, true);
        running = true;
    }

    void halt() {
        if (!usable) throw new IllegalStateException("stream not initialised");
        running = false;
        line.run(playback, false);
    }

    void free() {
        if (usable && running) halt();
        usable = false;
    }

    int checkArgs(int arrayLength, int offset, int n) {
        if (!usable) return ERROR_INVALID_OPERATION;
        if (offset < 0 || n < 0 || offset + n > arrayLength || n % 2 != 0) return ERROR_BAD_VALUE;
        return 0;
    }

    /** Plays all n bytes unless the stream stops or the line fails. */
    int playAll(byte[] data, int offset, int n) {
        int done = 0;
        while (done < n && running) {
            int taken = line.play(data, offset + done, n - done);
            if (taken < 0) return done > 0 ? done : ERROR_INVALID_OPERATION;
            done += taken;
        }
        return done;
    }

    /** Reads at least one sample unless the stream stops or the line fails. */
    int recordSome(byte[] out, int offset, int n) {
        while (running) {
            int got = line.record(out, offset, n);
            if (got != 0) return got < 0 ? ERROR_INVALID_OPERATION : got;
        }
        return 0;
    }

    static byte[] bytesOf(short[] samples, int offset, int n) {
        byte[] b = new byte[2 * n];
        for (int i = 0; i < n; i++) {
            b[2 * i] = (byte) samples[offset + i];
            b[2 * i + 1] = (byte) (samples[offset + i] >> 8);
        }
        return b;
    }

    static void shortsOf(byte[] b, int count, short[] out, int offset) {
        for (int i = 0; i < count / 2; i++) {
            out[offset + i] = (short) ((b[2 * i] & 0xFF) | (b[2 * i + 1] << 8));
        }
    }
}
