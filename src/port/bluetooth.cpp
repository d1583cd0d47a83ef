// The Bluetooth link. The library owns no socket here: the host
// application keeps the Bluetooth serial connection in its reader object
// and the driver calls that object's five bluetoothUart* methods through
// JNI, moving the bytes through two host byte arrays.
#include "bluetooth.h"

#include <algorithm>
#include <cerrno>

#include "core/errors.h"
#include "core/jvm.h"
#include "core/signals.h"
#include "log.h"
#include "port/bluetooth_host.h"
#include "port/port.h"
#include "sys.h"
#include "tessil.h"

namespace {

extern const vr_dev_ops kBluetoothOps;

constexpr int kArraySize = BLUETOOTH_HOST_ARRAY_SIZE;
constexpr unsigned kPollPauseUs = 10000;

android_bluetooth &bridge() { return tessil.s_com.android_bluetooth; }

// Written once by the Java bridge on any thread, read here.
jobject host_object() {
    return vr::jni::held_ref(&bridge().rfidreader_obj);
}

jmethodID method(void *id) { return static_cast<jmethodID>(id); }
jbyteArray array(void *ref) { return static_cast<jbyteArray>(ref); }

// Init found the host's methods and made the arrays: without them no
// host call can be made (an open before a card was ever opened through
// the Java bridge lands here).
bool bridge_ready() {
    const android_bluetooth &b = bridge();
    return host_object() && b.mid_open && b.mid_close && b.mid_read && b.mid_write && b.mid_flush &&
           b.read_buffer && b.write_buffer;
}

// Calls one of the host's int methods. A Java exception thrown by the host
// is logged and cleared, and the call counts as failed.
template <typename... Args>
bool call_host(JNIEnv *env, void *id, jint *result, Args... args) {
    *result = env->CallIntMethod(host_object(), method(id), args...);
    if (!env->ExceptionCheck()) return true;
    log_print(1, "java bluetooth: the host method threw an exception");
    env->ExceptionClear();
    return false;
}

// Each operation's failure code. The operations return it (open returns
// -1), and errno carries it too, so that callers which report errno (the
// control codes) report this failure and not an older one.
struct Failure {
    int result;
    int code;
};
constexpr Failure kOpenFailure{-1, vr::kEOpen};
constexpr Failure kCloseFailure{vr::kEClose, vr::kEClose};
constexpr Failure kFlushFailure{vr::kEDevStart, vr::kEDevStart};
constexpr Failure kReadFailure{vr::kERecv, vr::kERecv};
constexpr Failure kWriteFailure{vr::kESend, vr::kESend};

int failed(Failure f) {
    errno = f.code;
    return f.result;
}

// Without a Java environment (a thread the VM does not know) or before
// the host's methods were found, no host call can be made.
int unreachable(Failure f) {
    errno = f.code;
    return -1;
}

// One host call that reports 0 on success: open, close, flush.
int simple_call(void *id, const char *what, Failure failure) {
    vr::ModemSignalBlock block;
    JNIEnv *env = android_local_jnienv_bluetooth();
    if (!env || !bridge_ready()) return unreachable(failure);
    jint r = -1;
    if (call_host(env, id, &r) && r == 0) return 0;
    log_print(1, "java bluetooth %s error %x", what, static_cast<unsigned>(r));
    return failed(failure);
}

jmethodID find_method(JNIEnv *env, jclass cls, const char *name, const char *signature) {
    jmethodID id = env->GetMethodID(cls, name, signature);
    vr::jni::clear_exception(env);
    return id;
}

jbyteArray new_global_array(JNIEnv *env) {
    jbyteArray local = env->NewByteArray(kArraySize);
    if (!local) {
        vr::jni::clear_exception(env);
        return nullptr;
    }
    auto global = static_cast<jbyteArray>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
}

// Reads what the host has, at most `want` bytes, into out: the count, 0
// for none yet, -1 when the host call failed.
int read_once(JNIEnv *env, uint8_t *out, int want, jint *last) {
    if (!call_host(env, bridge().mid_read, last, array(bridge().read_buffer), static_cast<jint>(want))) return -1;
    // The host's count is untrusted: never more than was asked for.
    const int got = std::min<int>(*last, want);
    if (got <= 0) return 0;
    env->GetByteArrayRegion(array(bridge().read_buffer), 0, got, reinterpret_cast<jbyte *>(out));
    if (vr::jni::clear_exception(env)) return -1;
    log_print(3, "<--");
    format_display(out, got, 1);
    return got;
}

}  // namespace

void vr::port::keep_bluetooth_host(JNIEnv *env, jobject reader) {
    if (!vr::jni::keep_global_ref(env, &bridge().rfidreader_obj, reader))
        log_print(1, "tessil.s_com.android_bluetooth.rfidreader_obj err");
}

VR_API JNIEnv *android_local_jnienv_bluetooth(void) { return vr::jni::current_env(); }

VR_API int android_bluetooth_init(JNIEnv *env) {
    if (!env) return -1;
    jobject obj = host_object();
    if (!obj) return -1;
    // The host object never changes once kept, so what was found for it
    // stays valid: a reopened port reuses it instead of leaking another
    // set of global references.
    if (bridge_ready()) return 0;
    jclass cls = env->GetObjectClass(obj);
    if (!cls) return -1;
    android_bluetooth &b = bridge();
    b.env = env;
    b.mid_open = find_method(env, cls, "bluetoothUartOpen", "()I");
    b.mid_close = find_method(env, cls, "bluetoothUartClose", "()I");
    b.mid_read = find_method(env, cls, "bluetoothUartRead", "([BI)I");
    b.mid_write = find_method(env, cls, "bluetoothUartWrite", "([BI)I");
    b.mid_flush = find_method(env, cls, "bluetoothUartFlush", "()I");
    if (!b.reader_class) b.reader_class = env->NewGlobalRef(cls);
    env->DeleteLocalRef(cls);
    if (!b.read_buffer) b.read_buffer = new_global_array(env);
    if (!b.write_buffer) b.write_buffer = new_global_array(env);
    return bridge_ready() ? 0 : -1;
}

VR_API int android_bluetooth_uart_open(void) { return simple_call(bridge().mid_open, "open", kOpenFailure); }

VR_API int android_bluetooth_uart_close(void) { return simple_call(bridge().mid_close, "close", kCloseFailure); }

VR_API int android_bluetooth_uart_flush(void) { return simple_call(bridge().mid_flush, "flush", kFlushFailure); }

VR_API int android_bluetooth_uart_read(uint8_t *buffer, int length) {
    vr::ModemSignalBlock block;
    JNIEnv *env = android_local_jnienv_bluetooth();
    if (!env || !bridge_ready()) return unreachable(kReadFailure);
    if (!buffer || length < 0) return failed(kReadFailure);
    const uint32_t deadline_ms = static_cast<uint32_t>(length) * 25 / 20 + 125;
    const uint32_t start = getTickCount();
    int received = 0;
    jint last = 0;
    while (received < length && getTickCount() - start < deadline_ms) {
        // The host array holds 2048 bytes: a longer read asks in parts.
        const int got = read_once(env, buffer + received, std::min(length - received, kArraySize), &last);
        if (got < 0) break;
        received += got;
        if (received < length) sys_delay_nus(kPollPauseUs);
    }
    if (received == length) return length;
    log_print(1, "java bluetooth read error %x", static_cast<unsigned>(last));
    return failed(kReadFailure);
}

VR_API int android_bluetooth_uart_write(const uint8_t *buffer, int length) {
    vr::ModemSignalBlock block;
    JNIEnv *env = android_local_jnienv_bluetooth();
    if (!env || !bridge_ready()) return unreachable(kWriteFailure);
    if (!buffer || length < 0) return failed(kWriteFailure);
    log_print(3, "-->");
    format_display(buffer, length, 1);
    jbyteArray out = array(bridge().write_buffer);
    // The host array holds 2048 bytes: a longer frame goes in parts.
    for (int sent = 0; sent < length;) {
        const int part = std::min(length - sent, kArraySize);
        env->SetByteArrayRegion(out, 0, part, reinterpret_cast<const jbyte *>(buffer + sent));
        jint r = -1;
        if (vr::jni::clear_exception(env) || !call_host(env, bridge().mid_write, &r, out, static_cast<jint>(part)) ||
            r != 0) {
            log_print(1, "java bluetooth write error %x", static_cast<unsigned>(r));
            return failed(kWriteFailure);
        }
        sent += part;
    }
    return 0;
}

VR_API int bluetooth_open_android(void) { return android_bluetooth_uart_open(); }
VR_API int bluetooth_close_android(void) { return android_bluetooth_uart_close(); }
VR_API int bluetooth_flush_android(int kind) {
    (void)kind;  // the host drops whatever it holds
    return android_bluetooth_uart_flush();
}
VR_API int bluetooth_drain_android(void) { return 0; }
VR_API int bluetooth_ioctl_android(int command, void *argument) {
    (void)command;
    (void)argument;
    return 0;
}
VR_API int bluetooth_read_android(uint8_t *buffer, int length) { return android_bluetooth_uart_read(buffer, length); }
VR_API int bluetooth_write_android(const uint8_t *buffer, int length) {
    return android_bluetooth_uart_write(buffer, length);
}

VR_API int bluetooth_init(int mode, va_list list) { return bluetooth_init_android(mode, list); }
VR_API int bluetooth_open(void) { return bluetooth_open_android(); }
VR_API int bluetooth_close(void) { return bluetooth_close_android(); }
VR_API int bluetooth_flush(int kind) { return bluetooth_flush_android(kind); }
VR_API int bluetooth_drain(void) { return bluetooth_drain_android(); }
VR_API int bluetooth_read(uint8_t *buffer, int length) { return bluetooth_read_android(buffer, length); }
VR_API int bluetooth_write(const uint8_t *buffer, int length) { return bluetooth_write_android(buffer, length); }
VR_API int bluetooth_ioctl(int command, void *argument) { return bluetooth_ioctl_android(command, argument); }

VR_API int bluetooth_init_android(int mode, va_list list) {
    (void)mode;
    (void)list;
    vr::port::install_device("bluetooth device", kBluetoothOps);
    // A failure here shows at open, which then refuses.
    android_bluetooth_init(android_local_jnienv_bluetooth());
    return 0;
}

namespace {

constexpr vr_dev_ops kBluetoothOps = {
    .open = bluetooth_open,
    .close = bluetooth_close,
    .flush = bluetooth_flush,
    .drain = bluetooth_drain,
    .ioctl = bluetooth_ioctl,
    .read = bluetooth_read,
    .write = bluetooth_write,
};

}  // namespace
