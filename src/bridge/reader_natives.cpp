// The card natives of com.vantel.rfid.RFIDReader and CException: each finds
// the card record its reader object names, copies the Java arguments in,
// calls the card function and copies the results back.
#include <jni.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bridge/jni_support.h"
#include "bridge/natives.h"
#include "bridge/reader_object.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "core/jvm.h"
#include "jobj.h"
#include "log.h"
#include "picc.h"
#include "port/bluetooth_host.h"

using vr::bridge::BoundCard;
using vr::bridge::ByteArg;
using vr::bridge::Local;
using vr::bridge::RecordsLock;

namespace vr::bridge {

BoundCard::BoundCard(JNIEnv *env, jobject reader, Need need, RecordsLock::Mode mode) : lock_(mode) {
    if (!env || !reader) {
        error_ = kEArg;
        return;
    }
    fields_ = reader_fields(env);
    if (!fields_) {
        error_ = kEHostLookup;
        return;
    }
    card_ = reader_card(env, *fields_, reader);
    if (!card_ && need == kCard) error_ = kESelect;
}

}  // namespace vr::bridge

namespace {

// Every card type's blocks fit here; a driver without a block length
// reads at most this much.
constexpr int kDefaultBlock = 16;
// The largest key argument a driver reads (the Ultralight C's two keys).
constexpr std::size_t kKeyRoom = 32;
// Room for drivers whose buffer size no table gives (count, sign): the
// largest reply the reader can send.
constexpr std::size_t kReplyRoom = 4097;
constexpr const char *kNoCard = "specified picc donot exist";

uint8_t byte_of(jint value) { return static_cast<uint8_t>(value); }
uint16_t word_of(jint value) { return static_cast<uint16_t>(value); }

// Bytes one block of the card holds.
int block_bytes(picc *card, uint8_t block) {
    const int n = picc_blklen(card, block);
    return n > 0 ? n : kDefaultBlock;
}

// Byte arrays a card function reads or writes `need` bytes of: -24 for a
// missing or shorter array, else 0.
int check_array(JNIEnv *env, jbyteArray array, int need) {
    if (!array || env->GetArrayLength(array) < need) return vr::kEArg;
    return 0;
}

void put_le32(unsigned char *out, jint value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

jint get_le32(const unsigned char *in) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | in[i];
    return static_cast<jint>(v);
}

// A card function on a whole array that it reads or writes `need` bytes of;
// -40 when the array's copy cannot be made.
template <typename Call>
jint with_array(JNIEnv *env, jbyteArray array, int need, ByteArg::Direction direction, std::size_t room, Call call) {
    if (const int rc = check_array(env, array, need)) return rc;
    ByteArg arg(env, array, direction, std::max(room, static_cast<std::size_t>(need)));
    if (!arg.usable()) return vr::kENoMem;
    return call(arg.data());
}

// Block-sized transfers: read and write.
template <typename Call>
jint block_call(JNIEnv *env, jobject reader, jbyteArray array, jint block, ByteArg::Direction direction,
                Call call) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    const int need = block_bytes(bound.card(), byte_of(block));
    return with_array(env, array, need, direction, kDefaultBlock,
                      [&](unsigned char *data) { return call(bound.card(), data, byte_of(block)); });
}

// Byte-range transfers: the Java address counts from the first block after
// the card's first 16 bytes.
template <typename Call>
jint range_call(JNIEnv *env, jobject reader, jint address, jint length, jbyteArray array,
                ByteArg::Direction direction, Call call) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    const uint16_t n = word_of(length);
    return with_array(env, array, n, direction, 0, [&](unsigned char *data) {
        return call(bound.card(), word_of(address + 16), n, data);
    });
}

// Value-block operations take the value as 4 bytes, least significant first.
template <typename Call>
jint value_call(JNIEnv *env, jobject reader, jint value, jint block, Call call) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    unsigned char bytes[4];
    put_le32(bytes, value);
    return call(bound.card(), bytes, byte_of(block));
}

template <typename Call>
jint block_only(JNIEnv *env, jobject reader, jint block, Call call) {
    BoundCard bound(env, reader);
    return bound.error() ? bound.error() : call(bound.card(), byte_of(block));
}

// Record fields copied into an array of at least `length` bytes.
jint record_field(JNIEnv *env, jobject reader, jbyteArray array, int (*length)(picc *),
                  int (*copy)(picc *, unsigned char *)) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    const int need = length ? std::max(length(bound.card()), 0) : 0;
    return with_array(env, array, need, ByteArg::kInOut, 64, [&](unsigned char *data) { return copy(bound.card(), data); });
}

int atqa_bytes(picc *) { return 2; }
int sak_bytes(picc *) { return 1; }

// Geometry queries answer -47 without a card, like the card functions.
jint geometry(JNIEnv *env, jobject reader, int (*query)(picc *)) {
    BoundCard bound(env, reader, BoundCard::kCardOrNone);
    if (bound.error()) return bound.error();
    return query(bound.card());
}

jstring record_text(JNIEnv *env, jobject reader, const char *(*text)(picc *)) {
    BoundCard bound(env, reader, BoundCard::kCardOrNone);
    if (bound.error() == vr::kEArg) return nullptr;
    if (!bound.card()) return vr::bridge::new_text(env, kNoCard);
    return vr::bridge::new_text(env, text(bound.card()));
}

// The rest of picc_open's arguments depend on the link: "uart" takes the
// serial device's path; the USB links take the descriptor of the device
// the host opened (the path follows for links that want it).
picc *open_card(const char *type, const char *com, int mode, int usb_fd, const char *path) {
    if (com && strncasecmp(com, "uart", 4) == 0) return picc_open(type, com, 0, mode, path);
    return picc_open(type, com, 0, mode, usb_fd, path);
}

// Binds the reader object to its card: the card's type, vendor and uid.
int bind_reader(JNIEnv *env, jobject reader, const picc *card) {
    const int uid_len = card->uid_len > 0 ? card->uid_len : 0;
    if (jobj_settype(env, reader, card->picc_type) != 0 || jobj_setvendor(env, reader, card->vendor) != 0 ||
        jobj_setuid(env, reader, card->uid, uid_len) != 0)
        return vr::kEHostLookup;
    return 0;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1open(JNIEnv *env, jobject reader, jstring type,
                                                                  jint mode) {
    if (!env || !reader || !type) return vr::kEArg;
    // Opening may drop every record (a new registration): no other native
    // may be using one meanwhile.
    RecordsLock lock(RecordsLock::kExclusive);
    const vr::bridge::ReaderFields *f = vr::bridge::reader_fields(env);
    if (!f) return vr::kEHostLookup;
    vr::bridge::UtfChars type_text(env, type);
    if (!type_text.get()) return vr::kEHostLookup;
    char com[4097];
    const bool has_com = jobj_get_comtype(env, reader, com, sizeof com) == 0;
    const jint usb_fd = env->GetStaticIntField(f->cls, f->usb_fd);
    Local<jstring> path_text(env, static_cast<jstring>(env->GetStaticObjectField(f->cls, f->uart_device_name)));
    vr::bridge::UtfChars path(env, path_text.get());
    vr::port::keep_bluetooth_host(env, reader);

    errno = 0;
    picc *card = open_card(type_text.get(), has_com ? com : nullptr, mode & 0xFF, usb_fd, path.get());
    const int code = picc_error();
    // A failure is never reported as success, whatever errno was left.
    if (!card) return code < 0 ? code : -1;
    return bind_reader(env, reader, card);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_system_1init(JNIEnv *env, jobject reader) {
    if (!env || !reader) return vr::kEArg;
    const vr::bridge::ReaderFields *f = vr::bridge::reader_fields(env);
    if (!f) return vr::kEHostLookup;
    if (vr::jni::audio_manager()) return 0;
    Local<jobject> manager(env, env->GetStaticObjectField(f->cls, f->audio_manager));
    if (!manager) return vr::kEHostLookup;
    return vr::jni::keep_audio_manager(env, manager.get()) ? 0 : vr::kEHostLookup;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1close(JNIEnv *env, jobject reader) {
    log_print(3, "picc_1close 111");
    if (!env || !reader) return vr::kEArg;
    log_print(3, "picc_1close 222");
    // Closing frees the record: no other native may be using it.
    BoundCard bound(env, reader, BoundCard::kCard, RecordsLock::kExclusive);
    if (bound.error()) return bound.error();
    log_print(3, "picc_1close 333");
    log_print(3, "picc_1close 444");
    return picc_close(bound.card());
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1read(JNIEnv *env, jobject reader, jbyteArray buffer,
                                                                  jint block) {
    return block_call(env, reader, buffer, block, ByteArg::kInOut,
                      [](picc *card, unsigned char *data, uint8_t blk) { return picc_read(card, data, blk); });
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1write(JNIEnv *env, jobject reader, jbyteArray buffer,
                                                                   jint block) {
    return block_call(env, reader, buffer, block, ByteArg::kIn,
                      [](picc *card, unsigned char *data, uint8_t blk) { return picc_write(card, data, blk); });
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1readdata(JNIEnv *env, jobject reader, jint address,
                                                                      jint length, jbyteArray buffer) {
    return range_call(env, reader, address, length, buffer, ByteArg::kInOut, picc_readdata);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1writedata(JNIEnv *env, jobject reader, jint address,
                                                                       jint length, jbyteArray buffer) {
    return range_call(env, reader, address, length, buffer, ByteArg::kIn, picc_writedata);
}

// The enciphered transfers move whole 8-byte cipher blocks.
JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1readdata_1enc(JNIEnv *env, jobject reader,
                                                                           jint address, jint length,
                                                                           jbyteArray buffer) {
    if (word_of(length) % 8 != 0) return vr::kEArg;
    return range_call(env, reader, address, length, buffer, ByteArg::kInOut, picc_readdata_enc);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1writedata_1enc(JNIEnv *env, jobject reader,
                                                                            jint address, jint length,
                                                                            jbyteArray buffer) {
    if (word_of(length) % 8 != 0) return vr::kEArg;
    return range_call(env, reader, address, length, buffer, ByteArg::kIn, picc_writedata_enc);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1lock(JNIEnv *env, jobject reader, jint argument) {
    return block_only(env, reader, argument, picc_lock);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1count(JNIEnv *env, jobject reader, jbyteArray buffer) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    return with_array(env, buffer, 0, ByteArg::kInOut, kReplyRoom,
                      [&](unsigned char *data) { return picc_count(bound.card(), data); });
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1sign(JNIEnv *env, jobject reader, jbyteArray buffer) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    return with_array(env, buffer, 0, ByteArg::kInOut, kReplyRoom,
                      [&](unsigned char *data) { return picc_sign(bound.card(), data); });
}

// The value read, or the negative result; the error field tells the two
// apart (0 after a successful read).
JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1rdval(JNIEnv *env, jobject reader, jint block) {
    BoundCard bound(env, reader);
    if (bound.error() == vr::kEArg || bound.error() == vr::kEHostLookup) return bound.error();
    unsigned char bytes[4] = {};
    const int rc = bound.error() ? bound.error() : picc_rdval(bound.card(), bytes, byte_of(block));
    env->SetIntField(reader, bound.fields().error, rc);
    return rc == 0 ? get_le32(bytes) : rc;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1wrval(JNIEnv *env, jobject reader, jint value,
                                                                   jint block) {
    return value_call(env, reader, value, block, picc_wrval);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1incval(JNIEnv *env, jobject reader, jint value,
                                                                    jint block) {
    return value_call(env, reader, value, block, picc_incval);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1decval(JNIEnv *env, jobject reader, jint value,
                                                                    jint block) {
    return value_call(env, reader, value, block, picc_decval);
}

// A null key authenticates with the key stored in the reader.
JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1auth(JNIEnv *env, jobject reader, jbyteArray key,
                                                                  jint key_type, jint block) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    if (!key) return picc_auth(bound.card(), nullptr, byte_of(key_type), byte_of(block));
    return with_array(env, key, 6, ByteArg::kIn, kKeyRoom, [&](unsigned char *data) {
        return picc_auth(bound.card(), data, byte_of(key_type), byte_of(block));
    });
}

// Key type 0x60 changes key A (6 bytes); the others change both (12).
JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1chpw(JNIEnv *env, jobject reader, jbyteArray keys,
                                                                  jint key_type, jint block) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    const int need = byte_of(key_type) == 0x60 ? 6 : 12;
    return with_array(env, keys, need, ByteArg::kIn, kKeyRoom, [&](unsigned char *data) {
        return picc_chpw(bound.card(), data, byte_of(key_type), byte_of(block));
    });
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1chaccess(JNIEnv *env, jobject reader,
                                                                      jbyteArray description, jint block) {
    BoundCard bound(env, reader);
    if (bound.error()) return bound.error();
    return with_array(env, description, 16, ByteArg::kIn, 16, [&](unsigned char *data) {
        return picc_chaccess(bound.card(), data, byte_of(block));
    });
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1load(JNIEnv *env, jobject reader, jint block) {
    return block_only(env, reader, block, picc_load);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1transfer(JNIEnv *env, jobject reader, jint block) {
    return block_only(env, reader, block, picc_transfer);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1status(JNIEnv *env, jobject reader) {
    BoundCard bound(env, reader);
    return bound.error() ? bound.error() : picc_status(bound.card());
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1getcid(JNIEnv *env, jobject reader) {
    BoundCard bound(env, reader);
    return bound.error() ? bound.error() : picc_getcid(bound.card());
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1getatqa(JNIEnv *env, jobject reader, jbyteArray out) {
    return record_field(env, reader, out, atqa_bytes, picc_getatqa);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1getsak(JNIEnv *env, jobject reader, jbyteArray out) {
    return record_field(env, reader, out, sak_bytes, picc_getsak);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1getats(JNIEnv *env, jobject reader, jbyteArray out) {
    return record_field(env, reader, out, picc_atslen, picc_getats);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1getuid(JNIEnv *env, jobject reader, jbyteArray out) {
    return record_field(env, reader, out, picc_uidlen, picc_getuid);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1atslen(JNIEnv *env, jobject reader) {
    return geometry(env, reader, picc_atslen);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1uidlen(JNIEnv *env, jobject reader) {
    return geometry(env, reader, picc_uidlen);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1blklen(JNIEnv *env, jobject reader, jint block) {
    BoundCard bound(env, reader, BoundCard::kCardOrNone);
    return bound.error() ? bound.error() : picc_blklen(bound.card(), word_of(block));
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1blkcnt(JNIEnv *env, jobject reader) {
    return geometry(env, reader, picc_blkcnt);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1seccnt(JNIEnv *env, jobject reader) {
    return geometry(env, reader, picc_seccnt);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_RFIDReader_picc_1secblk(JNIEnv *env, jobject reader, jint sector) {
    BoundCard bound(env, reader, BoundCard::kCardOrNone);
    return bound.error() ? bound.error() : picc_secblk(bound.card(), word_of(sector));
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_RFIDReader_picc_1hard_1model(JNIEnv *env, jobject reader) {
    BoundCard bound(env, reader, BoundCard::kCardOrNone);
    if (bound.error() == vr::kEArg) return nullptr;
    unsigned char *model = nullptr;
    const int rc = picc_ctrl(bound.card(), PICC_CTRL_HARD_MODEL, &model);
    vr::CMemory<unsigned char> owned(model);
    if (rc != 0 || !model) return vr::bridge::new_text(env, picc_strerror(rc));
    return vr::bridge::new_text(env, reinterpret_cast<const char *>(model));
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_RFIDReader_picc_1strerror(JNIEnv *env, jobject, jint code) {
    return vr::bridge::new_text(env, picc_strerror(code));
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_CException_picc_1strerror(JNIEnv *env, jclass, jint code) {
    return vr::bridge::new_text(env, picc_strerror(code));
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_RFIDReader_picc_1type(JNIEnv *env, jobject reader) {
    return record_text(env, reader, picc_type);
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_RFIDReader_picc_1vendor(JNIEnv *env, jobject reader) {
    return record_text(env, reader, picc_vendor);
}

JNIEXPORT jstring JNICALL Java_com_vantel_rfid_RFIDReader_picc_1protocol(JNIEnv *env, jobject reader) {
    return record_text(env, reader, picc_protocol);
}

}  // extern "C"
