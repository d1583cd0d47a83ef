// The load hooks: a Java application's System.loadLibrary lands here.
#include <jni.h>

#include "core/jvm.h"
#include "log.h"

// Keeps the VM for the bridges that call into the host from the library's
// side (the Bluetooth link, the audio bridge). Nothing else runs at load.
extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM *vm, void *reserved) {
    (void)reserved;
    log_print(2, "JNI_OnLoad..");
    vr::jni::set_vm(vm);
    void *env = nullptr;
    if (vm->GetEnv(&env, vr::jni::kVersion) != JNI_OK) return JNI_ERR;
    return vr::jni::kVersion;
}

extern "C" JNIEXPORT void JNICALL JNI_OnUnload(JavaVM *vm, void *reserved) {
    (void)vm;
    (void)reserved;
}
