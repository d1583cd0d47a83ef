// JNI resource owners and text conversion.
#include "bridge/jni_support.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "bridge/text.h"
#include "core/jvm.h"

namespace vr::bridge {

UtfChars::UtfChars(JNIEnv *env, jstring text) : env_(env), text_(text) {
    if (!text_) return;
    chars_ = env_->GetStringUTFChars(text_, nullptr);
    if (!chars_) vr::jni::clear_exception(env_);
}

UtfChars::~UtfChars() {
    if (chars_) env_->ReleaseStringUTFChars(text_, chars_);
}

jstring new_text(JNIEnv *env, const char *bytes, std::size_t n) {
    if (!bytes) return nullptr;
    const std::u16string units = utf8_to_utf16(bytes, n);
    jstring text = env->NewString(reinterpret_cast<const jchar *>(units.data()), static_cast<jsize>(units.size()));
    if (!text) vr::jni::clear_exception(env);
    return text;
}

jstring new_text(JNIEnv *env, const char *text) { return text ? new_text(env, text, std::strlen(text)) : nullptr; }

jbyteArray new_bytes(JNIEnv *env, const void *bytes, int n) {
    if (n < 0 || (n > 0 && !bytes)) return nullptr;
    jbyteArray array = env->NewByteArray(n);
    if (!array) {
        vr::jni::clear_exception(env);
        return nullptr;
    }
    if (n > 0) env->SetByteArrayRegion(array, 0, n, static_cast<const jbyte *>(bytes));
    return array;
}

Scratch::Scratch(std::size_t n) : size_(n) {
    if (n > inline_.size()) heap_.reset(new (std::nothrow) unsigned char[n]());
}

ByteArg::ByteArg(JNIEnv *env, jbyteArray array, Direction direction, std::size_t room)
    : env_(env), array_(array), direction_(direction),
      length_(array ? env->GetArrayLength(array) : 0),
      // One more byte than the array holds, so that text() is terminated.
      copy_(std::max(room, static_cast<std::size_t>(length_) + 1)) {
    if (!copy_.usable()) return;
    if (array_ && length_ > 0) env_->GetByteArrayRegion(array_, 0, length_, reinterpret_cast<jbyte *>(copy_.data()));
    usable_ = true;
}

ByteArg::~ByteArg() {
    if (usable_ && array_ && direction_ == kInOut && length_ > 0)
        env_->SetByteArrayRegion(array_, 0, length_, reinterpret_cast<const jbyte *>(copy_.data()));
}

IntArg::IntArg(JNIEnv *env, jintArray array) {
    if (!array) return;
    length_ = env->GetArrayLength(array);
    const int n = std::min(length_, kMax);
    if (n > 0) env->GetIntArrayRegion(array, 0, n, values_.data());
}

}  // namespace vr::bridge
