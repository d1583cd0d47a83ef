// The control dispatcher: one numbered entry for everything the host may
// ask of the reader, the link, the modem or a card driver that has no card
// operation of its own.
#include <pthread.h>
#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "audio.h"
#include "card/ir_convert.h"
#include "core/errors.h"
#include "core/lock.h"
#include "crypto.h"
#include "modem/carrier_select.h"
#include "modem/modem.h"
#include "suart_signal.h"
#include "log.h"
#include "pboc.h"
#include "pcd.h"
#include "picc.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

// Reader command codes the control codes put in front of APDUs.
constexpr uint16_t kCpuApdu = 0x0211;
constexpr uint16_t kCpuBatch = 0x0215;
constexpr uint16_t kCidApdu = 0x0303;
constexpr uint16_t kCidBatch = 0x0305;
constexpr uint16_t kSamCommand = 0x0404;

// Work buffers hold a whole reader command or reply: the largest reply
// (4097 bytes) plus the two header bytes, so no reply can overrun them.
constexpr int kWorkSize = 2 + VIRT_COM_RSP_MAX + 1;
constexpr int kMaxCode = 80;

// Reads the control arguments in order, each one machine word.
class Args {
public:
    explicit Args(va_list list) { va_copy(list_, list); }
    ~Args() { va_end(list_); }
    Args(const Args &) = delete;
    Args &operator=(const Args &) = delete;

    int word() { return va_arg(list_, int); }
    int byte() { return static_cast<signed char>(word()); }
    template <typename T>
    T *ptr() {
        return static_cast<T *>(va_arg(list_, void *));
    }
    va_list *list() { return &list_; }

private:
    va_list list_;
};

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
using Work = std::unique_ptr<unsigned char, FreeDeleter>;

Work new_work() { return Work(static_cast<unsigned char *>(std::calloc(1, kWorkSize))); }

// Worker result to control result: the result when it is 0 or more, else
// the current error code.
int result_or_code(int rc) {
    if (rc >= 0) return rc;
    const int code = errno;
    return code < 0 ? code : rc;
}

// The card-type header of APDU commands: CID cards use their own.
bool is_cid_card(const picc *record) {
    return record->picc_type && strncasecmp(record->picc_type, "CID CARD", 8) == 0;
}

void put_header(unsigned char *work, uint16_t code) {
    work[0] = static_cast<unsigned char>(code & 0xFF);
    work[1] = static_cast<unsigned char>(code >> 8);
}

// Encodes bytes as hexadecimal into the caller's text; false when the text
// cannot be made.
bool write_hex(const unsigned char *bytes, int n, char *out) {
    std::unique_ptr<char, FreeDeleter> text(pboc_data2str(bytes, n));
    if (!text || !out) return false;
    std::memcpy(out, text.get(), static_cast<std::size_t>(n) * 2 + 1);
    return true;
}

// Runs the raw pass-through on a work buffer holding len command bytes;
// the reply's length, or -1.
int run_raw(unsigned char *work, int len) {
    int n = len;
    if (audio_raw_cmd(work, &n) != 0) return -1;
    return n;
}

// Code 34: a big-endian length, then the command; the reply replaces it.
int raw_length_prefixed(unsigned char *buffer) {
    if (!buffer) return vr::kEArg;
    int n = buffer[0] << 8 | buffer[1];
    if (audio_raw_cmd(buffer + 2, &n) != 0) {
        log_print(1, "picc_ctrl_ex err");
        return -1;
    }
    buffer[0] = static_cast<unsigned char>(n >> 8);
    buffer[1] = static_cast<unsigned char>(n & 0xFF);
    return 0;
}

// Codes 38, 40, 75: hexadecimal command (after an optional two-byte header)
// in, hexadecimal reply out. `encode_failure` is the code reported when the
// reply cannot be written as text.
int hex_command(const char *text, char *out, int *length, int header, int encode_failure) {
    if (!text || !out || !length) return vr::kEArg;
    Work work = new_work();
    if (!work) return vr::kENoMem;
    const int at = header >= 0 ? 2 : 0;
    if (header >= 0) put_header(work.get(), static_cast<uint16_t>(header));
    if (pboc_str2data(text, work.get() + at, kWorkSize - at - 1) != 0) return vr::kEGeneral;
    const int n = run_raw(work.get(), static_cast<int>(std::strlen(text) / 2) + at);
    if (n < 0) return result_or_code(-1);
    if (!write_hex(work.get(), n, out)) return encode_failure;
    *length = 2 * n;
    return 0;
}

// Codes 39, 41, 76: the same on bytes; *length is the input length on entry
// and the reply length on exit.
int byte_command(const unsigned char *in, unsigned char *out, int *length, int header) {
    if (!in || !out || !length) return vr::kEArg;
    const int at = header >= 0 ? 2 : 0;
    if (*length < 0 || *length > kWorkSize - at - 1) return vr::kEArg;
    Work work = new_work();
    if (!work) return vr::kENoMem;
    if (header >= 0) put_header(work.get(), static_cast<uint16_t>(header));
    std::memcpy(work.get() + at, in, static_cast<std::size_t>(*length));
    const int n = run_raw(work.get(), *length + at);
    if (n < 0) return result_or_code(-1);
    std::memcpy(out, work.get(), static_cast<std::size_t>(n));
    *length = n;
    return 0;
}

// Code 53: comma-separated hexadecimal APDUs sent as one batch of
// length-prefixed items; the answers come back the same way and are
// returned as comma-separated hexadecimal texts.
int apdu_batch_hex(const picc *record, const char *text, char *out, int *length) {
    if (!text || !out || !length) return vr::kEArg;
    Work work = new_work();
    std::unique_ptr<char, FreeDeleter> copy(strdup(text));
    if (!work || !copy) return vr::kENoMem;
    unsigned char *w = work.get();
    put_header(w, is_cid_card(record) ? kCidBatch : kCpuBatch);
    int at = 2;
    char *save = nullptr;
    for (char *item = strtok_r(copy.get(), ",", &save); item; item = strtok_r(nullptr, ",", &save)) {
        const int bytes = static_cast<int>(std::strlen(item) / 2);
        if (at + 2 + bytes > kWorkSize - 1) return vr::kEGeneral;
        w[at] = static_cast<unsigned char>(bytes >> 8);
        w[at + 1] = static_cast<unsigned char>(bytes & 0xFF);
        if (pboc_str2data(item, w + at + 2, kWorkSize - at - 3) != 0) return vr::kEGeneral;
        at += 2 + bytes;
    }
    const int n = run_raw(w, at);
    if (n < 0) return result_or_code(-1);
    std::string joined;
    for (int i = 0; i + 2 <= n;) {
        const int len = w[i] << 8 | w[i + 1];
        if (i + 2 + len > n) return vr::kEGeneral;
        std::unique_ptr<char, FreeDeleter> hex(pboc_data2str(w + i + 2, len));
        if (!hex) return vr::kEGeneral;
        joined += hex.get();
        joined += ',';
        i += 2 + len;
    }
    if (!joined.empty()) joined.pop_back();
    std::memcpy(out, joined.c_str(), joined.size() + 1);
    *length = static_cast<int>(joined.size() + 1);
    return 0;
}

// Code 54: the batch body in bytes behind the header.
int apdu_batch_bytes(const picc *record, const unsigned char *in, unsigned char *out, int *length) {
    return byte_command(in, out, length, is_cid_card(record) ? kCidBatch : kCpuBatch);
}

// Codes 43 and 44: an advisory lock that one thread may hold.
int take_exclusive_use() {
    vr::MutexHold hold(&tessil.owner_lock);
    const pthread_t self = pthread_self();
    if (!tessil.owner_held) {
        tessil.owner_held = 1;
        tessil.owner_thread = self;
        return 0;
    }
    if (pthread_equal(tessil.owner_thread, self)) return 0;
    log_print(1, "error: fail to lock, dvice is busy");
    return vr::kEBusy;
}

int release_exclusive_use() {
    vr::MutexHold hold(&tessil.owner_lock);
    if (!tessil.owner_held) return 0;
    if (!pthread_equal(tessil.owner_thread, pthread_self())) {
        log_print(1, "error: fail to lock, dvice is busy");
        return vr::kEBusy;
    }
    tessil.owner_held = 0;
    return 0;
}

bool usb_link() {
    const char *type = tessil.s_com.com_type;
    return type && (strncasecmp(type, "usb", 3) == 0 || strncasecmp(type, "ch340g", 6) == 0 ||
                    strncasecmp(type, "ch9326", 6) == 0 || strncasecmp(type, "pdiusbd12", 9) == 0);
}

// Driver-specific codes go to the record's own control operation.
int driver_ctrl(picc *record, int code, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0,
                intptr_t e = 0, intptr_t f = 0) {
    if (!record) return vr::kENotSelected;
    if (!record->ctrl) return vr::kENoCmd;
    return result_or_code(record->ctrl(record, code, a, b, c, d, e, f));
}

// Identity-card codes: the record and every buffer and length argument
// must be present; 0 when the driver succeeds, else the error code.
int identity_ctrl(picc *record, bool complete, int code, intptr_t a, intptr_t b, intptr_t c = 0,
                  intptr_t d = 0, intptr_t e = 0, intptr_t f = 0) {
    if (!record || !complete) return vr::kEArg;
    if (!record->ctrl) return vr::kENoCmd;
    return record->ctrl(record, code, a, b, c, d, e, f) == 0 ? 0 : result_or_code(-1);
}

intptr_t word_of(void *p) { return reinterpret_cast<intptr_t>(p); }

int apdu(picc *record, int code, Args &args) {
    if (!record) return vr::kENotSelected;
    auto *in = args.ptr<unsigned char>();
    auto *out = args.ptr<unsigned char>();
    auto *length = args.ptr<int>();
    const uint16_t header = is_cid_card(record) ? kCidApdu : kCpuApdu;
    switch (code) {
    case PICC_CTRL_APDU_HEX:
        return hex_command(reinterpret_cast<char *>(in), reinterpret_cast<char *>(out), length, header,
                           vr::kEGeneral);
    case PICC_CTRL_APDU_BYTES: return byte_command(in, out, length, header);
    case PICC_CTRL_APDU_BATCH_HEX:
        return apdu_batch_hex(record, reinterpret_cast<char *>(in), reinterpret_cast<char *>(out), length);
    default: return apdu_batch_bytes(record, in, out, length);
    }
}

int identity(picc *record, int code, Args &args) {
    switch (code) {
    case PICC_CTRL_ID_READ: {
        auto *buffer = args.ptr<void>();
        auto *length = args.ptr<void>();
        return identity_ctrl(record, buffer && length, PICC_CTRL_ID_EXCHANGE, word_of(buffer), word_of(length));
    }
    case PICC_CTRL_ID_WRITE: {
        auto *buffer = args.ptr<void>();
        auto *length = args.ptr<void>();
        return identity_ctrl(record, buffer && length, PICC_CTRL_ID_EXCHANGE, 0, 0, word_of(buffer),
                             word_of(length));
    }
    case PICC_CTRL_ID_FILE: {
        for (int i = 0; i < 4; ++i) args.word();
        auto *buffer = args.ptr<void>();
        auto *length = args.ptr<void>();
        return identity_ctrl(record, buffer && length, code, 0, 0, 0, 0, word_of(buffer), word_of(length));
    }
    case PICC_CTRL_ID_FINGERPRINT: {
        auto *buffer = args.ptr<void>();
        auto *length = args.ptr<void>();
        return identity_ctrl(record, buffer && length, code, word_of(buffer), word_of(length));
    }
    case PICC_CTRL_ID_EXCHANGE:
    case PICC_CTRL_ID_EXCHANGE6: {
        const int count = code == PICC_CTRL_ID_EXCHANGE ? 4 : 6;
        intptr_t w[6] = {};
        bool complete = true;
        for (int i = 0; i < count; ++i) {
            w[i] = word_of(args.ptr<void>());
            complete = complete && w[i] != 0;
        }
        return identity_ctrl(record, complete, code, w[0], w[1], w[2], w[3], w[4], w[5]);
    }
    default: return vr::kENoCmd;
    }
}

int clamped(int rc) { return rc < -1 ? -1 : rc; }

// Code 27: link encryption off (0), or on (1) with 8 random bytes from the
// reader as the session key.
int link_encryption(int value) {
    if (value == 0) {
        tessil.s_com.enc_on = 0;
        return 0;
    }
    if (value != 1) return -1;
    unsigned char key[8];
    const int rc = do_pcd_get_rand(key, sizeof key);
    if (rc == 0) {
        std::memcpy(tessil.s_com.enc_key, key, sizeof key);
        tessil.s_com.enc_on = 1;
    }
    return clamped(result_or_code(rc));
}

// Code 23: the audio modem's settings by sub-code; the result never goes
// below -1.
int audio_settings(int sub_code, int value) {
    switch (sub_code) {
    case 1: return vr::modem::set_uplink_alg(value);
    case 2: return vr::modem::set_suart_debug(value);
    case 3: return vr::modem::uplink_alg();
    case 4: return vr::modem::suart_debug();
    case 5: return vr::modem::up_short_width();
    case 6: {
        const int mid = vr::modem::level_mid();
        return mid < 0 ? -mid : mid;
    }
    case 7:
        com_alg_test1(value);
        return 0;
    case 8:
        tessil.s_com.timeout = value;
        return 0;
    case 9: return tessil.s_com.timeout;
    case 0: return audio_comm_test(value);
    default: return 0;
    }
}

// Code 48: the uplink algorithm and the uplink carrier frequency.
int uplink_info(int *words) {
    if (!words) return vr::kEArg;
    words[0] = vr::modem::uplink_alg();
    words[1] = signal_width2freq(vr::modem::up_short_width());
    return 0;
}

int dispatch(picc *record, int code, Args &args) {
    switch (code) {
    case PICC_CTRL_ANTENNA_OPEN: return result_or_code(pcd_antenna_open());
    case PICC_CTRL_ANTENNA_CLOSE: return result_or_code(pcd_antenna_close());
    case PICC_CTRL_SET_BAUD: return result_or_code(pcd_set_baud(args.byte()));
    case PICC_CTRL_SET_PROTOCOL: return result_or_code(pcd_set_protocol(args.byte()));
    case PICC_CTRL_SET_BUZZER: {
        const int a = args.byte();
        return result_or_code(pcd_set_buzzer(a, args.byte()));
    }
    case PICC_CTRL_SET_LED: {
        const int a = args.byte();
        return result_or_code(pcd_set_led(a, args.byte()));
    }
    case PICC_CTRL_SET_LEDR: {
        const int a = args.byte();
        return result_or_code(pcd_set_ledr(a, args.byte()));
    }
    case PICC_CTRL_SET_MID: return result_or_code(pcd_set_mid(args.ptr<unsigned char>()));
    case PICC_CTRL_GET_MID: return result_or_code(pcd_get_mid(args.ptr<unsigned char>()));
    case PICC_CTRL_SET_MSN: return result_or_code(pcd_set_msn(args.ptr<unsigned char>()));
    case PICC_CTRL_GET_MSN: return result_or_code(pcd_get_msn(args.ptr<unsigned char>()));
    case PICC_CTRL_SET_BRIGHTNESS: return result_or_code(pcd_set_brightness(args.byte()));
    case PICC_CTRL_SET_DATE: return result_or_code(pcd_set_date(args.ptr<unsigned char>()));
    case PICC_CTRL_SET_LCD_TEXT: return result_or_code(pcd_set_lcdstr(args.ptr<char>()));
    case PICC_CTRL_ULC_START_PAGE: return driver_ctrl(record, code, args.byte());
    case PICC_CTRL_DOWNLOAD_KEY: {
        const int index = args.byte();
        const int type = args.byte();
        auto *key = args.ptr<unsigned char>();
        return result_or_code(pcd_download_passwd(index, type, key, args.byte()));
    }
    case PICC_CTRL_AUDIO_SETTINGS: {
        const int sub_code = args.word();
        return clamped(audio_settings(sub_code, args.word()));
    }
    case PICC_CTRL_UPLINK_INFO: return uplink_info(args.ptr<int>());
    case PICC_CTRL_AUDIO_HANDSHAKE: return vr::modem::ctrl_handshake(args.word());
    case PICC_CTRL_AUDIO_PROGRESS: return signal_get_process();
    case PICC_CTRL_AUDIO_BEST_FREQ: return signal_best_frequence();
    case PICC_CTRL_AUDIO_CHANTEST: {
        const int kind = args.byte();
        return signal_chantest(kind, args.byte());
    }
    case PICC_CTRL_UPLINK_FREQ_TEST: return vr::modem::ctrl_uplink_freq_test(args.word());
    case PICC_CTRL_PORT_STATUS: return virt_com_status();
    case PICC_CTRL_LINK_ENCRYPTION: return link_encryption(args.word());
    case PICC_CTRL_BANK_INFO: {
        const int item = args.byte();
        return driver_ctrl(record, code, item, word_of(args.ptr<void>()));
    }
    case PICC_CTRL_CONNECT: return result_or_code(picc_connect(args.ptr<char>(), 0, 1, args.list()));
    case PICC_CTRL_CLOSE_PORT: return result_or_code(virt_com_close());
    case PICC_CTRL_RAW: return raw_length_prefixed(args.ptr<unsigned char>());
    case PICC_CTRL_RAW_HEX: {
        auto *in = args.ptr<char>();
        auto *out = args.ptr<char>();
        return hex_command(in, out, args.ptr<int>(), -1, vr::kENoMem);
    }
    case PICC_CTRL_RAW_BYTES: {
        auto *in = args.ptr<unsigned char>();
        auto *out = args.ptr<unsigned char>();
        return byte_command(in, out, args.ptr<int>(), -1);
    }
    case PICC_CTRL_APDU_HEX:
    case PICC_CTRL_APDU_BYTES:
    case PICC_CTRL_APDU_BATCH_HEX:
    case PICC_CTRL_APDU_BATCH_BYTES: return apdu(record, code, args);
    case PICC_CTRL_SAM_HEX: {
        auto *in = args.ptr<char>();
        auto *out = args.ptr<char>();
        return hex_command(in, out, args.ptr<int>(), kSamCommand, vr::kEGeneral);
    }
    case PICC_CTRL_SAM_BYTES: {
        auto *in = args.ptr<unsigned char>();
        auto *out = args.ptr<unsigned char>();
        return byte_command(in, out, args.ptr<int>(), kSamCommand);
    }
    case PICC_CTRL_BATTERY: return result_or_code(pcd_get_power(args.ptr<void>()));
    case PICC_CTRL_TAKE_EXCLUSIVE: return take_exclusive_use();
    case PICC_CTRL_RELEASE_EXCLUSIVE: return release_exclusive_use();
    case PICC_CTRL_GET_OTP_SN: return result_or_code(pcd_get_otp_sn(args.ptr<unsigned char>()));
    case PICC_CTRL_HARD_MODEL: {
        auto **word = args.ptr<unsigned char *>();
        if (!word) return vr::kEArg;
        *word = pcd_hard_model();
        return *word ? 0 : result_or_code(-1);
    }
    case PICC_CTRL_ULTRA_CONNECT: return result_or_code(picc_ultra_connect(args.ptr<char>(), 0, 1, args.list()));
    case PICC_CTRL_FIRMWARE_VERSION: return result_or_code(pcd_get_firmware_version(args.ptr<unsigned char>()));
    case PICC_CTRL_SET_ULC_KEY: return result_or_code(pcd_set_ulc_key(args.ptr<unsigned char>()));
    case PICC_CTRL_SET_DATAENC_KEY: return result_or_code(pcd_set_dataenc_key(args.ptr<unsigned char>()));
    case PICC_CTRL_GET_JACK: return result_or_code(pcd_get_jack(args.ptr<unsigned char>()));
    case PICC_CTRL_SET_VALIDCARD: return result_or_code(pcd_set_validcard(args.ptr<unsigned char>()));
    case PICC_CTRL_GET_VALIDCARD: return result_or_code(pcd_get_validcard(args.ptr<unsigned char>()));
    case PICC_CTRL_USB_VENDOR: return usb_link() ? tessil.s_com.attrib.usb.vendor_id : vr::kENoCmd;
    case PICC_CTRL_USB_PRODUCT: return usb_link() ? tessil.s_com.attrib.usb.product_id : vr::kENoCmd;
    case PICC_CTRL_CID_FILE: {
        auto *name = args.ptr<char>();
        auto *out = args.ptr<char>();
        auto *length = args.ptr<int>();
        log_print(2, "GET_CID_INFO %s:%x, %x, %x", "picc_ctrl_va", name ? name[0] : 0,
                  name && name[0] ? name[1] : 0, length ? *length : 0);
        return driver_ctrl(record, code, word_of(name), word_of(out), word_of(length));
    }
    case PICC_CTRL_ID_READ:
    case PICC_CTRL_ID_WRITE:
    case PICC_CTRL_ID_FILE:
    case PICC_CTRL_ID_EXCHANGE:
    case PICC_CTRL_ID_EXCHANGE6:
    case PICC_CTRL_ID_FINGERPRINT: return identity(record, code, args);
    case PICC_CTRL_SAM_RESET: return result_or_code(pcd_etc_sam_reset(args.ptr<unsigned char>()));
    case PICC_CTRL_IR_CONVERT: {
        auto *samples = args.ptr<uint8_t>();
        auto *out = args.ptr<uint8_t>();
        return result_or_code(vr::ir_convert_waveform(samples, out, args.ptr<int>()));
    }
    case PICC_CTRL_SET_BUZZER_EX: {
        const int a = args.byte();
        const int b = args.byte();
        const int value = static_cast<uint16_t>(args.word());
        return result_or_code(pcd_set_buzzer_ex(a, b, value, args.byte()));
    }
    // The bank card purchase (50, 51) is not part of this build; like every
    // code outside the table it is refused.
    default: return vr::kENoCmd;
    }
}

}  // namespace

VR_API int picc_ctrl_va(picc *record, int code, va_list arguments) {
    if (check_api_version(static_cast<int>(tessil.family & 0xFF)) != 0) picc_regapi(VR_FAMILY_FIRST);
    vr::MutexHold hold(&tessil.api_lock);
    if (code > kMaxCode || code < 0) return vr::kENoCmd;
    Args args(arguments);
    return dispatch(record, code, args);
}

VR_API int picc_ctrl(picc *record, int code, ...) {
    va_list list;
    va_start(list, code);
    const int rc = picc_ctrl_va(record, code, list);
    va_end(list);
    return rc;
}
