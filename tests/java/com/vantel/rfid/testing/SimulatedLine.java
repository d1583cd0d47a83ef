package com.vantel.rfid.testing;

import com.vantel.rfid.standins.SampleLine;

/**
 * A simulated reader's audio front end on a virtual line in this process
 * (native library vrmedialine), as the line of the stand-in media classes:
 * what the library plays through android.media.AudioTrack reaches the
 * reader, and the reader's replies come back through AudioRecord.
 */
public final class SimulatedLine implements SampleLine, AutoCloseable {
    static {
        System.loadLibrary("vrmedialine");
    }

    private static native boolean open(String card, double speed);

    private static native void shut();

    private static native void plug(boolean in);

    private static native double uplinkFrequency();

    private static native long bytesHeard();

    private static native int lineRun(boolean playback, boolean on);

    private static native int linePlay(byte[] data, int offset, int n);

    private static native int lineRecord(byte[] out, int offset, int n);

    /**
     * Starts the reader with a card and installs the line.
     *
     * @param card the card in the field, such as "mifare_s50:C0FFEE01"
     * @param speed the line's virtual clock at most this many times real time
     */
    public SimulatedLine(String card, double speed) {
        if (!open(card, speed)) throw new IllegalStateException("the simulated reader did not start");
        SampleLine.install(this);
    }

    @Override
    public void close() {
        SampleLine.install(null);
        shut();
    }

    /** Plugs the reader into the jack or pulls it out. */
    public void plugged(boolean in) {
        plug(in);
    }

    /** The reader's uplink carrier in Hz. */
    public double carrier() {
        return uplinkFrequency();
    }

    /** Bytes the reader has decoded from the library's downlink. */
    public long heard() {
        return bytesHeard();
    }

    @Override
    public void run(boolean playback, boolean on) {
        lineRun(playback, on);
    }

    @Override
    public int play(byte[] data, int offset, int n) {
        return linePlay(data, offset, n);
    }

    @Override
    public int record(byte[] out, int offset, int n) {
        return lineRecord(out, offset, n);
    }
}
