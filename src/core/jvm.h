// The Java VM the library runs in (when a Java application loaded it) and
// the calling thread's JNI environment. The load hook stores the VM here;
// the Bluetooth link and the audio bridge call into the host through it.
#pragma once

#include <jni.h>

namespace vr::jni {

// JNI version the library asks the VM for.
constexpr jint kVersion = JNI_VERSION_1_6;

// Stores the VM handle in every holder of the global record that needs it.
void set_vm(JavaVM *vm);
// The stored VM, or null when no Java VM loaded the library.
JavaVM *vm();
// The calling thread's environment, or null when there is no VM or the
// thread is not attached to it.
JNIEnv *current_env();

// Attaches a thread the library created itself for the lifetime of the
// object, and detaches it at the end when (and only when) this object did
// the attaching. env() is null when there is no VM or attaching failed.
class AttachedThread {
public:
    explicit AttachedThread(const char *thread_name);
    ~AttachedThread();
    AttachedThread(const AttachedThread &) = delete;
    AttachedThread &operator=(const AttachedThread &) = delete;
    [[nodiscard]] JNIEnv *env() const { return env_; }

private:
    JNIEnv *env_ = nullptr;
    bool attached_here_ = false;
};

// Clears an exception the last JNI call left pending; true when there was
// one. Every caller of a host method or lookup uses it so that no JNI call
// runs, and no native returns, with an exception it caused still pending.
bool clear_exception(JNIEnv *env);

// Holders of global references in the global record (the host's audio
// manager, the host object of the Bluetooth link) are written once, by
// whichever thread comes first, and read by any thread.
//
// Keeps a global reference to object in the holder unless it holds one
// already: true when it holds one afterwards.
bool keep_global_ref(JNIEnv *env, void **holder, jobject object);
// What the holder holds, or null.
jobject held_ref(void *const *holder);

// The host's audio manager (s_com.audio_manager), kept once by the host
// classes' system_init for the audio bridge: true when one is kept.
bool keep_audio_manager(JNIEnv *env, jobject manager);
// The kept audio manager (a global reference), or null.
jobject audio_manager();

}  // namespace vr::jni
