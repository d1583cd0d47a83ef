// The host class mobile.rfid.nativelib.Picc: its nine fields, looked up
// once by nativeClassInit, and their getters and setters for host code.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "bridge/jni_support.h"
#include "core/jvm.h"
#include "core/lock.h"
#include "jobj.h"

namespace {

using vr::bridge::Local;

struct PiccFields {
    jfieldID uid, uid_len, cid, slot_num, vendor, type, protocol, status, next_pointer;
};

constinit PiccFields fields{};
// Set once every identifier above is written.
constinit std::atomic<bool> fields_ready{false};
pthread_mutex_t init_lock = PTHREAD_MUTEX_INITIALIZER;

// The identifiers, or null before nativeClassInit succeeded or without an
// environment and object.
const PiccFields *usable(JNIEnv *env, jobject obj) {
    if (!env || !obj || !fields_ready.load(std::memory_order_acquire)) return nullptr;
    return &fields;
}

char *get_text(JNIEnv *env, jobject obj, jfieldID PiccFields::*field) {
    const PiccFields *f = usable(env, obj);
    if (!f) return nullptr;
    Local<jstring> text(env, static_cast<jstring>(env->GetObjectField(obj, f->*field)));
    vr::bridge::UtfChars chars(env, text.get());
    return chars.get() ? strdup(chars.get()) : nullptr;
}

void set_text(JNIEnv *env, jobject obj, jfieldID PiccFields::*field, const char *text) {
    const PiccFields *f = usable(env, obj);
    if (!f || !text) return;
    Local<jstring> value(env, vr::bridge::new_text(env, text));
    if (value) env->SetObjectField(obj, f->*field, value.get());
}

}  // namespace

VR_API int nativeClassInit(JNIEnv *env) {
    if (!env) return -1;
    if (fields_ready.load(std::memory_order_acquire)) return 0;
    Local<jclass> cls(env, env->FindClass("mobile/rfid/nativelib/Picc"));
    if (!cls) {
        vr::jni::clear_exception(env);
        return -1;
    }
    PiccFields found{};
    bool ok = true;
    const auto field = [&](jfieldID &id, const char *name, const char *signature) {
        if (!ok) return;
        id = env->GetFieldID(cls.get(), name, signature);
        const bool threw = vr::jni::clear_exception(env);
        ok = id != nullptr && !threw;
    };
    field(found.uid, "picc_uid", "Ljava/lang/String;");
    field(found.uid_len, "picc_uid_len", "I");
    field(found.cid, "picc_cid", "C");
    field(found.slot_num, "picc_slot_num", "C");
    field(found.vendor, "picc_vendor", "Ljava/lang/String;");
    field(found.type, "picc_type", "Ljava/lang/String;");
    field(found.protocol, "picc_protocol", "Ljava/lang/String;");
    field(found.status, "picc_status", "Ljava/lang/String;");
    field(found.next_pointer, "nextPointer", "J");
    if (!ok) return -1;
    vr::MutexHold hold(&init_lock);
    if (!fields_ready.load(std::memory_order_relaxed)) {
        fields = found;
        fields_ready.store(true, std::memory_order_release);
    }
    return 0;
}

VR_API char *getPicc_uid(JNIEnv *env, jobject obj) { return get_text(env, obj, &PiccFields::uid); }
VR_API char *getPicc_vendor(JNIEnv *env, jobject obj) { return get_text(env, obj, &PiccFields::vendor); }
VR_API char *getPicc_type(JNIEnv *env, jobject obj) { return get_text(env, obj, &PiccFields::type); }
VR_API char *getPicc_protocol(JNIEnv *env, jobject obj) { return get_text(env, obj, &PiccFields::protocol); }
VR_API char *getPicc_status(JNIEnv *env, jobject obj) { return get_text(env, obj, &PiccFields::status); }

VR_API int getPicc_uid_len(JNIEnv *env, jobject obj) {
    const PiccFields *f = usable(env, obj);
    return f ? env->GetIntField(obj, f->uid_len) : -1;
}
VR_API unsigned char getPicc_cid(JNIEnv *env, jobject obj) {
    const PiccFields *f = usable(env, obj);
    return f ? static_cast<unsigned char>(env->GetCharField(obj, f->cid)) : 255;
}
VR_API unsigned char getPicc_slot_num(JNIEnv *env, jobject obj) {
    const PiccFields *f = usable(env, obj);
    return f ? static_cast<unsigned char>(env->GetCharField(obj, f->slot_num)) : 255;
}
VR_API int64_t getNextPointer(JNIEnv *env, jobject obj) {
    const PiccFields *f = usable(env, obj);
    return f ? env->GetLongField(obj, f->next_pointer) : -1;
}

VR_API void setPicc_uid(JNIEnv *env, jobject obj, const char *text) { set_text(env, obj, &PiccFields::uid, text); }
VR_API void setPicc_vendor(JNIEnv *env, jobject obj, const char *text) {
    set_text(env, obj, &PiccFields::vendor, text);
}
VR_API void setPicc_type(JNIEnv *env, jobject obj, const char *text) { set_text(env, obj, &PiccFields::type, text); }
VR_API void setPicc_protocol(JNIEnv *env, jobject obj, const char *text) {
    set_text(env, obj, &PiccFields::protocol, text);
}
VR_API void setPicc_status(JNIEnv *env, jobject obj, const char *text) {
    set_text(env, obj, &PiccFields::status, text);
}
VR_API void setPicc_uid_len(JNIEnv *env, jobject obj, int value) {
    if (const PiccFields *f = usable(env, obj)) env->SetIntField(obj, f->uid_len, value);
}
VR_API void setPicc_cid(JNIEnv *env, jobject obj, unsigned char value) {
    if (const PiccFields *f = usable(env, obj)) env->SetCharField(obj, f->cid, value);
}
VR_API void setPicc_slot_num(JNIEnv *env, jobject obj, unsigned char value) {
    if (const PiccFields *f = usable(env, obj)) env->SetCharField(obj, f->slot_num, value);
}
VR_API void setNextPointer(JNIEnv *env, jobject obj, int32_t value) {
    if (const PiccFields *f = usable(env, obj)) env->SetLongField(obj, f->next_pointer, static_cast<jlong>(value));
}
