// A Java string as the test libraries' natives use it: its modified UTF-8
// bytes, empty for null.
#pragma once

#include <jni.h>

#include <string>

namespace vrtest {

inline std::string chars(JNIEnv *env, jstring text) {
    if (!text) return {};
    const char *c = env->GetStringUTFChars(text, nullptr);
    if (!c) return {};
    std::string s(c);
    env->ReleaseStringUTFChars(text, c);
    return s;
}

}  // namespace vrtest
