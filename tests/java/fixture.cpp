// The native side of the Java tests' fixtures (class
// com.vantel.rfid.testing.NativeFixture): calls into the library's
// exported helpers with what the tests give, and small stand-ins installed
// into the library through its public interface: a card control operation
// that fills the identity-card areas, and a USB link that records the
// descriptor it is handed.
#include <jni.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "android_audio.h"
#include "bluetooth.h"
#include "jni_chars.h"
#include "jobj.h"
#include "pcd.h"
#include "picc.h"
#include "suart.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// Result and errno of a helper call, for the test to check both.
jintArray result_and_errno(JNIEnv *env, int rc, int code) {
    jintArray out = env->NewIntArray(2);
    const jint values[2] = {rc, code};
    env->SetIntArrayRegion(out, 0, 2, values);
    return out;
}

using vrtest::chars;

std::vector<unsigned char> bytes(JNIEnv *env, jbyteArray array) {
    if (!array) return {};
    std::vector<unsigned char> v(static_cast<std::size_t>(env->GetArrayLength(array)));
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(v.size()), reinterpret_cast<jbyte *>(v.data()));
    return v;
}

jbyteArray to_java(JNIEnv *env, const void *p, int n) {
    if (!p || n < 0) return nullptr;
    jbyteArray out = env->NewByteArray(n);
    env->SetByteArrayRegion(out, 0, n, static_cast<const jbyte *>(p));
    return out;
}

// A C text handed back by a helper, as the bytes it holds (null for none).
jbyteArray take_text(JNIEnv *env, char *text) {
    std::unique_ptr<char, FreeDeleter> owned(text);
    return text ? to_java(env, text, static_cast<int>(std::strlen(text))) : nullptr;
}

// ------------------------------------------------- identity-card stand-in

// Fills every area the control call hands over with a byte of its own and
// reports the area's whole capacity as the part's length; code 31 answers
// item 0 with no text and item 1 with a fixed one.
int fake_card_ctrl(picc *, int code, intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f) {
    const auto fill = [](intptr_t area, intptr_t length, unsigned char value) {
        if (!area || !length) return;
        int *n = reinterpret_cast<int *>(length);
        std::memset(reinterpret_cast<void *>(area), value, static_cast<std::size_t>(*n));
    };
    switch (code) {
    case 31:
        *reinterpret_cast<const char **>(b) = a == 0 ? nullptr : "6225880000000001";
        return 0;
    case 72:
        fill(e, f, 'F');
        return 0;
    case 73:
        fill(a, b, 'T');
        fill(c, d, 'P');
        return 0;
    case 74:
        fill(a, b, 'T');
        fill(c, d, 'P');
        fill(e, f, 'F');
        return 0;
    case 79:
        fill(a, b, 'F');
        return 0;
    default:
        errno = -22;
        return -1;
    }
}

// ---------------------------------------------------- USB link stand-in

int last_usb_fd = -12345;

int fake_usb_open() { return -1; }

// The USB links take the host's descriptor as their first argument.
int fake_usb_init(int, va_list list) {
    va_list args;
    va_copy(args, list);
    last_usb_fd = va_arg(args, int);
    va_end(args);
    tessil.s_com.ops = vr_dev_ops{};
    tessil.s_com.ops.open = fake_usb_open;
    return 0;
}

}  // namespace

extern "C" {

#define FIXTURE(ret, name) JNIEXPORT ret JNICALL Java_com_vantel_rfid_testing_NativeFixture_##name

FIXTURE(jintArray, setUid)(JNIEnv *env, jclass, jobject obj, jbyteArray uid, jint n) {
    errno = 0;
    const auto v = bytes(env, uid);
    const int rc = jobj_setuid(env, obj, uid ? v.data() : nullptr, n);
    return result_and_errno(env, rc, errno);
}

FIXTURE(jintArray, setBuff)(JNIEnv *env, jclass, jobject obj, jbyteArray data, jint n) {
    errno = 0;
    const auto v = bytes(env, data);
    const int rc = jobj_setbuff(env, obj, data ? v.data() : nullptr, n);
    return result_and_errno(env, rc, errno);
}

FIXTURE(jintArray, getInt)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name) {
    errno = 0;
    const std::string n = chars(env, name);
    const int rc = jni_getint(env, obj, kind, name ? n.c_str() : nullptr);
    return result_and_errno(env, rc, errno);
}

FIXTURE(jintArray, setInt)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name, jint value) {
    errno = 0;
    const std::string n = chars(env, name);
    const int rc = jni_setint(env, obj, kind, name ? n.c_str() : nullptr, value);
    return result_and_errno(env, rc, errno);
}

// The text's UTF-8 bytes (null for none), and errno in code[0].
FIXTURE(jbyteArray, getString)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name, jintArray code) {
    errno = 0;
    const std::string n = chars(env, name);
    char *text = jni_getstr(env, obj, kind, name ? n.c_str() : nullptr);
    const jint e = errno;
    env->SetIntArrayRegion(code, 0, 1, &e);
    return take_text(env, text);
}

// Stores the given bytes as a C text (they may be malformed UTF-8).
FIXTURE(jintArray, setString)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name, jbyteArray utf8) {
    errno = 0;
    const std::string n = chars(env, name);
    auto v = bytes(env, utf8);
    v.push_back(0);
    const int rc = jni_setstr(env, obj, kind, n.c_str(), utf8 ? reinterpret_cast<char *>(v.data()) : nullptr);
    return result_and_errno(env, rc, errno);
}

FIXTURE(jbyteArray, getBytes)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name, jintArray code) {
    errno = 0;
    const std::string n = chars(env, name);
    unsigned char *out = nullptr;
    const int count = jni_getbytes(env, obj, kind, n.c_str(), &out);
    const jint e = count < 0 ? errno : count;
    env->SetIntArrayRegion(code, 0, 1, &e);
    std::unique_ptr<unsigned char, FreeDeleter> owned(out);
    return count < 0 ? nullptr : to_java(env, out, count);
}

FIXTURE(jintArray, setBytes)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name, jbyteArray data, jint n) {
    errno = 0;
    const std::string field = chars(env, name);
    const auto v = bytes(env, data);
    const int rc = jni_setbytes(env, obj, kind, field.c_str(), data ? v.data() : nullptr, n);
    return result_and_errno(env, rc, errno);
}

FIXTURE(jobject, getObject)(JNIEnv *env, jclass, jobject obj, jint kind, jstring name, jstring signature) {
    const std::string n = chars(env, name);
    const std::string s = chars(env, signature);
    return jni_getobj(env, obj, kind, n.c_str(), s.c_str());
}

// comType (0) or the static uartDeviceName (1) through the capacity-bound
// copies; null when the helper fails.
FIXTURE(jbyteArray, copyLinkText)(JNIEnv *env, jclass, jobject obj, jint which, jint capacity) {
    std::vector<char> out(static_cast<std::size_t>(capacity > 0 ? capacity : 1), 'x');
    const int rc = which == 0 ? jobj_get_comtype(env, obj, out.data(), capacity)
                              : jobj_get_comname(env, obj, out.data(), capacity);
    return rc == 0 ? to_java(env, out.data(), static_cast<int>(std::strlen(out.data()))) : nullptr;
}

FIXTURE(jstring, uartDevice)(JNIEnv *env, jclass, jobject obj) {
    const char *path = jobj_get_uartdev(env, obj);
    return path ? env->NewStringUTF(path) : nullptr;
}

FIXTURE(jint, usbDevice)(JNIEnv *env, jclass, jobject obj) { return jobj_get_usbdev(env, obj); }

FIXTURE(jobject, audioManager)(JNIEnv *env, jclass, jclass reader_class) {
    return jobj_get_manager(env, reader_class);
}

FIXTURE(jint, setStatus)(JNIEnv *env, jclass, jobject obj, jint value) { return jobj_set_status(env, obj, value); }

FIXTURE(jint, setError)(JNIEnv *env, jclass, jobject obj, jint value) { return jobj_set_error(env, obj, value); }

FIXTURE(jboolean, findsCard)(JNIEnv *env, jclass, jobject reader) { return jobj2picc(env, reader) != nullptr; }

FIXTURE(jbyteArray, toCString)(JNIEnv *env, jclass, jstring text) { return take_text(env, Jstring2CStr(env, text)); }

FIXTURE(jint, piccClassInit)(JNIEnv *env, jclass) { return nativeClassInit(env); }

// The Picc getters' results, texts as their bytes: uid, vendor, type,
// protocol, status, then uid_len, cid, slot_num and the pointer as texts.
FIXTURE(jobjectArray, piccFields)(JNIEnv *env, jclass, jobject picc_obj) {
    jclass byte_array = env->FindClass("[B");
    jobjectArray out = env->NewObjectArray(9, byte_array, nullptr);
    char *texts[5] = {getPicc_uid(env, picc_obj), getPicc_vendor(env, picc_obj), getPicc_type(env, picc_obj),
                      getPicc_protocol(env, picc_obj), getPicc_status(env, picc_obj)};
    for (int i = 0; i < 5; ++i) env->SetObjectArrayElement(out, i, take_text(env, texts[i]));
    const std::string numbers[4] = {std::to_string(getPicc_uid_len(env, picc_obj)),
                                    std::to_string(getPicc_cid(env, picc_obj)),
                                    std::to_string(getPicc_slot_num(env, picc_obj)),
                                    std::to_string(getNextPointer(env, picc_obj))};
    for (int i = 0; i < 4; ++i)
        env->SetObjectArrayElement(out, 5 + i, to_java(env, numbers[i].data(), static_cast<int>(numbers[i].size())));
    return out;
}

FIXTURE(void, setPiccFields)(JNIEnv *env, jclass, jobject picc_obj, jstring text, jint number) {
    const std::string t = chars(env, text);
    const char *p = text ? t.c_str() : nullptr;
    setPicc_uid(env, picc_obj, p);
    setPicc_vendor(env, picc_obj, p);
    setPicc_type(env, picc_obj, p);
    setPicc_protocol(env, picc_obj, p);
    setPicc_status(env, picc_obj, p);
    setPicc_uid_len(env, picc_obj, number);
    setPicc_cid(env, picc_obj, static_cast<unsigned char>(number));
    setPicc_slot_num(env, picc_obj, static_cast<unsigned char>(number));
    setNextPointer(env, picc_obj, number);
}

// Replaces the control operation of the reader object's card.
FIXTURE(jboolean, installCardCtrl)(JNIEnv *env, jclass, jobject reader) {
    picc *card = jobj2picc(env, reader);
    if (!card) return JNI_FALSE;
    card->ctrl = fake_card_ctrl;
    return JNI_TRUE;
}

// Offers the USB HID link through the stand-in (the family is registered
// first, as a card open would, so that the registration keeps it).
FIXTURE(void, installUsbLink)(JNIEnv *, jclass) {
    if (check_api_version(0) != 0) picc_regapi(0xAA);
    tessil.com_init_tab.usbhid = fake_usb_init;
}

FIXTURE(jint, lastUsbDescriptor)(JNIEnv *, jclass) { return last_usb_fd; }

// The Bluetooth link's operations, called directly.
FIXTURE(jint, bluetoothRead)(JNIEnv *env, jclass, jbyteArray out, jint n) {
    std::vector<uint8_t> buffer(static_cast<std::size_t>(n > 0 ? n : 1));
    const int rc = bluetooth_read(buffer.data(), n);
    if (rc > 0 && out) env->SetByteArrayRegion(out, 0, rc, reinterpret_cast<const jbyte *>(buffer.data()));
    return rc;
}

FIXTURE(jint, bluetoothWrite)(JNIEnv *env, jclass, jbyteArray data) {
    const auto v = bytes(env, data);
    return bluetooth_write(v.data(), static_cast<int>(v.size()));
}

FIXTURE(jint, bluetoothFlush)(JNIEnv *, jclass) { return bluetooth_flush(3); }

FIXTURE(jint, bluetoothOpen)(JNIEnv *, jclass) { return bluetooth_open(); }

FIXTURE(jint, bluetoothClose)(JNIEnv *, jclass) { return bluetooth_close(); }

// The "sound" device opened and closed directly, so that the test sees the
// code of the stage that failed (a card open reports only that the link
// did not open).
FIXTURE(jintArray, soundOpen)(JNIEnv *env, jclass) {
    suart_init(0);
    errno = 0;
    const int rc = suart_open();
    return result_and_errno(env, rc, rc == 0 ? 0 : errno);
}

FIXTURE(jint, soundClose)(JNIEnv *, jclass) { return suart_close(); }

// The audio bridge's manager operations: 0 getvol, 1 getmaxvol, 2 micmuted,
// 3 headseton, 4 setvol(value), 5 setmaxvol, 6 incvol, 7 decvol.
FIXTURE(jintArray, audioManagerCall)(JNIEnv *env, jclass, jint which, jint value) {
    using Call = int (*)(int);
    static constexpr Call kCalls[] = {
        [](int) { return audio_manager_getvol(); },   [](int) { return audio_manager_getmaxvol(); },
        [](int) { return audio_manager_micmuted(); }, [](int) { return audio_manager_headseton(); },
        [](int v) { return audio_manager_setvol(v); }, [](int) { return audio_manager_setmaxvol(); },
        [](int) { return audio_manager_incvol(); },   [](int) { return audio_manager_decvol(); },
    };
    if (which < 0 || which >= static_cast<jint>(sizeof kCalls / sizeof *kCalls)) return nullptr;
    errno = 0;
    const int rc = kCalls[which](value);
    return result_and_errno(env, rc, errno);
}

// The bridge's streams made and destroyed directly.
FIXTURE(jint, trackInit)(JNIEnv *, jclass, jint channels, jint bits) {
    return android_track_init(channels, bits, 44100, 512);
}
FIXTURE(jint, trackDestroy)(JNIEnv *, jclass) { return android_track_destroy(); }
FIXTURE(jint, recordInit)(JNIEnv *, jclass, jint channels, jint bits) {
    return android_record_init(channels, bits, 44100, 512);
}
FIXTURE(jint, recordDestroy)(JNIEnv *, jclass) { return android_record_destroy(); }

}  // extern "C"
