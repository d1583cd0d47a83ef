package android.media;

/**
 * Stand-in for the Android framework's audio manager, so that the host
 * classes compile and their tests run on a plain Java VM. It is never
 * packaged with the library: on Android the framework provides the class.
 */
public class AudioManager {
    /** A manager with nothing behind it. */
    public AudioManager() {
    }
}
