// The natives of com.vantel.rfid.Accessory, Service and Property. They work
// on one current accessory, kept here with the link's name; Service and
// Property objects carry only an index (a service slot, a combined
// property id) into it.
#include <jni.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "accessory.h"
#include "bridge/jni_support.h"
#include "core/errors.h"
#include "core/jvm.h"
#include "jobj.h"
#include "log.h"
#include "port/bluetooth_host.h"

namespace {

using vr::bridge::Local;

constexpr std::size_t kComTypeSize = 128;

// The current accessory and the link it was opened on. Natives run on any
// thread: each holds the lock for its whole run, so no native uses an
// accessory another one closes.
struct Current {
    std::mutex lock;
    accessory *acc = nullptr;
    char com_type[kComTypeSize] = "sound";
};

Current &current() {
    static Current c;
    return c;
}

using Hold = std::lock_guard<std::mutex>;

// One number of the current accessory, read under its lock (the getters
// answer a missing accessory themselves).
int current_number(int (*get)(const accessory *)) {
    Current &c = current();
    Hold hold(c.lock);
    return get(c.acc);
}

// One text of the current accessory as a Java string; null without one.
jstring current_text(JNIEnv *env, const char *(*get)(const accessory *)) {
    Current &c = current();
    Hold hold(c.lock);
    return c.acc ? vr::bridge::new_text(env, get(c.acc)) : nullptr;
}

int code_or(int fallback) { return errno < 0 ? errno : fallback; }

// The index a Service or Property object carries; negative (errno set) when
// it cannot be read.
int index_field(JNIEnv *env, jobject obj, const char *name) {
    if (!env || !obj) return errno = vr::kEArg, -1;
    return jobj_getint(env, obj, name);
}

service *service_of(JNIEnv *env, jobject obj, int *code) {
    const int index = index_field(env, obj, "serviceId");
    if (index < 0) {
        *code = code_or(vr::kEArg);
        return nullptr;
    }
    service *svc = accessory_getsvcbyid(current().acc, index);
    *code = svc ? 0 : vr::kENoService;
    return svc;
}

property *property_of(JNIEnv *env, jobject obj, int *code) {
    const int id = index_field(env, obj, "propertyId");
    if (id < 0) {
        *code = code_or(vr::kEArg);
        return nullptr;
    }
    property *ppe = accessory_getppebyid(current().acc, id);
    *code = ppe ? 0 : vr::kENoProperty;
    return ppe;
}

// The control natives of services and properties: no code is defined, so
// -22 for a record that exists, else the code for its absence.
template <typename Record>
int no_control_code(JNIEnv *env, jobject obj, Record *(*record_of)(JNIEnv *, jobject, int *)) {
    Hold hold(current().lock);
    int code = 0;
    return record_of(env, obj, &code) ? vr::kENoCmd : code;
}

// A text for the host, or null with the reason in the object's "error".
jstring text_or_error(JNIEnv *env, jobject obj, const char *text, int code) {
    if (text) return vr::bridge::new_text(env, text);
    jobj_setint(env, obj, "error", code < 0 ? code : vr::kEArg);
    return nullptr;
}

// The name of the service or property the host object names.
template <typename Record>
jstring name_of(JNIEnv *env, jobject obj, Record *(*record_of)(JNIEnv *, jobject, int *),
                const char *(*name)(const Record *)) {
    Hold hold(current().lock);
    int code = 0;
    const Record *record = record_of(env, obj, &code);
    return text_or_error(env, obj, record ? name(record) : nullptr, code);
}

// A number of that service or property, or the code for its absence.
template <typename Record>
jint number_of(JNIEnv *env, jobject obj, Record *(*record_of)(JNIEnv *, jobject, int *), int (*number)(const Record *)) {
    Hold hold(current().lock);
    int code = 0;
    const Record *record = record_of(env, obj, &code);
    return record ? number(record) : code;
}

// The link's further argument as its driver reads it: the serial device's
// path (the class's static uartDeviceName) or the descriptor of a USB
// device (-1: looked up by its ids); the others read none.
accessory *open_on_link(JNIEnv *env, jobject obj, const char *com) {
    if (strncasecmp(com, "uart", 4) == 0) {
        Local<jstring> path_text(env, static_cast<jstring>(
                                          jobj_get_static_object(env, obj, "uartDeviceName", "Ljava/lang/String;")));
        vr::bridge::UtfChars path(env, path_text.get());
        return accessory_open(com, path.get());
    }
    return accessory_open(com, -1);
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------- Accessory

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_system_1init(JNIEnv *env, jobject obj) {
    if (!env || !obj) return vr::kEArg;
    if (vr::jni::audio_manager()) return 0;
    Local<jclass> cls(env, env->GetObjectClass(obj));
    Local<jobject> manager(env, jobj_get_manager(env, cls.get()));
    if (!manager) return vr::kEHostLookup;
    return vr::jni::keep_audio_manager(env, manager.get()) ? 0 : vr::kEHostLookup;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1init(JNIEnv *, jobject) {
    Current &c = current();
    Hold hold(c.lock);
    c.acc = nullptr;
    std::strcpy(c.com_type, "sound");
    return 0;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1open(JNIEnv *env, jobject obj) {
    if (!env || !obj) return vr::kEArg;
    Current &c = current();
    Hold hold(c.lock);
    // Opening again forgets the previous accessory without closing it.
    c.acc = nullptr;
    if (jobj_get_comtype(env, obj, c.com_type, sizeof c.com_type) != 0) c.com_type[0] = 0;
    vr::port::keep_bluetooth_host(env, obj);
    errno = 0;
    c.acc = open_on_link(env, obj, c.com_type);
    return c.acc ? 0 : code_or(vr::kEGeneral);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1close(JNIEnv *, jobject) {
    Current &c = current();
    Hold hold(c.lock);
    const int rc = accessory_close(c.acc, nullptr, nullptr);
    c.acc = nullptr;
    return rc;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1getsvc(JNIEnv *, jobject, jint service_id) {
    Current &c = current();
    Hold hold(c.lock);
    if (!c.acc) return vr::kEArg;
    const service *svc = accessory_getsvc(c.acc, service_id);
    return svc ? accessory_svcid(c.acc, svc) : vr::kENoService;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1svccnt(JNIEnv *, jobject) {
    return current_number(accessory_svccnt);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1getppe(JNIEnv *, jobject, jint service_id,
                                                                       jint property_id) {
    Current &c = current();
    Hold hold(c.lock);
    if (!c.acc) return vr::kEArg;
    const property *ppe = accessory_getppe(c.acc, service_id, property_id);
    return ppe ? accessory_ppeid(c.acc, ppe) : vr::kENoProperty;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1ppecnt(JNIEnv *, jobject, jint service_id) {
    Current &c = current();
    Hold hold(c.lock);
    return accessory_ppecnt(c.acc, service_id);
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_Accessory_accessory_1vendor(JNIEnv *env, jobject) {
    return current_text(env, accessory_vendor);
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_Accessory_accessory_1product(JNIEnv *env, jobject) {
    return current_text(env, accessory_product);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1type(JNIEnv *, jobject) {
    return current_number(accessory_type);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1version(JNIEnv *, jobject) {
    return current_number(accessory_version);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1state(JNIEnv *, jobject) {
    return current_number(accessory_state);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1uidlen(JNIEnv *, jobject) {
    return current_number(accessory_uidlen);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1uid(JNIEnv *env, jobject, jbyteArray out) {
    Current &c = current();
    Hold hold(c.lock);
    if (!c.acc) return vr::kEArg;
    if (!out) return vr::kEHostLookup;
    const jsize n = accessory_uidlen(c.acc);
    // The uid never goes past the caller's array.
    if (env->GetArrayLength(out) < n) return vr::kEArg;
    env->SetByteArrayRegion(out, 0, n, reinterpret_cast<const jbyte *>(accessory_uid(c.acc)));
    return vr::jni::clear_exception(env) ? vr::kEHostLookup : 0;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1ctrl(JNIEnv *env, jobject obj, jint code,
                                                                     jintArray args) {
    // The codes act on the reader link, not on the accessory: they work
    // with no accessory open too (code 1 closes the link after the last
    // accessory was closed).
    Current &c = current();
    Hold hold(c.lock);
    int rc;
    switch (code) {
    case ACCESSORY_CTRL_CLOSE_LINK:
    case ACCESSORY_CTRL_POWER: rc = accessory_ctrl(c.acc, code); break;
    case ACCESSORY_CTRL_POWEROFF_DELAY: {
        const vr::bridge::IntArg a(env, args);
        if (!a.holds(1)) return vr::kEArg;
        rc = accessory_ctrl(c.acc, code, static_cast<int>(a[0]));
        break;
    }
    default: return vr::kENoCmd;
    }
    jobj_setbuff(env, obj, nullptr, 0);
    return rc;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Accessory_accessory_1ctrl_1ex1(JNIEnv *, jobject, jint, jbyteArray) {
    return vr::kENoCmd;
}

// ------------------------------------------------------------------ Service

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_Service_service_1name(JNIEnv *env, jobject obj) {
    return name_of(env, obj, service_of, service_name);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Service_service_1type(JNIEnv *env, jobject obj) {
    return number_of(env, obj, service_of, service_type);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Service_service_1getppe(JNIEnv *env, jobject obj, jint property_id) {
    Current &c = current();
    Hold hold(c.lock);
    int code = 0;
    service *svc = service_of(env, obj, &code);
    if (!svc) return code;
    const property *ppe = service_getppe(svc, property_id);
    return ppe ? accessory_ppeid(c.acc, ppe) : vr::kENoProperty;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Service_service_1ppecnt(JNIEnv *env, jobject obj) {
    return number_of(env, obj, service_of, service_ppecnt);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Service_service_1ctrl(JNIEnv *env, jobject obj, jint, jint) {
    return no_control_code(env, obj, service_of);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Service_service_1ctrl_1ex1(JNIEnv *env, jobject obj, jint, jbyteArray) {
    return no_control_code(env, obj, service_of);
}

// ----------------------------------------------------------------- Property

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_Property_property_1name(JNIEnv *env, jobject obj) {
    return name_of(env, obj, property_of, property_name);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Property_property_1type(JNIEnv *env, jobject obj) {
    return number_of(env, obj, property_of, property_type);
}

JNIEXPORT jfloat JNICALL Java_com_vantel_rfid_Property_property_1getval(JNIEnv *env, jobject obj) {
    Current &c = current();
    Hold hold(c.lock);
    int code = 0;
    property *ppe = property_of(env, obj, &code);
    if (!ppe) return static_cast<jfloat>(code);
    const float value = property_getval(ppe);
    const int after = errno;
    jobj_setint(env, obj, "error", after < 0 ? after : 0);
    return value;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Property_property_1setval(JNIEnv *env, jobject obj, jfloat value) {
    Current &c = current();
    Hold hold(c.lock);
    int code = 0;
    property *ppe = property_of(env, obj, &code);
    if (!ppe) return code;
    const int rc = property_setval(ppe, value);
    return rc == -1 && errno < 0 ? errno : rc;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Property_property_1ctrl(JNIEnv *env, jobject obj, jint, jint) {
    return no_control_code(env, obj, property_of);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_Property_property_1ctrl_1ex1(JNIEnv *env, jobject obj, jint, jbyteArray) {
    return no_control_code(env, obj, property_of);
}

}  // extern "C"
