package android.media;

/**
 * Stand-in for the framework's microphone stream, for tests on a plain
 * Java VM (never shipped): 16-bit mono samples at 44100 Hz from the
 * installed {@link com.vantel.rfid.standins.SampleLine}.
 */
public class AudioRecord {
    /** State: not usable. */
    public static final int STATE_UNINITIALIZED = 0;
    /** State: usable. */
    public static final int STATE_INITIALIZED = 1;
    /** Recording state. */
    public static final int RECORDSTATE_STOPPED = 1;
    /** Recording state. */
    public static final int RECORDSTATE_RECORDING = 3;
    /** Channel mask: mono (the only one the stand-in records). */
    public static final int CHANNEL_IN_MONO = 16;

    private static int constructed;
    private final LineStream stream;

    /** Framework constructor: the microphone, mono. */
    public AudioRecord(int audioSource, int sampleRateInHz, int channelConfig, int audioFormat,
                       int bufferSizeInBytes) {
        int min = getMinBufferSize(sampleRateInHz, channelConfig, audioFormat);
        stream = new LineStream(false, audioSource == 1 && min > 0 && bufferSizeInBytes >= min);
        count();
    }

    /** Framework method. */
    public static int getMinBufferSize(int sampleRateInHz, int channelConfig, int audioFormat) {
        return LineStream.minBuffer(sampleRateInHz, channelConfig == CHANNEL_IN_MONO, audioFormat);
    }

    /** Framework method. */
    public int getState() {
        return stream.usable() ? STATE_INITIALIZED : STATE_UNINITIALIZED;
    }

    /** Framework method. */
    public int getRecordingState() {
        return stream.running() ? RECORDSTATE_RECORDING : RECORDSTATE_STOPPED;
    }

    /** Framework method. */
    public void startRecording() {
        stream.start();
    }

    /** Framework method. */
    public void stop() {
        stream.halt();
    }

    /** Framework method. */
    public void release() {
        stream.free();
    }

    /** Framework method: blocks until some bytes exist. */
    public int read(byte[] audioData, int offsetInBytes, int sizeInBytes) {
        int bad = stream.checkArgs(audioData.length, offsetInBytes, sizeInBytes);
        return bad != 0 ? bad : stream.recordSome(audioData, offsetInBytes, sizeInBytes);
    }

    /** Framework method: blocks until some samples exist. */
    public int read(short[] audioData, int offsetInShorts, int sizeInShorts) {
        if (offsetInShorts < 0 || sizeInShorts < 0 || offsetInShorts + sizeInShorts > audioData.length) {
            return LineStream.ERROR_BAD_VALUE;
        }
        byte[] b = new byte[2 * sizeInShorts];
        int n = read(b, 0, b.length);
        if (n > 0) LineStream.shortsOf(b, n, audioData, offsetInShorts);
        return n < 0 ? n : n / 2;
    }

    private static synchronized void count() {
        constructed++;
    }

    /** Test view: how many streams were constructed. */
    public static synchronized int constructed() {
        return constructed;
    }
}
