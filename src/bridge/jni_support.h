// Small owners of JNI resources for the bridge's natives and helpers: a
// local reference, the characters of a Java text, a byte or int array
// argument. Each releases what it holds on every path, so no native leaks
// a reference or returns with an exception it caused still pending.
#pragma once

#include <jni.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vr::bridge {

// A local reference, deleted at scope end.
template <typename T>
class Local {
public:
    Local(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
    ~Local() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    Local(const Local &) = delete;
    Local &operator=(const Local &) = delete;
    [[nodiscard]] T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv *env_;
    T ref_;
};

// The characters of a Java text in modified UTF-8, released at scope end.
// get() is null for a null text or when the VM cannot give them.
class UtfChars {
public:
    UtfChars(JNIEnv *env, jstring text);
    ~UtfChars();
    UtfChars(const UtfChars &) = delete;
    UtfChars &operator=(const UtfChars &) = delete;
    [[nodiscard]] const char *get() const { return chars_; }

private:
    JNIEnv *env_;
    jstring text_;
    const char *chars_ = nullptr;
};

// A new Java text from UTF-8 (malformed bytes become U+FFFD); null for a
// null text or when the VM cannot make it (the exception cleared).
jstring new_text(JNIEnv *env, const char *text);
jstring new_text(JNIEnv *env, const char *bytes, std::size_t n);
// A new Java byte array holding n bytes; null when the VM cannot make it
// (the exception cleared).
jbyteArray new_bytes(JNIEnv *env, const void *bytes, int n);

// Zero-filled native memory: inline when small, on the heap otherwise.
class Scratch {
public:
    // At least n bytes; not usable() when the heap cannot give them.
    explicit Scratch(std::size_t n);
    [[nodiscard]] unsigned char *data() { return heap_ ? heap_.get() : inline_.data(); }
    [[nodiscard]] bool usable() const { return size_ <= inline_.size() || heap_ != nullptr; }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    std::array<unsigned char, 64> inline_{};
    std::unique_ptr<unsigned char[]> heap_;
    std::size_t size_ = 0;
};

// A byte-array argument of a native: the Java array copied into native
// memory of at least `room` bytes (zeros after the array's own bytes), so
// that the card function never reads or writes past it; copied back whole
// at scope end unless the array is input only. The Java array is not
// pinned while the card function runs (it may block for a long time).
class ByteArg {
public:
    enum Direction { kIn, kInOut };
    ByteArg(JNIEnv *env, jbyteArray array, Direction direction, std::size_t room = 0);
    ~ByteArg();
    ByteArg(const ByteArg &) = delete;
    ByteArg &operator=(const ByteArg &) = delete;

    [[nodiscard]] bool present() const { return array_ != nullptr; }
    // The Java array's length (0 without an array).
    [[nodiscard]] int length() const { return length_; }
    [[nodiscard]] unsigned char *data() { return copy_.data(); }
    // The bytes as a text: terminated after the array's own bytes.
    [[nodiscard]] char *text() { return reinterpret_cast<char *>(copy_.data()); }
    // False when the copy could not be made (no memory): refuse the call.
    [[nodiscard]] bool usable() const { return usable_; }

private:
    JNIEnv *env_;
    jbyteArray array_;
    Direction direction_;
    int length_ = 0;
    Scratch copy_;
    bool usable_ = false;
};

// An int-array argument. The natives only read it, so nothing is copied
// back; they read at most its first kMax elements.
class IntArg {
public:
    static constexpr int kMax = 8;
    IntArg(JNIEnv *env, jintArray array);

    [[nodiscard]] int length() const { return length_; }
    // True when the array holds at least n elements.
    [[nodiscard]] bool holds(int n) const { return length_ >= n; }
    [[nodiscard]] jint operator[](int i) const { return values_[static_cast<std::size_t>(i)]; }

private:
    int length_ = 0;
    std::array<jint, kMax> values_{};
};

}  // namespace vr::bridge
