package android.media;

/**
 * Stand-in for the Android framework's audio manager, so that the host
 * classes compile and their tests run on a plain Java VM. It is never
 * packaged with the library: on Android the framework provides the class.
 * Its state (volume, microphone mute, wired headset) is set by tests; a
 * ceiling below the maximum makes a volume that will not go all the way.
 */
public class AudioManager {
    /** The music stream. */
    public static final int STREAM_MUSIC = 3;

    private int volume = 5;
    private int maxVolume = 15;
    private int ceiling = 15;
    private boolean microphoneMute;
    private boolean wiredHeadsetOn = true;
    private int calls;

    /** A manager with its headset plugged in and its volume at 5 of 15. */
    public AudioManager() {
    }

    private synchronized void count() {
        calls++;
    }

    /** Framework method (the stream type is ignored). */
    public void adjustVolume(int direction, int flags) {
        adjustStreamVolume(STREAM_MUSIC, direction, flags);
    }

    /** Framework method: one step up or down, within the ceiling. */
    public synchronized void adjustStreamVolume(int streamType, int direction, int flags) {
        count();
        volume = Math.max(0, Math.min(Math.min(maxVolume, ceiling), volume + Integer.signum(direction)));
    }

    /** Framework method. */
    public synchronized boolean isWiredHeadsetOn() {
        count();
        return wiredHeadsetOn;
    }

    /** Framework method. */
    public synchronized int getStreamMaxVolume(int streamType) {
        count();
        return maxVolume;
    }

    /** Framework method. */
    public synchronized int getStreamVolume(int streamType) {
        count();
        return volume;
    }

    /** Framework method. */
    public synchronized boolean isMicrophoneMute() {
        count();
        return microphoneMute;
    }

    /** Framework method: nothing plays through the stand-in's speaker. */
    public boolean isMusicActive() {
        count();
        return false;
    }

    /** Framework method: the volume, as far as the ceiling lets it go. */
    public synchronized void setStreamVolume(int streamType, int index, int flags) {
        count();
        if (index >= 0 && index <= maxVolume) volume = Math.min(index, ceiling);
    }

    /** Test control: the highest volume the device really reaches. */
    public synchronized void setCeiling(int value) {
        ceiling = value;
        volume = Math.min(volume, ceiling);
    }

    /** Test control. */
    public synchronized void setMicrophoneMute(boolean on) {
        microphoneMute = on;
    }

    /** Test control: plugs or unplugs the wired headset. */
    public synchronized void setWiredHeadsetOn(boolean on) {
        wiredHeadsetOn = on;
    }

    /** Test control. */
    public synchronized void setVolume(int value) {
        volume = value;
    }

    /** Test view: how many framework methods were called. */
    public synchronized int calls() {
        return calls;
    }
}
