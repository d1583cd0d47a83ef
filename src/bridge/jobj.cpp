// Reading and writing fields of Java objects by name, for the natives and
// for host code: the generic accessors, their by-kind dispatchers, the
// reader object's own fields and the card record a reader object names.
#include "jobj.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bridge/jni_support.h"
#include "bridge/reader_object.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "core/jvm.h"
#include "picc.h"

namespace {

using vr::bridge::Local;

enum class Kind { kInstance, kStatic };

constexpr const char *kText = "Ljava/lang/String;";
constexpr const char *kBytes = "[B";
constexpr const char *kInt = "I";
constexpr int kMaxUid = 20;

// Sets errno and gives the failure value of the caller's result type.
template <typename T>
T failed(int code, T value) {
    errno = code;
    return value;
}

// The class whose field is meant: for a static field given a class object,
// that class itself; otherwise the object's class.
jclass class_for(JNIEnv *env, jobject obj, Kind kind) {
    jclass cls = env->GetObjectClass(obj);
    if (kind == Kind::kStatic && cls) {
        Local<jclass> meta(env, env->GetObjectClass(cls));
        if (env->IsSameObject(cls, meta.get())) {
            env->DeleteLocalRef(cls);
            return static_cast<jclass>(env->NewLocalRef(obj));
        }
    }
    return cls;
}

// A field of an object (or of its class) looked up by name and signature.
// Not ok() when the lookup fails; errno tells why: -24 for a missing
// environment, object or name, -60 for a missing class or field.
class Field {
public:
    Field(JNIEnv *env, jobject obj, const char *name, const char *signature, Kind kind)
        : env_(env), obj_(obj), kind_(kind), cls_(env, env && obj && name ? class_for(env, obj, kind) : nullptr) {
        if (!env || !obj || !name) {
            errno = vr::kEArg;
            return;
        }
        if (!cls_) {
            vr::jni::clear_exception(env);
            errno = vr::kEHostLookup;
            return;
        }
        id_ = kind == Kind::kStatic ? env->GetStaticFieldID(cls_.get(), name, signature)
                                    : env->GetFieldID(cls_.get(), name, signature);
        if (vr::jni::clear_exception(env) || !id_) {
            id_ = nullptr;
            errno = vr::kEHostLookup;
        }
    }
    [[nodiscard]] bool ok() const { return id_ != nullptr; }

    [[nodiscard]] jobject get_object() const {
        return kind_ == Kind::kStatic ? env_->GetStaticObjectField(cls_.get(), id_) : env_->GetObjectField(obj_, id_);
    }
    void set_object(jobject value) const {
        if (kind_ == Kind::kStatic)
            env_->SetStaticObjectField(cls_.get(), id_, value);
        else
            env_->SetObjectField(obj_, id_, value);
    }
    [[nodiscard]] jint get_int() const {
        return kind_ == Kind::kStatic ? env_->GetStaticIntField(cls_.get(), id_) : env_->GetIntField(obj_, id_);
    }
    void set_int(jint value) const {
        if (kind_ == Kind::kStatic)
            env_->SetStaticIntField(cls_.get(), id_, value);
        else
            env_->SetIntField(obj_, id_, value);
    }

private:
    JNIEnv *env_;
    jobject obj_;
    Kind kind_;
    Local<jclass> cls_;
    jfieldID id_ = nullptr;
};

using Text = vr::CMemory<char>;

// A text field into *out (null for a null text): false, errno set, when the
// field cannot be read or copied.
bool read_text(JNIEnv *env, jobject obj, const char *name, Kind kind, Text *out) {
    out->reset();
    Field f(env, obj, name, kText, kind);
    if (!f.ok()) return false;
    Local<jstring> text(env, static_cast<jstring>(f.get_object()));
    if (!text) return true;
    vr::bridge::UtfChars chars(env, text.get());
    if (!chars.get()) return failed(vr::kEHostLookup, false);
    out->reset(strdup(chars.get()));
    return *out ? true : failed(vr::kENoMem, false);
}

// The generic getter: a null text counts as a missing value.
char *get_text(JNIEnv *env, jobject obj, const char *name, Kind kind) {
    Text text;
    if (!read_text(env, obj, name, kind, &text)) return nullptr;
    if (!text) errno = vr::kEHostLookup;
    return text.release();
}

int set_text(JNIEnv *env, jobject obj, const char *name, const char *text, Kind kind) {
    Field f(env, obj, name, kText, kind);
    if (!f.ok()) return -1;
    Local<jstring> value(env, vr::bridge::new_text(env, text));
    if (text && !value) return failed(vr::kENoMem, -1);
    f.set_object(value.get());
    return 0;
}

int get_int(JNIEnv *env, jobject obj, const char *name, Kind kind) {
    Field f(env, obj, name, kInt, kind);
    return f.ok() ? f.get_int() : -1;
}

int set_int(JNIEnv *env, jobject obj, const char *name, int value, Kind kind) {
    Field f(env, obj, name, kInt, kind);
    if (!f.ok()) return -1;
    f.set_int(value);
    return 0;
}

int get_bytes(JNIEnv *env, jobject obj, const char *name, unsigned char **out, int *size, Kind kind) {
    if (!out || !size) return failed(vr::kEArg, -1);
    Field f(env, obj, name, kBytes, kind);
    if (!f.ok()) return -1;
    Local<jbyteArray> array(env, static_cast<jbyteArray>(f.get_object()));
    if (!array) return failed(vr::kEHostLookup, -1);
    const jsize n = env->GetArrayLength(array.get());
    // At least one byte, so that an empty array still gives a copy.
    auto *copy = static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(n) + 1));
    if (!copy) return failed(vr::kENoMem, -1);
    env->GetByteArrayRegion(array.get(), 0, n, reinterpret_cast<jbyte *>(copy));
    *out = copy;
    *size = n;
    return 0;
}

// Stores a new array of n bytes (n = 0: an empty one) in the field.
int put_bytes(JNIEnv *env, jobject obj, const char *name, const unsigned char *bytes, int n, Kind kind) {
    Field f(env, obj, name, kBytes, kind);
    if (!f.ok()) return -1;
    Local<jbyteArray> array(env, vr::bridge::new_bytes(env, bytes, n));
    if (!array) return failed(vr::kENoMem, -1);
    f.set_object(array.get());
    return 0;
}

int set_bytes(JNIEnv *env, jobject obj, const char *name, const unsigned char *bytes, int n, Kind kind) {
    if (!bytes || n <= 0) return failed(vr::kEArg, -1);
    return put_bytes(env, obj, name, bytes, n, kind);
}

jobject get_object(JNIEnv *env, jobject obj, const char *name, const char *signature, Kind kind) {
    if (!signature) return failed<jobject>(vr::kEArg, nullptr);
    Field f(env, obj, name, signature, kind);
    if (!f.ok()) return nullptr;
    jobject value = f.get_object();
    if (!value) errno = vr::kEHostLookup;
    return value;
}

// The by-kind dispatchers' argument check: the kind, or no kind (errno
// -24) for a missing environment or name or an unknown kind.
bool kind_of(JNIEnv *env, const char *name, int kind, Kind *out) {
    if (!env || !name || (kind != 0 && kind != 1)) {
        errno = vr::kEArg;
        return false;
    }
    *out = kind == 0 ? Kind::kInstance : Kind::kStatic;
    return true;
}

// The reader-object helpers' result: -24 without an object, -1 when the
// generic accessor failed.
int reader_result(JNIEnv *env, jobject obj, int rc) {
    if (!env || !obj) return vr::kEArg;
    return rc == 0 ? 0 : -1;
}

int copy_text_field(JNIEnv *env, jobject obj, const char *name, Kind kind, char *out, int capacity) {
    if (!env || !obj || !out || capacity <= 0) return vr::kEArg;
    Text text(get_text(env, obj, name, kind));
    if (!text) return -1;
    const std::size_t n = std::min(std::strlen(text.get()), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(out, text.get(), n);
    out[n] = 0;
    return 0;
}

}  // namespace

VR_API char *jobj_get_string(JNIEnv *env, jobject obj, const char *name) {
    return get_text(env, obj, name, Kind::kInstance);
}
VR_API int jobj_set_string(JNIEnv *env, jobject obj, const char *name, const char *text) {
    return set_text(env, obj, name, text, Kind::kInstance);
}
VR_API char *jobj_get_static_string(JNIEnv *env, jobject obj, const char *name) {
    return get_text(env, obj, name, Kind::kStatic);
}
VR_API int jobj_set_static_string(JNIEnv *env, jobject obj, const char *name, const char *text) {
    return set_text(env, obj, name, text, Kind::kStatic);
}
VR_API int jobj_getint(JNIEnv *env, jobject obj, const char *name) { return get_int(env, obj, name, Kind::kInstance); }
VR_API int jobj_setint(JNIEnv *env, jobject obj, const char *name, int value) {
    return set_int(env, obj, name, value, Kind::kInstance);
}
VR_API int jobj_get_static_int(JNIEnv *env, jobject obj, const char *name) {
    return get_int(env, obj, name, Kind::kStatic);
}
VR_API int jobj_set_static_int(JNIEnv *env, jobject obj, const char *name, int value) {
    return set_int(env, obj, name, value, Kind::kStatic);
}
VR_API int jobj_getbytes(JNIEnv *env, jobject obj, const char *name, unsigned char **out, int *size) {
    return get_bytes(env, obj, name, out, size, Kind::kInstance);
}
VR_API int jobj_setbytes(JNIEnv *env, jobject obj, const char *name, const unsigned char *bytes, int n) {
    return set_bytes(env, obj, name, bytes, n, Kind::kInstance);
}
VR_API int jobj_get_static_bytes(JNIEnv *env, jobject obj, const char *name, unsigned char **out, int *size) {
    return get_bytes(env, obj, name, out, size, Kind::kStatic);
}
VR_API int jobj_set_static_bytes(JNIEnv *env, jobject obj, const char *name, const unsigned char *bytes, int n) {
    return set_bytes(env, obj, name, bytes, n, Kind::kStatic);
}
VR_API jobject jobj_get_object(JNIEnv *env, jobject obj, const char *name, const char *signature) {
    return get_object(env, obj, name, signature, Kind::kInstance);
}
VR_API jobject jobj_get_static_object(JNIEnv *env, jobject obj, const char *name, const char *signature) {
    return get_object(env, obj, name, signature, Kind::kStatic);
}

VR_API char *jni_getstr(JNIEnv *env, jobject obj, int kind, const char *name) {
    Kind k;
    return kind_of(env, name, kind, &k) ? get_text(env, obj, name, k) : nullptr;
}
VR_API int jni_setstr(JNIEnv *env, jobject obj, int kind, const char *name, const char *text) {
    Kind k;
    return kind_of(env, name, kind, &k) ? set_text(env, obj, name, text, k) : -1;
}
VR_API int jni_getint(JNIEnv *env, jobject obj, int kind, const char *name) {
    Kind k;
    return kind_of(env, name, kind, &k) ? get_int(env, obj, name, k) : -1;
}
VR_API int jni_setint(JNIEnv *env, jobject obj, int kind, const char *name, int value) {
    Kind k;
    return kind_of(env, name, kind, &k) ? set_int(env, obj, name, value, k) : -1;
}
VR_API int jni_getbytes(JNIEnv *env, jobject obj, int kind, const char *name, unsigned char **out) {
    Kind k;
    int size = 0;
    if (!kind_of(env, name, kind, &k) || get_bytes(env, obj, name, out, &size, k) != 0) return -1;
    return size;
}
VR_API int jni_setbytes(JNIEnv *env, jobject obj, int kind, const char *name, const unsigned char *bytes, int n) {
    Kind k;
    return kind_of(env, name, kind, &k) ? set_bytes(env, obj, name, bytes, n, k) : -1;
}
VR_API jobject jni_getobj(JNIEnv *env, jobject obj, int kind, const char *name, const char *signature) {
    Kind k;
    return kind_of(env, name, kind, &k) ? get_object(env, obj, name, signature, k) : nullptr;
}

VR_API char *Jstring2CStr(JNIEnv *env, jstring text) {
    if (!env || !text) return nullptr;
    Local<jclass> string_class(env, env->GetObjectClass(text));
    jmethodID get_bytes_id = env->GetMethodID(string_class.get(), "getBytes", "(Ljava/lang/String;)[B");
    if (vr::jni::clear_exception(env) || !get_bytes_id) return nullptr;
    Local<jstring> charset(env, env->NewStringUTF("UTF-8"));
    if (!charset) {
        vr::jni::clear_exception(env);
        return nullptr;
    }
    Local<jbyteArray> bytes(env, static_cast<jbyteArray>(env->CallObjectMethod(text, get_bytes_id, charset.get())));
    if (vr::jni::clear_exception(env) || !bytes) return nullptr;
    const jsize n = env->GetArrayLength(bytes.get());
    if (n == 0) return nullptr;
    auto *copy = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1));
    if (!copy) return failed<char *>(vr::kENoMem, nullptr);
    env->GetByteArrayRegion(bytes.get(), 0, n, reinterpret_cast<jbyte *>(copy));
    copy[n] = 0;
    return copy;
}

VR_API picc *jobj2picc(JNIEnv *env, jobject reader) {
    if (!env || !reader) return nullptr;
    unsigned char *uid = nullptr;
    int uid_len = 0;
    if (get_bytes(env, reader, "uid", &uid, &uid_len, Kind::kInstance) != 0) return nullptr;
    vr::CMemory<unsigned char> uid_copy(uid);
    // A null type or vendor names a card record without one.
    Text type;
    Text vendor;
    if (!read_text(env, reader, "type", Kind::kInstance, &type) ||
        !read_text(env, reader, "vendor", Kind::kInstance, &vendor))
        return nullptr;
    return vr::bridge::find_open_card(uid, uid_len, type.get(), vendor.get());
}

VR_API int jobj_setvendor(JNIEnv *env, jobject obj, const char *text) {
    return reader_result(env, obj, set_text(env, obj, "vendor", text, Kind::kInstance));
}
VR_API int jobj_settype(JNIEnv *env, jobject obj, const char *text) {
    return reader_result(env, obj, set_text(env, obj, "type", text, Kind::kInstance));
}
VR_API int jobj_setuid(JNIEnv *env, jobject obj, const unsigned char *bytes, int n) {
    if (!env || !obj || (!bytes && n > 0)) return vr::kEArg;
    if (n < 0 || n > kMaxUid) return -1;
    return reader_result(env, obj, put_bytes(env, obj, "uid", bytes, n, Kind::kInstance));
}
VR_API int jobj_setbuff(JNIEnv *env, jobject obj, const unsigned char *bytes, int n) {
    if (!env || !obj || (!bytes && n > 0)) return vr::kEArg;
    if (n < 0) return -1;
    return reader_result(env, obj, put_bytes(env, obj, "buffer", bytes, n, Kind::kInstance));
}
VR_API int jobj_set_status(JNIEnv *env, jobject obj, int value) {
    return reader_result(env, obj, set_int(env, obj, "status", value, Kind::kStatic));
}
VR_API int jobj_set_error(JNIEnv *env, jobject obj, int value) {
    return reader_result(env, obj, set_int(env, obj, "error", value, Kind::kInstance));
}
VR_API int jobj_get_comtype(JNIEnv *env, jobject obj, char *out, int capacity) {
    return copy_text_field(env, obj, "comType", Kind::kInstance, out, capacity);
}
// The serial device's path is a static field of the reader class.
VR_API int jobj_get_comname(JNIEnv *env, jobject obj, char *out, int capacity) {
    return copy_text_field(env, obj, "uartDeviceName", Kind::kStatic, out, capacity);
}
VR_API const char *jobj_get_uartdev(JNIEnv *env, jobject obj) {
    // The copy the library keeps: one per thread, so that concurrent
    // callers never see each other's text.
    thread_local Text kept;
    kept.reset(get_text(env, obj, "uartDeviceName", Kind::kStatic));
    return kept.get();
}
VR_API int jobj_get_usbdev(JNIEnv *env, jobject obj) {
    if (!env || !obj) return vr::kEArg;
    return get_int(env, obj, "usbFd", Kind::kStatic);
}
VR_API jobject jobj_get_manager(JNIEnv *env, jclass cls) {
    if (!env || !cls) return nullptr;
    return get_object(env, cls, "audioManager", "Landroid/media/AudioManager;", Kind::kStatic);
}
