// The Bluetooth link's host object, as the Java bridge hands it over.
#pragma once

#include <jni.h>

namespace vr::port {

// Keeps the reader object as the host object that carries the Bluetooth
// link, unless one is kept already (the first one stays for the process).
void keep_bluetooth_host(JNIEnv *env, jobject reader);

}  // namespace vr::port
