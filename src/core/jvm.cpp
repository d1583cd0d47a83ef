// The Java VM handle, per-thread environments and the global references
// the library keeps.
#include "core/jvm.h"

#include <atomic>

#include "tessil.h"

namespace vr::jni {

namespace {

std::atomic_ref<void *> slot(void *const *holder) { return std::atomic_ref<void *>(*const_cast<void **>(holder)); }

}  // namespace

void set_vm(JavaVM *vm) { slot(&tessil.s_com.android_bluetooth.vm).store(vm, std::memory_order_release); }

JavaVM *vm() { return static_cast<JavaVM *>(slot(&tessil.s_com.android_bluetooth.vm).load(std::memory_order_acquire)); }

JNIEnv *current_env() {
    JavaVM *java_vm = vm();
    if (!java_vm) return nullptr;
    void *env = nullptr;
    if (java_vm->GetEnv(&env, kVersion) != JNI_OK) return nullptr;
    return static_cast<JNIEnv *>(env);
}

AttachedThread::AttachedThread(const char *thread_name) {
    JavaVM *java_vm = vm();
    if (!java_vm) return;
    env_ = current_env();
    if (env_) return;
    JavaVMAttachArgs args{kVersion, const_cast<char *>(thread_name), nullptr};
    void *env = nullptr;
    if (java_vm->AttachCurrentThread(&env, &args) != JNI_OK) return;
    env_ = static_cast<JNIEnv *>(env);
    attached_here_ = true;
}

AttachedThread::~AttachedThread() {
    if (attached_here_) vm()->DetachCurrentThread();
}

bool clear_exception(JNIEnv *env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionClear();
    return true;
}

bool keep_global_ref(JNIEnv *env, void **holder, jobject object) {
    if (slot(holder).load(std::memory_order_acquire)) return true;
    if (!env || !object) return false;
    jobject global = env->NewGlobalRef(object);
    if (!global) return false;
    void *expected = nullptr;
    // Two threads may race here; the one that loses drops its reference.
    if (!slot(holder).compare_exchange_strong(expected, global, std::memory_order_acq_rel))
        env->DeleteGlobalRef(global);
    return true;
}

jobject held_ref(void *const *holder) { return static_cast<jobject>(slot(holder).load(std::memory_order_acquire)); }

bool keep_audio_manager(JNIEnv *env, jobject manager) {
    return keep_global_ref(env, &tessil.s_com.audio_manager.object, manager);
}

jobject audio_manager() { return held_ref(&tessil.s_com.audio_manager.object); }

}  // namespace vr::jni
