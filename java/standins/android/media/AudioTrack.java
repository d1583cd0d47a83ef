package android.media;

/**
 * Stand-in for the framework's streaming playback track, for tests on a
 * plain Java VM (never shipped). It plays 16-bit samples at 44100 Hz on
 * the installed {@link com.vantel.rfid.standins.SampleLine}; a mono track
 * plays each sample on both channels.
 */
public class AudioTrack {
    /** State: not usable. */
    public static final int STATE_UNINITIALIZED = 0;
    /** State: usable. */
    public static final int STATE_INITIALIZED = 1;
    /** Play state. */
    public static final int PLAYSTATE_STOPPED = 1;
    /** Play state. */
    public static final int PLAYSTATE_PAUSED = 2;
    /** Play state. */
    public static final int PLAYSTATE_PLAYING = 3;
    /** Channel mask: stereo. */
    public static final int CHANNEL_OUT_STEREO = 12;
    /** Channel mask: mono. */
    public static final int CHANNEL_OUT_MONO = 4;
    /** Streaming mode. */
    public static final int MODE_STREAM = 1;

    private static int constructed;
    private final LineStream stream;
    private final boolean mono;
    private volatile int playState = PLAYSTATE_STOPPED;
    private float left = 1.0f;
    private float right = 1.0f;

    /** Framework constructor: only the music stream in streaming mode. */
    public AudioTrack(int streamType, int sampleRate, int channelConfig, int audioFormat, int bufferSizeInBytes,
                      int mode) {
        boolean valid = streamType == 3 && mode == MODE_STREAM
                && bufferSizeInBytes >= getMinBufferSize(sampleRate, channelConfig, audioFormat)
                && getMinBufferSize(sampleRate, channelConfig, audioFormat) > 0;
        stream = new LineStream(true, valid);
        count();
        mono = channelConfig == CHANNEL_OUT_MONO;
    }

    /** Framework method. */
    public static int getMinBufferSize(int sampleRate, int channelConfig, int audioFormat) {
        return LineStream.minBuffer(sampleRate,
                channelConfig == CHANNEL_OUT_STEREO || channelConfig == CHANNEL_OUT_MONO, audioFormat);
    }

    /** Framework method. */
    public int getState() {
        return stream.usable() ? STATE_INITIALIZED : STATE_UNINITIALIZED;
    }

    /** Framework method. */
    public int getPlayState() {
        return playState;
    }

    /** Framework method: the gains are kept, not applied. */
    public synchronized int setStereoVolume(float leftGain, float rightGain) {
        left = leftGain;
        right = rightGain;
        return 0;
    }

    /** Test view: the gains last set. */
    public synchronized float[] stereoVolume() {
        return new float[] {left, right};
    }

    /** Framework method. */
    public void play() {
        stream.start();
        playState = PLAYSTATE_PLAYING;
    }

    /** Framework method. */
    public void stop() {
        stream.halt();
        playState = PLAYSTATE_STOPPED;
    }

    /** Framework method: what was queued is dropped here, not kept. */
    public void pause() {
        stream.halt();
        playState = PLAYSTATE_PAUSED;
    }

    /** Framework method (pause dropped the queue already). */
    public void flush() {
    }

    /** Framework method. */
    public void release() {
        stream.free();
        playState = PLAYSTATE_STOPPED;
    }

    /** Framework method: blocks until all bytes are taken. */
    public int write(byte[] audioData, int offsetInBytes, int sizeInBytes) {
        int bad = stream.checkArgs(audioData.length, offsetInBytes, sizeInBytes);
        if (bad != 0) return bad;
        if (!mono) return stream.playAll(audioData, offsetInBytes, sizeInBytes);
        byte[] stereo = new byte[2 * sizeInBytes];
        for (int i = 0; i < sizeInBytes; i += 2) {
            stereo[2 * i] = stereo[2 * i + 2] = audioData[offsetInBytes + i];
            stereo[2 * i + 1] = stereo[2 * i + 3] = audioData[offsetInBytes + i + 1];
        }
        int played = stream.playAll(stereo, 0, stereo.length);
        return played < 0 ? played : played / 2;
    }

    /** Framework method: blocks until all samples are taken. */
    public int write(short[] audioData, int offsetInShorts, int sizeInShorts) {
        if (offsetInShorts < 0 || sizeInShorts < 0 || offsetInShorts + sizeInShorts > audioData.length) {
            return LineStream.ERROR_BAD_VALUE;
        }
        int n = write(LineStream.bytesOf(audioData, offsetInShorts, sizeInShorts), 0, 2 * sizeInShorts);
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
