package com.vantel.rfid.standins;

/**
 * Where the stand-in media classes (android.media.AudioTrack and
 * AudioRecord) send and take their samples: a test installs one, such as
 * a line to a simulated reader. Samples are 16-bit, little-endian bytes;
 * playback is interleaved stereo, recording mono. Each call may wait a
 * short while and move less than asked, even nothing.
 */
public interface SampleLine {
    /** Starts or stops one direction; stopping drops what was queued. */
    void run(boolean playback, boolean on);

    /**
     * Plays bytes.
     *
     * @return the count taken, or negative when the line failed
     */
    int play(byte[] data, int offset, int n);

    /**
     * Records bytes.
     *
     * @return the count read, or negative when the line failed
     */
    int record(byte[] out, int offset, int n);

    /** The installed line (null: none; streams cannot be made). */
    static SampleLine installed() {
        return Holder.line;
    }

    /** Installs a line for the streams made from now on. */
    static void install(SampleLine line) {
        Holder.line = line;
    }

    /** The installed line. */
    final class Holder {
        static volatile SampleLine line;

        private Holder() {
        }
    }
}
