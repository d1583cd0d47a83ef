// The control natives of com.vantel.rfid.RFIDReader: picc_ctrl (int
// arguments), picc_ctrl_ex1 (a byte or text argument) and picc_ctrl_ex2 (a
// text and int arguments). Each code's row says how its Java arguments
// become the control call's arguments and what the reader object's buffer
// field receives.
#include <jni.h>
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bridge/jni_support.h"
#include "bridge/natives.h"
#include "bridge/reader_object.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "log.h"
#include "picc.h"
#include "port/bluetooth_host.h"
#include "virt_com.h"

using vr::bridge::BoundCard;
using vr::bridge::ByteArg;
using vr::bridge::IntArg;
using vr::bridge::Local;
using vr::bridge::RecordsLock;

namespace {

// ---------------------------------------------------------------- picc_ctrl

enum class CtrlKind {
    kWords,     // the first `words` ints of the array; buffer emptied
    kByteArg,   // a pointer to the low byte of a[0]; buffer emptied
    kArea,      // a zeroed area; buffer: its first `copy` bytes
    kBankText,  // a[0] and a text pointer; buffer: the text or "(none)"
    kModel,     // a text pointer; buffer: the reader's model text
    kIdentity,  // identity-card areas; buffer: the areas of the code
};

struct CtrlRow {
    int code;
    CtrlKind kind;
    int words;  // ints read from the array
    int copy;   // kArea: bytes copied to buffer
};

// Codes 8 and 42 take a pointer the reader command writes through (42's
// is not used); they get an area so that nothing is written through an
// absent argument. Code 7 sends the machine id from a pointer: a[0]'s low
// byte, never the int itself taken as an address.
constexpr CtrlRow kCtrlRows[] = {
    {0, CtrlKind::kWords, 0, 0},     {1, CtrlKind::kWords, 0, 0},     {25, CtrlKind::kWords, 0, 0},
    {33, CtrlKind::kWords, 0, 0},    {43, CtrlKind::kWords, 0, 0},    {44, CtrlKind::kWords, 0, 0},
    {8, CtrlKind::kArea, 0, 0},      {42, CtrlKind::kArea, 0, 0},     {2, CtrlKind::kWords, 1, 0},
    {3, CtrlKind::kWords, 1, 0},     {11, CtrlKind::kWords, 1, 0},    {17, CtrlKind::kWords, 1, 0},
    {27, CtrlKind::kWords, 1, 0},    {7, CtrlKind::kByteArg, 1, 0},   {4, CtrlKind::kWords, 2, 0},
    {5, CtrlKind::kWords, 2, 0},     {6, CtrlKind::kWords, 2, 0},     {80, CtrlKind::kWords, 4, 0},
    {10, CtrlKind::kArea, 0, 8},     {45, CtrlKind::kArea, 0, 8},     {48, CtrlKind::kArea, 0, 8},
    {61, CtrlKind::kArea, 0, 16},    {77, CtrlKind::kArea, 0, 16},    {64, CtrlKind::kArea, 0, 2},
    {66, CtrlKind::kArea, 0, 2},     {31, CtrlKind::kBankText, 1, 0}, {46, CtrlKind::kModel, 0, 0},
    {69, CtrlKind::kIdentity, 0, 0}, {71, CtrlKind::kIdentity, 0, 0}, {72, CtrlKind::kIdentity, 0, 0},
    {73, CtrlKind::kIdentity, 0, 0}, {74, CtrlKind::kIdentity, 0, 0}, {79, CtrlKind::kIdentity, 0, 0},
};

constexpr const CtrlRow *ctrl_row(int code) {
    for (const CtrlRow &row : kCtrlRows)
        if (row.code == code) return &row;
    return nullptr;
}

constexpr int kSmallArea = 32;
constexpr char kNoText[] = "(none)";

// Identity-card areas, one after the other: text, photo, fingerprint. Each
// capacity is an in/out length: the area's size in, the part's length out.
constexpr int kTextArea = 256;
constexpr int kPhotoArea = 1024;
constexpr int kFingerArea = 1024;

struct IdentityAreas {
    unsigned char bytes[kTextArea + kPhotoArea + kFingerArea] = {};
    int text_capacity = kTextArea;
    int photo_capacity = kPhotoArea;
    int finger_capacity = kFingerArea;
    unsigned char *text() { return bytes; }
    unsigned char *photo() { return bytes + kTextArea; }
    unsigned char *finger() { return bytes + kTextArea + kPhotoArea; }
};

// The buffer field's new value.
struct Output {
    const void *bytes = nullptr;
    int n = 0;
};

int identity_call(picc *card, int code, IdentityAreas &a, Output *out) {
    switch (code) {
    case PICC_CTRL_ID_READ:
    case PICC_CTRL_ID_WRITE:
    case PICC_CTRL_ID_EXCHANGE: {
        const int rc =
            picc_ctrl(card, PICC_CTRL_ID_EXCHANGE, a.text(), &a.text_capacity, a.photo(), &a.photo_capacity);
        if (code == PICC_CTRL_ID_READ) *out = {a.text(), kTextArea};
        if (code == PICC_CTRL_ID_WRITE) *out = {a.photo(), kPhotoArea};
        if (code == PICC_CTRL_ID_EXCHANGE) *out = {a.text(), kTextArea + kPhotoArea};
        return rc;
    }
    case PICC_CTRL_ID_FILE:
    case PICC_CTRL_ID_EXCHANGE6: {
        const int rc = picc_ctrl(card, code, a.text(), &a.text_capacity, a.photo(), &a.photo_capacity, a.finger(),
                                 &a.finger_capacity);
        *out = code == PICC_CTRL_ID_FILE ? Output{a.finger(), kFingerArea}
                                         : Output{a.text(), kTextArea + kPhotoArea + kFingerArea};
        return rc;
    }
    default:  // PICC_CTRL_ID_FINGERPRINT: the fingerprint area in the place the dispatcher reads it
        *out = {a.finger(), kFingerArea};
        return picc_ctrl(card, PICC_CTRL_ID_FINGERPRINT, a.finger(), &a.finger_capacity);
    }
}

// ------------------------------------------------------------- text codes

bool starts_with(const char *text, const char *prefix) {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

bool names_usb_link(const char *text) {
    return starts_with(text, "usb") || starts_with(text, "ch9326") || starts_with(text, "pdiusbd12");
}

// Codes 32 and 47 (re)connect the link, which may drop every card record.
RecordsLock::Mode lock_for(int code) {
    return code == PICC_CTRL_CONNECT || code == PICC_CTRL_ULTRA_CONNECT ? RecordsLock::kExclusive
                                                                        : RecordsLock::kShared;
}

// The reader class's static uartDeviceName and usbFd, for the connect codes.
struct LinkDevice {
    LinkDevice(JNIEnv *env, const vr::bridge::ReaderFields &f)
        : path_text(env, static_cast<jstring>(env->GetStaticObjectField(f.cls, f.uart_device_name))),
          path(env, path_text.get()), usb_fd(env->GetStaticIntField(f.cls, f.usb_fd)) {}
    Local<jstring> path_text;
    vr::bridge::UtfChars path;
    jint usb_fd;
};

// A connect by link name: USB links get the descriptor, "uart" the path;
// *done is false for other names, which the caller handles.
int connect_by_name(JNIEnv *env, const BoundCard &bound, const char *text, bool *done, bool *empty_buffer,
                    const char *native_name) {
    *done = true;
    LinkDevice device(env, bound.fields());
    if (names_usb_link(text)) {
        *empty_buffer = true;
        return picc_ctrl(bound.card(), PICC_CTRL_CONNECT, text, device.usb_fd);
    }
    if (starts_with(text, "uart")) {
        if (native_name) log_print(2, "%s com_name:%s", native_name, device.path.get() ? device.path.get() : "");
        return picc_ctrl(bound.card(), PICC_CTRL_CONNECT, text, device.path.get());
    }
    *done = false;
    return 0;
}

// Room for any control output: a whole reply as hexadecimal text with its
// terminator (the largest thing a code writes).
constexpr int kOutputRoom = 2 * VIRT_COM_RSP_MAX + 2;
// Code 34: the two length bytes and a whole command or reply.
constexpr int kRawRoom = 2 + VIRT_COM_REQ_MAX + 1;

bool has_output_area(int code) {
    switch (code) {
    case 38: case 39: case 40: case 41: case 50: case 51: case 53:
    case 54: case 55: case 70: case 75: case 76:
        return true;
    default:
        return false;
    }
}

// Codes whose text argument must hold a minimum count of bytes, which is
// passed along.
int minimum_length(int code) {
    switch (code) {
    case PICC_CTRL_SET_MSN: return 8;
    case PICC_CTRL_SET_ULC_KEY: case PICC_CTRL_SET_DATAENC_KEY: return 16;
    case PICC_CTRL_SET_VALIDCARD: return 2;
    default: return -1;
    }
}

// Code 34: a command of the caller's two-byte big-endian length; the reply
// comes back in the same form.
int raw_command(picc *card, ByteArg &d, Output *out, std::unique_ptr<unsigned char[]> &area) {
    const int n = d.length();
    if (n < 2 || n > kRawRoom) return vr::kEArg;
    const int length = d.data()[0] << 8 | d.data()[1];
    // The reader is sent only bytes the caller gave.
    if (length > n - 2) return vr::kEArg;
    area.reset(new (std::nothrow) unsigned char[kRawRoom]());
    if (!area) return vr::kENoMem;
    std::memcpy(area.get(), d.data(), static_cast<std::size_t>(n));
    const int rc = picc_ctrl(card, PICC_CTRL_RAW, area.get());
    if (rc == 0) *out = {area.get(), std::min((area[0] << 8 | area[1]) + 2, kRawRoom)};
    return rc;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1ctrl(JNIEnv *env, jobject reader, jint code,
                                                                  jintArray ints) {
    BoundCard bound(env, reader, BoundCard::kCardOrNone);
    if (bound.error()) return bound.error();
    const CtrlRow *row = ctrl_row(code);
    if (!row) return vr::kENoCmd;
    const IntArg a(env, ints);
    if (!a.holds(row->words)) return vr::kEArg;

    picc *card = bound.card();
    Output out;
    bool copies = true;  // rows that copy data keep the old buffer on failure
    int rc = 0;
    // Some codes write words into the area (48: two ints).
    alignas(8) unsigned char area[kSmallArea] = {};
    switch (row->kind) {
    case CtrlKind::kWords:
        copies = false;
        rc = picc_ctrl(card, code, row->words > 0 ? a[0] : 0, row->words > 1 ? a[1] : 0, row->words > 2 ? a[2] : 0,
                       row->words > 3 ? a[3] : 0);
        break;
    case CtrlKind::kByteArg:
        copies = false;
        area[0] = static_cast<unsigned char>(a[0]);
        rc = picc_ctrl(card, code, area);
        break;
    case CtrlKind::kArea:
        copies = row->copy > 0;
        rc = picc_ctrl(card, code, area);
        out = {area, row->copy};
        break;
    case CtrlKind::kBankText: {
        const char *text = nullptr;
        rc = picc_ctrl(card, code, a[0], &text);
        out = text ? Output{text, static_cast<int>(std::strlen(text))} : Output{kNoText, sizeof kNoText - 1};
        break;
    }
    case CtrlKind::kModel: {
        unsigned char *model = nullptr;
        rc = picc_ctrl(card, code, &model);
        vr::CMemory<unsigned char> owned(model);
        if (rc == 0 && model) {
            const auto n = static_cast<int>(std::strlen(reinterpret_cast<char *>(model)));
            return vr::bridge::set_buffer(env, bound.fields(), reader, model, n) == 0 ? rc : vr::kENoMem;
        }
        break;
    }
    case CtrlKind::kIdentity: {
        std::unique_ptr<IdentityAreas> areas(new (std::nothrow) IdentityAreas);
        if (!areas) return vr::kENoMem;
        rc = identity_call(card, code, *areas, &out);
        if (rc >= 0) return vr::bridge::set_buffer(env, bound.fields(), reader, out.bytes, out.n) == 0 ? rc : vr::kENoMem;
        return rc;
    }
    }
    if (copies && rc < 0) return rc;
    if (vr::bridge::set_buffer(env, bound.fields(), reader, out.bytes, copies ? out.n : 0) != 0) return vr::kENoMem;
    return rc;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1ctrl_1ex1(JNIEnv *env, jobject reader, jint code,
                                                                       jbyteArray data) {
    if (!env || !reader || !data) return vr::kEArg;
    BoundCard bound(env, reader, BoundCard::kCardOrNone, lock_for(code));
    if (bound.error()) return bound.error();
    vr::port::keep_bluetooth_host(env, reader);
    // The bytes, terminated so that the text codes can read them as text.
    ByteArg d(env, data, ByteArg::kIn);
    if (!d.usable()) return vr::kENoMem;
    const int n = d.length();
    picc *card = bound.card();
    Output out;
    bool empty_buffer = false;
    int rc;

    if (const int minimum = minimum_length(code); minimum >= 0) {
        if (n < minimum) return vr::kEArg;
        rc = picc_ctrl(card, code, d.text(), n);
        empty_buffer = true;
    } else if (code == PICC_CTRL_SET_LCD_TEXT) {
        rc = picc_ctrl(card, code, d.text());
        empty_buffer = true;
    } else if (code == PICC_CTRL_CONNECT) {
        bool done = false;
        rc = connect_by_name(env, bound, d.text(), &done, &empty_buffer, nullptr);
        if (!done) {
            rc = picc_ctrl(card, code, d.text());
            empty_buffer = true;
        }
    } else if (code == PICC_CTRL_RAW) {
        std::unique_ptr<unsigned char[]> area;
        rc = raw_command(card, d, &out, area);
        if (rc != 0) return rc;
        return vr::bridge::set_buffer(env, bound.fields(), reader, out.bytes, out.n) == 0 ? rc : vr::kENoMem;
    } else if (has_output_area(code)) {
        if (code == PICC_CTRL_CID_FILE)
            log_print(2, "GET_CID_INFO %s:%x, %x, %x", "Java_com_vantel_rfid_RFIDReader_picc_1ctrl_1ex1",
                      n > 0 ? d.data()[0] : 0, n > 1 ? d.data()[1] : 0, n);
        std::unique_ptr<unsigned char[]> area(new (std::nothrow) unsigned char[kOutputRoom]());
        if (!area) return vr::kENoMem;
        // In: the input's length; out: the length of what was written.
        int length = n;
        rc = picc_ctrl(card, code, d.text(), area.get(), &length);
        if (rc < 0) return rc;
        const int copied = std::clamp(length, 0, kOutputRoom);
        return vr::bridge::set_buffer(env, bound.fields(), reader, area.get(), copied) == 0 ? rc : vr::kENoMem;
    } else {
        return vr::kENoCmd;
    }
    if (empty_buffer && vr::bridge::set_buffer(env, bound.fields(), reader, nullptr, 0) != 0) return vr::kENoMem;
    return rc;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1ctrl_1ex2(JNIEnv *env, jobject reader, jint code,
                                                                       jbyteArray text_bytes, jintArray ints) {
    if (!env || !reader || !text_bytes) return vr::kEHostLookup;
    BoundCard bound(env, reader, BoundCard::kCardOrNone, lock_for(code));
    if (bound.error()) return bound.error();
    ByteArg t(env, text_bytes, ByteArg::kIn);
    if (!t.usable()) return vr::kENoMem;
    const IntArg a(env, ints);
    picc *card = bound.card();
    bool empty_buffer = false;
    int rc;

    if (code == PICC_CTRL_DOWNLOAD_KEY) {
        // Index, key type, key, key length: the key is read from the text,
        // so its length may not exceed it.
        if (!a.holds(3) || (a[2] & 0xFF) > t.length()) return vr::kEArg;
        rc = picc_ctrl(card, code, a[0], a[1], t.text(), a[2]);
        empty_buffer = true;
    } else if (code == PICC_CTRL_ULTRA_CONNECT) {
        bool done = false;
        rc = connect_by_name(env, bound, t.text(), &done, &empty_buffer,
                             "Java_com_vantel_rfid_RFIDReader_picc_1ctrl_1ex2");
        if (!done) {
            if (a.length() != 3) return vr::kEArg;
            rc = picc_ctrl(card, code, t.text(), a[0], a[1], a[2]);
            empty_buffer = true;
        }
    } else {
        return vr::kENoCmd;
    }
    if (empty_buffer && vr::bridge::set_buffer(env, bound.fields(), reader, nullptr, 0) != 0) return vr::kENoMem;
    return rc;
}

}  // extern "C"
