// The "android" audio backend: the host's media classes (AudioTrack,
// AudioRecord, AudioManager) through the Java VM; see android_audio.h.
//
// It is built on every platform: on Android it is the default backend, on
// Linux it runs in a Java VM whose media classes are stand-ins (the tests
// carry their samples to a simulated reader). Its calls come from the
// modem's own threads, which the VM does not know: each call finds (or
// makes) the thread's environment, and runs with the modem's wake signal
// blocked so that the signal never interrupts the VM.
#include "android_audio.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "audio/backend.h"
#include "core/errors.h"
#include "core/jvm.h"
#include "core/signals.h"
#include "log.h"

namespace vr::audio {

namespace {

// The framework's constants.
constexpr jint kStreamMusic = 3;
constexpr jint kModeStream = 1;
constexpr jint kSourceMicrophone = 1;
constexpr jint kPlayStereo = 12, kPlayMono = 4;
constexpr jint kRecordStereo = 12, kRecordMono = 16;
constexpr jint kPcm16 = 2, kPcm8 = 3;
constexpr jint kStateInitialised = 1;
constexpr jint kVolumeFlags = 8;
constexpr jint kRaise = 1, kLower = -1;

constexpr uint8_t kMark = ANDROID_AUDIO_MARK;

// ---- threads and the VM

// Whether this thread was attached by the bridge (and so is the bridge's
// to detach). A key destructor detaches a thread that ends attached.
thread_local bool t_attached_here = false;
pthread_key_t g_detach_key;
pthread_once_t g_detach_once = PTHREAD_ONCE_INIT;

void detach_at_exit(void *) {
    if (JavaVM *vm = vr::jni::vm()) vm->DetachCurrentThread();
}

void make_detach_key() { pthread_key_create(&g_detach_key, detach_at_exit); }

JNIEnv *attach_thread(JavaVM *vm) {
    JavaVMAttachArgs args{vr::jni::kVersion, const_cast<char *>("native_thread"), nullptr};
    void *env = nullptr;
    if (vm->AttachCurrentThread(&env, &args) != JNI_OK) return nullptr;
    t_attached_here = true;
    pthread_once(&g_detach_once, make_detach_key);
    pthread_setspecific(g_detach_key, reinterpret_cast<void *>(1));
    return static_cast<JNIEnv *>(env);
}

// Detaches the calling thread when the bridge attached it: the modem's
// threads park (and may end) after releasing their stream.
void detach_if_attached_here() {
    if (!t_attached_here) return;
    if (JavaVM *vm = vr::jni::vm()) vm->DetachCurrentThread();
    t_attached_here = false;
    pthread_setspecific(g_detach_key, nullptr);
}

JNIEnv *local_env() {
    ModemSignalBlock quiet;
    JavaVM *vm = vr::jni::vm();
    if (!vm) return nullptr;
    void *env = nullptr;
    const jint rc = vm->GetEnv(&env, vr::jni::kVersion);
    if (rc == JNI_OK) return static_cast<JNIEnv *>(env);
    if (rc != JNI_EDETACHED) return nullptr;  // the version is refused
    return attach_thread(vm);
}

// A call's exception is the call's failure; none is left pending.
bool failed(JNIEnv *env) { return vr::jni::clear_exception(env); }

jobject global(JNIEnv *env, jobject local) {
    if (!local) return nullptr;
    jobject g = env->NewGlobalRef(local);
    env->DeleteLocalRef(local);
    return g;
}

void drop(JNIEnv *env, jobject &ref) {
    if (ref) env->DeleteGlobalRef(ref);
    ref = nullptr;
}

// ---- streams

struct Stream {
    const char *class_name;
    jclass cls = nullptr;
    jobject object = nullptr;
    jbyteArray array = nullptr;
    jmethodID min_buffer_size = nullptr, construct = nullptr, get_state = nullptr, get_flow_state = nullptr;
    jmethodID start = nullptr, stop = nullptr, pause = nullptr, flush = nullptr, release = nullptr;
    jmethodID transfer_shorts = nullptr, transfer_bytes = nullptr, set_stereo_volume = nullptr;
    std::atomic<uint8_t> made{0};
};

struct Method {
    const char *name;
    const char *signature;
    bool is_static;
    jmethodID Stream::*id;
};

Stream g_track{.class_name = "android/media/AudioTrack"};
Stream g_record{.class_name = "android/media/AudioRecord"};

constexpr Method kTrackMethods[] = {
    {"getMinBufferSize", "(III)I", true, &Stream::min_buffer_size},
    {"<init>", "(IIIIII)V", false, &Stream::construct},
    {"setStereoVolume", "(FF)I", false, &Stream::set_stereo_volume},
    {"getPlayState", "()I", false, &Stream::get_flow_state},
    {"getState", "()I", false, &Stream::get_state},
    {"play", "()V", false, &Stream::start},
    {"stop", "()V", false, &Stream::stop},
    {"pause", "()V", false, &Stream::pause},
    {"flush", "()V", false, &Stream::flush},
    {"release", "()V", false, &Stream::release},
    {"write", "([SII)I", false, &Stream::transfer_shorts},
    {"write", "([BII)I", false, &Stream::transfer_bytes},
};

constexpr Method kRecordMethods[] = {
    {"getMinBufferSize", "(III)I", true, &Stream::min_buffer_size},
    {"<init>", "(IIIII)V", false, &Stream::construct},
    {"getRecordingState", "()I", false, &Stream::get_flow_state},
    {"getState", "()I", false, &Stream::get_state},
    {"startRecording", "()V", false, &Stream::start},
    {"stop", "()V", false, &Stream::stop},
    {"release", "()V", false, &Stream::release},
    {"read", "([SII)I", false, &Stream::transfer_shorts},
    {"read", "([BII)I", false, &Stream::transfer_bytes},
};

// Drops every reference of the stream and forgets its methods.
void clear(JNIEnv *env, Stream &s) {
    s.made = 0;
    jobject cls = s.cls, array = s.array;
    drop(env, s.object);
    drop(env, array);
    drop(env, cls);
    s.cls = nullptr;
    s.array = nullptr;
    for (jmethodID *id : {&s.min_buffer_size, &s.construct, &s.get_state, &s.get_flow_state, &s.start, &s.stop,
                          &s.pause, &s.flush, &s.release, &s.transfer_shorts, &s.transfer_bytes,
                          &s.set_stereo_volume})
        *id = nullptr;
}

template <std::size_t N>
bool look_up(JNIEnv *env, Stream &s, const Method (&methods)[N]) {
    s.cls = static_cast<jclass>(global(env, env->FindClass(s.class_name)));
    if (failed(env) || !s.cls) return false;
    s.array = static_cast<jbyteArray>(global(env, env->NewByteArray(ANDROID_AUDIO_ARRAY_SIZE)));
    if (failed(env) || !s.array) return false;
    for (const Method &m : methods) {
        s.*m.id = m.is_static ? env->GetStaticMethodID(s.cls, m.name, m.signature)
                              : env->GetMethodID(s.cls, m.name, m.signature);
        if (failed(env) || !(s.*m.id)) return false;
    }
    return true;
}

jint encoding_for(int bits) { return bits == 16 ? kPcm16 : bits == 8 ? kPcm8 : -1; }

jint min_buffer(JNIEnv *env, const Stream &s, int rate, int mask, int encoding) {
    const jint n = env->CallStaticIntMethod(s.cls, s.min_buffer_size, rate, mask, encoding);
    return failed(env) ? -1 : n;
}

// Keeps a constructed object when its state is "initialised"; otherwise
// releases it.
bool keep_if_usable(JNIEnv *env, Stream &s, jobject local) {
    if (failed(env) || !local) return false;
    s.object = global(env, local);
    if (!s.object) return false;
    const jint state = env->CallIntMethod(s.object, s.get_state);
    if (!failed(env) && state == kStateInitialised) return true;
    env->CallVoidMethod(s.object, s.release);
    failed(env);
    return false;
}

// The stream's env for an operation: null unless the stream is made.
JNIEnv *env_for(const Stream &s) { return s.made.load() == kMark ? local_env() : nullptr; }

int call_void(Stream &s, jmethodID Stream::*method) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(s);
    if (!env || !(s.*method)) return -1;
    env->CallVoidMethod(s.object, s.*method);
    return failed(env) ? -1 : 0;
}

int call_int(Stream &s, jmethodID Stream::*method) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(s);
    if (!env) return -1;
    const jint value = env->CallIntMethod(s.object, s.*method);
    return failed(env) ? -1 : value;
}

int destroy(Stream &s) {
    ModemSignalBlock quiet;
    JNIEnv *env = local_env();
    if (!env) return -1;
    if (s.object && s.release) {
        env->CallVoidMethod(s.object, s.release);
        failed(env);
    }
    clear(env, s);
    return 0;
}

// Copies n bytes (at most the array's size) in or out around one call of
// the stream's transfer method.
int transfer_bytes(Stream &s, void *bytes, int n, bool out) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(s);
    if (!env || !bytes || n < 0) return -1;
    n = std::min(n, ANDROID_AUDIO_ARRAY_SIZE);
    if (out) {
        env->SetByteArrayRegion(s.array, 0, n, static_cast<const jbyte *>(bytes));
        if (failed(env)) return -1;
    }
    const jint moved = env->CallIntMethod(s.object, s.transfer_bytes, s.array, 0, n);
    if (failed(env) || moved < 0 || moved > n) return -1;
    if (!out) {
        env->GetByteArrayRegion(s.array, 0, moved, static_cast<jbyte *>(bytes));
        if (failed(env)) return -1;
    }
    return moved;
}

int transfer_shorts(Stream &s, jshortArray samples, int n) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(s);
    if (!env || !samples || n < 0) return -1;
    const jint moved = env->CallIntMethod(s.object, s.transfer_shorts, samples, 0, n);
    return failed(env) ? -1 : moved;
}

// ---- the audio manager

struct Manager {
    std::mutex m;
    jclass cls = nullptr;
    jmethodID adjust_volume = nullptr, adjust_stream_volume = nullptr, is_wired_headset_on = nullptr;
    jmethodID get_stream_max_volume = nullptr, get_stream_volume = nullptr, is_microphone_mute = nullptr;
    jmethodID is_music_active = nullptr, set_stream_volume = nullptr;
    std::atomic<bool> known{false};
};

Manager &manager() {
    static Manager *m = new Manager;  // never destroyed: threads outlive exit
    return *m;
}

struct ManagerMethod {
    const char *name;
    const char *signature;
    jmethodID Manager::*id;
};

constexpr ManagerMethod kManagerMethods[] = {
    {"adjustVolume", "(II)V", &Manager::adjust_volume},
    {"adjustStreamVolume", "(III)V", &Manager::adjust_stream_volume},
    {"isWiredHeadsetOn", "()Z", &Manager::is_wired_headset_on},
    {"getStreamMaxVolume", "(I)I", &Manager::get_stream_max_volume},
    {"getStreamVolume", "(I)I", &Manager::get_stream_volume},
    {"isMicrophoneMute", "()Z", &Manager::is_microphone_mute},
    {"isMusicActive", "()Z", &Manager::is_music_active},
    {"setStreamVolume", "(III)V", &Manager::set_stream_volume},
};

int manager_init(JNIEnv *env) {
    if (!env) return -1;
    Manager &m = manager();
    std::lock_guard hold(m.m);
    if (m.known) return 0;
    jclass cls = static_cast<jclass>(global(env, env->FindClass("android/media/AudioManager")));
    if (failed(env) || !cls) return -1;
    for (const ManagerMethod &method : kManagerMethods) {
        m.*method.id = env->GetMethodID(cls, method.name, method.signature);
        if (failed(env) || !(m.*method.id)) {
            env->DeleteGlobalRef(cls);
            return -1;
        }
    }
    m.cls = cls;
    m.known = true;
    return 0;
}

// The environment for a manager call, with the class known: null (errno
// -60) without one.
JNIEnv *manager_env() {
    JNIEnv *env = local_env();
    if (!env || (!manager().known && manager_init(env) != 0)) {
        errno = kEHostLookup;
        return nullptr;
    }
    return env;
}

// The single calls. Without the host's manager instance the getters return
// -1 and the setters do nothing.
void do_adjustStreamVolume(JNIEnv *env, jint direction) {
    if (jobject am = vr::jni::audio_manager()) {
        env->CallVoidMethod(am, manager().adjust_stream_volume, kStreamMusic, direction, kVolumeFlags);
        failed(env);
    }
}

void do_setStreamVolume(JNIEnv *env, jint value) {
    if (jobject am = vr::jni::audio_manager()) {
        env->CallVoidMethod(am, manager().set_stream_volume, kStreamMusic, value, kVolumeFlags);
        failed(env);
    }
}

int do_int_query(JNIEnv *env, jmethodID Manager::*method) {
    jobject am = vr::jni::audio_manager();
    if (!am) return -1;
    const jint value = env->CallIntMethod(am, manager().*method, kStreamMusic);
    return failed(env) ? -1 : value;
}

int do_bool_query(JNIEnv *env, jmethodID Manager::*method) {
    jobject am = vr::jni::audio_manager();
    if (!am) return -1;
    const jboolean value = env->CallBooleanMethod(am, manager().*method);
    return failed(env) ? -1 : value ? 1 : 0;
}

int do_getStreamVolume(JNIEnv *env) { return do_int_query(env, &Manager::get_stream_volume); }
int do_getStreamMaxVolume(JNIEnv *env) { return do_int_query(env, &Manager::get_stream_max_volume); }

// A thread that holds no stream (the modem's jack monitor, a caller asking
// for the volume) is attached for the one call only, so that it never
// parks or ends attached.
template <typename F>
int with_manager(F &&f) {
    ModemSignalBlock quiet;
    const bool attached_before = t_attached_here;
    JNIEnv *env = manager_env();
    const int rc = env ? f(env) : -1;
    if (!attached_before) {
        const int code = errno;
        detach_if_attached_here();
        errno = code;
    }
    return rc;
}

// ---- the backend's slots

Stream &stream_of(int direction) { return direction == kPlayback ? g_track : g_record; }

int android_init(int direction, int channels, int rate, int frames) {
    return direction == kPlayback ? android_track_init(channels, 16, rate, frames)
                                  : android_record_init(channels, 16, rate, frames);
}

int android_start(int direction) {
    return direction == kPlayback ? android_track_play() : android_record_start_record();
}

// Stopping drops what was queued: a paused and flushed track, a stopped
// record stream.
int android_stop(int direction) {
    if (direction == kRecord) return android_record_stop();
    if (android_track_pause() != 0) return -1;
    android_track_flush();
    return android_track_stop();
}

int android_read(int16_t *samples, int count) {
    const int n = android_record_read_char(samples, std::min(count, ANDROID_AUDIO_ARRAY_SIZE / 2) * 2);
    return n < 0 ? -1 : n / 2;
}

int android_write(const int16_t *samples, int count) {
    const int n = android_track_write_char(samples, std::min(count, ANDROID_AUDIO_ARRAY_SIZE / 2) * 2);
    return n < 0 ? -1 : n / 2;
}

void android_uninit(int direction) {
    if (stream_of(direction).made.load() == kMark) {
        android_stop(direction);
        if (direction == kPlayback) android_track_destroy();
        else android_record_destroy();
    }
    detach_if_attached_here();
}

int android_set_volume(int value) { return audio_manager_setvol(value) == 0 ? 0 : -1; }

// The manager answers -1 without its instance; the modem reads that as
// "unknown".
int android_microphone_muted() {
    const int muted = audio_manager_micmuted();
    return muted < 0 ? -1 : muted ? 1 : 0;
}

int android_headset() {
    const int on = audio_manager_headseton();
    return on < 0 ? -1 : on ? 1 : 0;
}

}  // namespace

const Backend kAndroidBackend = {
    .name = "android",
    .init = android_init,
    .start = android_start,
    .stop = android_stop,
    .read = android_read,
    .write = android_write,
    .uninit = android_uninit,
    .volume = audio_manager_getvol,
    .max_volume = audio_manager_getmaxvol,
    .set_volume = android_set_volume,
    .microphone_muted = android_microphone_muted,
    .headset = android_headset,
};

}  // namespace vr::audio

using namespace vr::audio;
using vr::ModemSignalBlock;

VR_API JNIEnv *android_local_jnienv(void) { return local_env(); }

VR_API int android_audio_init(void) { return 0; }

// Drops the manager's class reference too: nothing the bridge made
// outlives it (the host's manager instance belongs to the host classes).
VR_API int android_audio_destroy(void) {
    ModemSignalBlock quiet;
    Manager &m = manager();
    std::lock_guard hold(m.m);
    if (!m.known) return 0;
    if (JNIEnv *env = local_env()) env->DeleteGlobalRef(m.cls);
    m.cls = nullptr;
    m.known = false;
    return 0;
}

// ---- playback

VR_API int android_track_init(int channels, int bits, int rate, int frames) {
    if (g_track.made.load() == kMark) return 0;
    ModemSignalBlock quiet;
    JNIEnv *env = local_env();
    if (!env) return -1;
    clear(env, g_track);
    const jint mask = channels == 2 ? kPlayStereo : kPlayMono;
    const jint encoding = encoding_for(bits);
    if (encoding < 0 || !look_up(env, g_track, kTrackMethods)) {
        clear(env, g_track);
        return -1;
    }
    const jint min = min_buffer(env, g_track, rate, mask, encoding);
    log_print(2, "audio play minBufferSize :%d", min);
    if (min < 0) {
        clear(env, g_track);
        return -1;
    }
    jobject local = env->NewObject(g_track.cls, g_track.construct, kStreamMusic, rate, mask, encoding,
                                   std::max(frames, min) * 2, kModeStream);
    if (!keep_if_usable(env, g_track, local)) {
        clear(env, g_track);
        return -1;
    }
    g_track.made = kMark;
    return 0;
}

VR_API int android_track_destroy(void) { return destroy(g_track); }
VR_API int android_track_play(void) { return call_void(g_track, &Stream::start); }
VR_API int android_track_stop(void) { return call_void(g_track, &Stream::stop); }
VR_API int android_track_pause(void) { return call_void(g_track, &Stream::pause); }
VR_API int android_track_flush(void) { return call_void(g_track, &Stream::flush); }
VR_API int android_track_release(void) { return call_void(g_track, &Stream::release); }
VR_API int android_track_get_state(void) { return call_int(g_track, &Stream::get_state); }
VR_API int android_track_get_play_state(void) { return call_int(g_track, &Stream::get_flow_state); }

VR_API int android_track_get_min_buffer_size(int rate, int mask, int encoding) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(g_track);
    return env ? min_buffer(env, g_track, rate, mask, encoding) : -1;
}

VR_API int android_track_set_stereo_volume(float left, float right) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(g_track);
    if (!env) return -1;
    const jint rc = env->CallIntMethod(g_track.object, g_track.set_stereo_volume, left, right);
    return failed(env) ? -1 : rc;
}

VR_API int android_track_write_char(const void *bytes, int n) {
    return transfer_bytes(g_track, const_cast<void *>(bytes), n, true);
}

VR_API int android_track_write_short(jshortArray samples, int n) { return transfer_shorts(g_track, samples, n); }

VR_API int android_track_get_latency(int, int, int, int latency) { return latency; }

// ---- recording

VR_API int android_record_init(int channels, int bits, int rate, int frames) {
    if (g_record.made.load() == kMark) return 0;
    ModemSignalBlock quiet;
    JNIEnv *env = local_env();
    if (!env) return -1;
    clear(env, g_record);
    if (audio_manager_init(env) != 0) {
        log_print(1, "error: fail to get AudioManager instance");
        return -1;
    }
    const jint mask = channels == 2 ? kRecordStereo : kRecordMono;
    const jint encoding = encoding_for(bits);
    if (encoding < 0 || !look_up(env, g_record, kRecordMethods)) {
        clear(env, g_record);
        return -1;
    }
    const jint min = min_buffer(env, g_record, rate, mask, encoding);
    log_print(2, "audio record minBufferSize :%d", min);
    if (min < 0) {
        clear(env, g_record);
        return -1;
    }
    jobject local = env->NewObject(g_record.cls, g_record.construct, kSourceMicrophone, rate, mask, encoding,
                                   std::max(frames, min) * 2);
    if (!keep_if_usable(env, g_record, local)) {
        clear(env, g_record);
        return -1;
    }
    g_record.made = kMark;
    return 0;
}

VR_API int android_record_destroy(void) { return destroy(g_record); }
VR_API int android_record_start_record(void) { return call_void(g_record, &Stream::start); }
VR_API int android_record_stop(void) { return call_void(g_record, &Stream::stop); }
VR_API int android_record_release(void) { return call_void(g_record, &Stream::release); }
VR_API int android_record_get_state(void) { return call_int(g_record, &Stream::get_state); }
VR_API int android_record_get_record_state(void) { return call_int(g_record, &Stream::get_flow_state); }

VR_API int android_record_get_min_buffer_size(int rate, int mask, int encoding) {
    ModemSignalBlock quiet;
    JNIEnv *env = env_for(g_record);
    return env ? min_buffer(env, g_record, rate, mask, encoding) : -1;
}

VR_API int android_record_read_char(void *bytes, int n) { return transfer_bytes(g_record, bytes, n, false); }
VR_API int android_record_read_short(jshortArray samples, int n) { return transfer_shorts(g_record, samples, n); }

// ---- the audio manager

VR_API int audio_manager_init(JNIEnv *env) { return manager_init(env); }

VR_API int audio_manager_getvol(void) { return with_manager(do_getStreamVolume); }
VR_API int audio_manager_getmaxvol(void) { return with_manager(do_getStreamMaxVolume); }

VR_API int audio_manager_setmaxvol(void) {
    return with_manager([](JNIEnv *env) {
        const int max = do_getStreamMaxVolume(env);
        if (max < 0) return -1;
        do_setStreamVolume(env, max);
        return 0;
    });
}

VR_API int audio_manager_setvol(int v) {
    return with_manager([v](JNIEnv *env) {
        const int max = do_getStreamMaxVolume(env);
        if (max < 0) return -1;
        if (v > max || v < 0) return vr::fail(vr::kEArg);
        do_setStreamVolume(env, v);
        return 0;
    });
}

VR_API int audio_manager_incvol(void) {
    return with_manager([](JNIEnv *env) {
        do_adjustStreamVolume(env, kRaise);
        return 0;
    });
}

VR_API int audio_manager_decvol(void) {
    return with_manager([](JNIEnv *env) {
        do_adjustStreamVolume(env, kLower);
        return 0;
    });
}

VR_API int audio_manager_micmuted(void) {
    return with_manager([](JNIEnv *env) { return do_bool_query(env, &Manager::is_microphone_mute); });
}

VR_API int audio_manager_headseton(void) {
    return with_manager([](JNIEnv *env) { return do_bool_query(env, &Manager::is_wired_headset_on); });
}
