// The reader object's fields and the card record it names.
#include "bridge/reader_object.h"

#include <atomic>
#include <cstring>
#include <new>

#include "bridge/jni_support.h"
#include "card/open_cards.h"
#include "core/jvm.h"

namespace vr::bridge {

namespace {

constexpr int kMaxUid = static_cast<int>(sizeof(picc::uid));
// Card type and vendor names are short; a longer text names no card.
constexpr jsize kMaxName = 255;

pthread_rwlock_t records_lock = PTHREAD_RWLOCK_INITIALIZER;

bool look_up(JNIEnv *env, ReaderFields &f) {
    Local<jclass> cls(env, env->FindClass(kReaderClass));
    if (!cls) {
        vr::jni::clear_exception(env);
        return false;
    }
    // Stops at the first missing field, whose lookup left an exception.
    bool found = true;
    const auto field = [&](jfieldID &id, const char *name, const char *signature, bool is_static) {
        if (!found) return;
        id = is_static ? env->GetStaticFieldID(cls.get(), name, signature) : env->GetFieldID(cls.get(), name, signature);
        const bool threw = vr::jni::clear_exception(env);
        found = id != nullptr && !threw;
    };
    field(f.vendor, "vendor", "Ljava/lang/String;", false);
    field(f.type, "type", "Ljava/lang/String;", false);
    field(f.uid, "uid", "[B", false);
    field(f.com_type, "comType", "Ljava/lang/String;", false);
    field(f.error, "error", "I", false);
    field(f.buffer, "buffer", "[B", false);
    field(f.uart_device_name, "uartDeviceName", "Ljava/lang/String;", true);
    field(f.usb_fd, "usbFd", "I", true);
    field(f.audio_manager, "audioManager", "Landroid/media/AudioManager;", true);
    field(f.status, "status", "I", true);
    if (!found) return false;
    f.cls = static_cast<jclass>(env->NewGlobalRef(cls.get()));
    return f.cls != nullptr;
}

// A text field's modified UTF-8 into out (kMaxName + 1 bytes): true with
// *present false for a null text, false for an unusable one.
bool read_name(JNIEnv *env, jobject reader, jfieldID id, char *out, bool *present) {
    Local<jstring> text(env, static_cast<jstring>(env->GetObjectField(reader, id)));
    *present = static_cast<bool>(text);
    if (!text) return true;
    const jsize utf_len = env->GetStringUTFLength(text.get());
    if (utf_len > kMaxName) return false;
    env->GetStringUTFRegion(text.get(), 0, env->GetStringLength(text.get()), out);
    out[utf_len] = 0;
    return !vr::jni::clear_exception(env);
}

}  // namespace

const ReaderFields *reader_fields(JNIEnv *env) {
    static std::atomic<const ReaderFields *> cached{nullptr};
    if (const ReaderFields *f = cached.load(std::memory_order_acquire)) return f;
    auto *made = new (std::nothrow) ReaderFields{};
    if (!made) return nullptr;
    if (!look_up(env, *made)) {
        delete made;
        return nullptr;
    }
    const ReaderFields *expected = nullptr;
    if (cached.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
    // Another thread was first; its fields are the same.
    env->DeleteGlobalRef(made->cls);
    delete made;
    return expected;
}

picc *find_open_card(const unsigned char *uid, int uid_len, const char *type, const char *vendor) {
    if (!uid || uid_len < 1 || uid_len > kMaxUid) return nullptr;
    picc key{};
    std::memcpy(key.uid, uid, static_cast<std::size_t>(uid_len));
    key.uid_len = static_cast<int8_t>(uid_len);
    key.picc_type = const_cast<char *>(type);
    key.vendor = const_cast<char *>(vendor);
    return vr::card::find_open_card(key);
}

picc *reader_card(JNIEnv *env, const ReaderFields &f, jobject reader) {
    Local<jbyteArray> uid(env, static_cast<jbyteArray>(env->GetObjectField(reader, f.uid)));
    if (!uid) return nullptr;
    const jsize n = env->GetArrayLength(uid.get());
    if (n < 1 || n > kMaxUid) return nullptr;
    unsigned char uid_bytes[kMaxUid];
    env->GetByteArrayRegion(uid.get(), 0, n, reinterpret_cast<jbyte *>(uid_bytes));
    char type[kMaxName + 1];
    char vendor[kMaxName + 1];
    bool has_type = false;
    bool has_vendor = false;
    if (!read_name(env, reader, f.type, type, &has_type) || !read_name(env, reader, f.vendor, vendor, &has_vendor))
        return nullptr;
    return find_open_card(uid_bytes, n, has_type ? type : nullptr, has_vendor ? vendor : nullptr);
}

int set_buffer(JNIEnv *env, const ReaderFields &f, jobject reader, const void *bytes, int n) {
    Local<jbyteArray> array(env, new_bytes(env, bytes, n));
    if (!array) return -1;
    env->SetObjectField(reader, f.buffer, array.get());
    return 0;
}

RecordsLock::RecordsLock(Mode mode) {
    if (mode == kExclusive)
        pthread_rwlock_wrlock(&records_lock);
    else
        pthread_rwlock_rdlock(&records_lock);
}

RecordsLock::~RecordsLock() { pthread_rwlock_unlock(&records_lock); }

}  // namespace vr::bridge
