// The control dispatcher: one numbered entry for everything the host may
// ask of the reader, the link, the modem or a card driver that has no card
// operation of its own. Each code is one row of the control table, which
// reads the code's arguments and hands them to the layer that owns the
// work; the card framework's own codes (exclusive use, the codes a card
// driver answers, the APDU forms) are here too.
#include <pthread.h>
#include <strings.h>

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "audio.h"
#include "card/ir_convert.h"
#include "card/purchase.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "core/lock.h"
#include "link/audio_link.h"
#include "link/link.h"
#include "link/raw_command.h"
#include "log.h"
#include "modem/control.h"
#include "pboc_text.h"
#include "pcd.h"
#include "picc.h"
#include "port/port.h"
#include "suart_signal.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

// Reader command codes the control codes put in front of APDUs.
constexpr uint16_t kCpuApdu = 0x0211;
constexpr uint16_t kCpuBatch = 0x0215;
constexpr uint16_t kCidApdu = 0x0303;
constexpr uint16_t kCidBatch = 0x0305;
constexpr uint16_t kSamCommand = 0x0404;

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

intptr_t word_of(void *p) { return reinterpret_cast<intptr_t>(p); }

// ---- the card framework's own codes

// The card-type header of APDU commands: CID cards use their own.
bool is_cid_card(const picc *record) {
    return record->picc_type && strncasecmp(record->picc_type, "CID CARD", 8) == 0;
}

// Codes 40, 41, 53, 54: an APDU (or a batch) to the record's card, behind
// the command code of its card type. The record is checked before any
// argument is read.
int apdu(picc *record, int code, Args &args) {
    if (!record) return vr::kENotSelected;
    auto *in = args.ptr<unsigned char>();
    auto *out = args.ptr<unsigned char>();
    auto *length = args.ptr<int>();
    const bool cid = is_cid_card(record);
    switch (code) {
    case PICC_CTRL_APDU_HEX:
        return vr::link::hex_command(reinterpret_cast<char *>(in), reinterpret_cast<char *>(out), length,
                                     cid ? kCidApdu : kCpuApdu, vr::kEGeneral);
    case PICC_CTRL_APDU_BYTES: return vr::link::byte_command(in, out, length, cid ? kCidApdu : kCpuApdu);
    case PICC_CTRL_APDU_BATCH_HEX:
        return vr::link::batch_hex(cid ? kCidBatch : kCpuBatch, reinterpret_cast<char *>(in),
                                   reinterpret_cast<char *>(out), length);
    default: return vr::link::byte_command(in, out, length, cid ? kCidBatch : kCpuBatch);
    }
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

// Driver-specific codes go to the record's own control operation.
int driver_ctrl(picc *record, int code, intptr_t a = 0, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0,
                intptr_t e = 0, intptr_t f = 0) {
    if (!record) return vr::kENotSelected;
    if (!record->ctrl) return vr::kENoCmd;
    return vr::result_or_code(record->ctrl(record, code, a, b, c, d, e, f));
}

// Identity-card codes: the record and every buffer and length argument
// must be present; 0 when the driver succeeds, else the error code.
int identity_ctrl(picc *record, bool complete, int code, intptr_t a, intptr_t b, intptr_t c = 0,
                  intptr_t d = 0, intptr_t e = 0, intptr_t f = 0) {
    if (!record || !complete) return vr::kEArg;
    if (!record->ctrl) return vr::kENoCmd;
    return record->ctrl(record, code, a, b, c, d, e, f) == 0 ? 0 : vr::result_or_code(-1);
}

// Codes 69, 71 and 79: a buffer and its length.
int identity_buffer(picc *record, Args &args, int code, bool second_pair) {
    auto *buffer = args.ptr<void>();
    auto *length = args.ptr<void>();
    const bool complete = buffer && length;
    if (second_pair) return identity_ctrl(record, complete, code, 0, 0, word_of(buffer), word_of(length));
    return identity_ctrl(record, complete, code, word_of(buffer), word_of(length));
}

// Codes 73 and 74: four or six words, none of them empty.
int identity_words(picc *record, Args &args, int code, int count) {
    intptr_t w[6] = {};
    bool complete = true;
    for (int i = 0; i < count; ++i) {
        w[i] = word_of(args.ptr<void>());
        complete = complete && w[i] != 0;
    }
    return identity_ctrl(record, complete, code, w[0], w[1], w[2], w[3], w[4], w[5]);
}

// Code 70: a file of the CID card by name.
int cid_file(picc *record, Args &args) {
    auto *name = args.ptr<char>();
    auto *out = args.ptr<char>();
    auto *length = args.ptr<int>();
    log_print(2, "GET_CID_INFO %s:%x, %x, %x", "picc_ctrl_va", name ? name[0] : 0, name && name[0] ? name[1] : 0,
              length ? *length : 0);
    return driver_ctrl(record, PICC_CTRL_CID_FILE, word_of(name), word_of(out), word_of(length));
}

// Codes 50 and 51: a purchase step with hexadecimal text in and out. The
// input is decoded into a work buffer that also takes the step's result.
constexpr int kPurchaseWork = 2048;

int purchase(picc *record, Args &args, vr::PurchaseStep step) {
    if (!record) return vr::kENotSelected;
    const auto *in = args.ptr<char>();
    auto *out = args.ptr<char>();
    auto *length = args.ptr<int>();
    if (!in || !out || !length) return vr::kEArg;
    vr::CMemory<uint8_t> work(static_cast<uint8_t *>(std::calloc(1, kPurchaseWork)));
    if (!work) return vr::kENoMem;
    if (pboc_str2data(in, work.get(), kPurchaseWork) != 0) return vr::kEGeneral;
    uint16_t result_length = 0;
    if (step(record, work.get(), static_cast<int>(std::strlen(in) / 2), work.get(), &result_length) != 0)
        return vr::result_or_code(-1);
    vr::CMemory<char> text(pboc_data2str(work.get(), result_length));
    if (!text) return vr::kENoMem;
    std::memcpy(out, text.get(), 2u * result_length + 1);
    *length = 2 * result_length;
    return 0;
}

// Code 46: the reader's model text into the caller's word.
int hard_model(unsigned char **word) {
    if (!word) return vr::kEArg;
    *word = pcd_hard_model();
    return *word ? 0 : vr::result_or_code(-1);
}

// ---- the control table

using vr::result_or_code;

// One control code: reads the code's arguments (in order, one word each)
// and runs it; the result is the control result.
struct Control {
    int code;
    int (*run)(picc *record, Args &args);
};

// The control codes in ascending order. Codes without a row answer -22.
constexpr Control kControls[] = {
    {PICC_CTRL_ANTENNA_OPEN, [](picc *, Args &) { return result_or_code(pcd_antenna_open()); }},
    {PICC_CTRL_ANTENNA_CLOSE, [](picc *, Args &) { return result_or_code(pcd_antenna_close()); }},
    {PICC_CTRL_SET_BAUD, [](picc *, Args &a) { return result_or_code(pcd_set_baud(a.byte())); }},
    {PICC_CTRL_SET_PROTOCOL, [](picc *, Args &a) { return result_or_code(pcd_set_protocol(a.byte())); }},
    {PICC_CTRL_SET_BUZZER,
     [](picc *, Args &a) {
         const int first = a.byte();
         return result_or_code(pcd_set_buzzer(first, a.byte()));
     }},
    {PICC_CTRL_SET_LED,
     [](picc *, Args &a) {
         const int first = a.byte();
         return result_or_code(pcd_set_led(first, a.byte()));
     }},
    {PICC_CTRL_SET_LEDR,
     [](picc *, Args &a) {
         const int first = a.byte();
         return result_or_code(pcd_set_ledr(first, a.byte()));
     }},
    {PICC_CTRL_SET_MID, [](picc *, Args &a) { return result_or_code(pcd_set_mid(a.ptr<unsigned char>())); }},
    {PICC_CTRL_GET_MID, [](picc *, Args &a) { return result_or_code(pcd_get_mid(a.ptr<unsigned char>())); }},
    {PICC_CTRL_SET_MSN, [](picc *, Args &a) { return result_or_code(pcd_set_msn(a.ptr<unsigned char>())); }},
    {PICC_CTRL_GET_MSN, [](picc *, Args &a) { return result_or_code(pcd_get_msn(a.ptr<unsigned char>())); }},
    {PICC_CTRL_SET_BRIGHTNESS, [](picc *, Args &a) { return result_or_code(pcd_set_brightness(a.byte())); }},
    {PICC_CTRL_SET_DATE, [](picc *, Args &a) { return result_or_code(pcd_set_date(a.ptr<unsigned char>())); }},
    {PICC_CTRL_SET_LCD_TEXT, [](picc *, Args &a) { return result_or_code(pcd_set_lcdstr(a.ptr<char>())); }},
    {PICC_CTRL_ULC_START_PAGE,
     [](picc *record, Args &a) { return driver_ctrl(record, PICC_CTRL_ULC_START_PAGE, a.byte()); }},
    {PICC_CTRL_DOWNLOAD_KEY,
     [](picc *, Args &a) {
         const int index = a.byte();
         const int type = a.byte();
         auto *key = a.ptr<unsigned char>();
         return result_or_code(pcd_download_passwd(index, type, key, a.byte()));
     }},
    {PICC_CTRL_AUDIO_HANDSHAKE, [](picc *, Args &a) { return vr::link::control_handshake(a.word()); }},
    {PICC_CTRL_AUDIO_PROGRESS, [](picc *, Args &) { return signal_get_process(); }},
    {PICC_CTRL_AUDIO_BEST_FREQ, [](picc *, Args &) { return signal_best_frequence(); }},
    {PICC_CTRL_AUDIO_CHANTEST,
     [](picc *, Args &a) {
         const int kind = a.byte();
         return signal_chantest(kind, a.byte());
     }},
    {PICC_CTRL_AUDIO_SETTINGS,
     [](picc *, Args &a) {
         const int sub_code = a.word();
         const int value = a.word();
         // Sub-code 0 is an echo test through the reader (the link's work);
         // the others are the modem's settings.
         return vr::clamped(sub_code == 0 ? audio_comm_test(value) : vr::modem::control_settings(sub_code, value));
     }},
    {PICC_CTRL_UPLINK_FREQ_TEST, [](picc *, Args &a) { return vr::link::control_uplink_freq_test(a.word()); }},
    {PICC_CTRL_PORT_STATUS, [](picc *, Args &) { return virt_com_status(); }},
    {PICC_CTRL_LINK_ENCRYPTION, [](picc *, Args &a) { return vr::link::set_encryption(a.word()); }},
    {PICC_CTRL_BANK_INFO,
     [](picc *record, Args &a) {
         const int item = a.byte();
         return driver_ctrl(record, PICC_CTRL_BANK_INFO, item, word_of(a.ptr<void>()));
     }},
    {PICC_CTRL_CONNECT,
     [](picc *, Args &a) { return result_or_code(picc_connect(a.ptr<char>(), 0, 1, a.list())); }},
    {PICC_CTRL_CLOSE_PORT, [](picc *, Args &) { return result_or_code(virt_com_close()); }},
    {PICC_CTRL_RAW, [](picc *, Args &a) { return vr::link::raw_length_prefixed(a.ptr<unsigned char>()); }},
    {PICC_CTRL_RAW_HEX,
     [](picc *, Args &a) {
         auto *in = a.ptr<char>();
         auto *out = a.ptr<char>();
         return vr::link::hex_command(in, out, a.ptr<int>(), vr::link::kNoHeader, vr::kENoMem);
     }},
    {PICC_CTRL_RAW_BYTES,
     [](picc *, Args &a) {
         auto *in = a.ptr<unsigned char>();
         auto *out = a.ptr<unsigned char>();
         return vr::link::byte_command(in, out, a.ptr<int>(), vr::link::kNoHeader);
     }},
    {PICC_CTRL_APDU_HEX, [](picc *record, Args &a) { return apdu(record, PICC_CTRL_APDU_HEX, a); }},
    {PICC_CTRL_APDU_BYTES, [](picc *record, Args &a) { return apdu(record, PICC_CTRL_APDU_BYTES, a); }},
    {PICC_CTRL_BATTERY, [](picc *, Args &a) { return result_or_code(pcd_get_power(a.ptr<void>())); }},
    {PICC_CTRL_TAKE_EXCLUSIVE, [](picc *, Args &) { return take_exclusive_use(); }},
    {PICC_CTRL_RELEASE_EXCLUSIVE, [](picc *, Args &) { return release_exclusive_use(); }},
    {PICC_CTRL_GET_OTP_SN, [](picc *, Args &a) { return result_or_code(pcd_get_otp_sn(a.ptr<unsigned char>())); }},
    {PICC_CTRL_HARD_MODEL, [](picc *, Args &a) { return hard_model(a.ptr<unsigned char *>()); }},
    {PICC_CTRL_ULTRA_CONNECT,
     [](picc *, Args &a) { return result_or_code(picc_ultra_connect(a.ptr<char>(), 0, 1, a.list())); }},
    {PICC_CTRL_UPLINK_INFO, [](picc *, Args &a) { return vr::modem::control_uplink_info(a.ptr<int>()); }},
    {PICC_CTRL_PURCHASE_INIT,
     [](picc *record, Args &a) { return purchase(record, a, vr::purchase_steps().start); }},
    {PICC_CTRL_PURCHASE_END, [](picc *record, Args &a) { return purchase(record, a, vr::purchase_steps().end); }},
    {PICC_CTRL_APDU_BATCH_HEX, [](picc *record, Args &a) { return apdu(record, PICC_CTRL_APDU_BATCH_HEX, a); }},
    {PICC_CTRL_APDU_BATCH_BYTES,
     [](picc *record, Args &a) { return apdu(record, PICC_CTRL_APDU_BATCH_BYTES, a); }},
    {PICC_CTRL_IR_CONVERT,
     [](picc *, Args &a) {
         auto *samples = a.ptr<uint8_t>();
         auto *out = a.ptr<uint8_t>();
         return result_or_code(vr::ir_convert_waveform(samples, out, a.ptr<int>()));
     }},
    {PICC_CTRL_FIRMWARE_VERSION,
     [](picc *, Args &a) { return result_or_code(pcd_get_firmware_version(a.ptr<unsigned char>())); }},
    {PICC_CTRL_SET_ULC_KEY, [](picc *, Args &a) { return result_or_code(pcd_set_ulc_key(a.ptr<unsigned char>())); }},
    {PICC_CTRL_SET_DATAENC_KEY,
     [](picc *, Args &a) { return result_or_code(pcd_set_dataenc_key(a.ptr<unsigned char>())); }},
    {PICC_CTRL_GET_JACK, [](picc *, Args &a) { return result_or_code(pcd_get_jack(a.ptr<unsigned char>())); }},
    {PICC_CTRL_SET_VALIDCARD,
     [](picc *, Args &a) { return result_or_code(pcd_set_validcard(a.ptr<unsigned char>())); }},
    {PICC_CTRL_GET_VALIDCARD,
     [](picc *, Args &a) { return result_or_code(pcd_get_validcard(a.ptr<unsigned char>())); }},
    {PICC_CTRL_USB_VENDOR, [](picc *, Args &) { return vr::port::usb_vendor_id(); }},
    {PICC_CTRL_USB_PRODUCT, [](picc *, Args &) { return vr::port::usb_product_id(); }},
    {PICC_CTRL_ID_READ,
     [](picc *record, Args &a) { return identity_buffer(record, a, PICC_CTRL_ID_EXCHANGE, false); }},
    {PICC_CTRL_CID_FILE, [](picc *record, Args &a) { return cid_file(record, a); }},
    {PICC_CTRL_ID_WRITE,
     [](picc *record, Args &a) { return identity_buffer(record, a, PICC_CTRL_ID_EXCHANGE, true); }},
    {PICC_CTRL_ID_FILE,
     [](picc *record, Args &a) {
         for (int i = 0; i < 4; ++i) a.word();  // four words the driver does not use
         auto *buffer = a.ptr<void>();
         auto *length = a.ptr<void>();
         return identity_ctrl(record, buffer && length, PICC_CTRL_ID_FILE, 0, 0, 0, 0, word_of(buffer),
                              word_of(length));
     }},
    {PICC_CTRL_ID_EXCHANGE, [](picc *record, Args &a) { return identity_words(record, a, PICC_CTRL_ID_EXCHANGE, 4); }},
    {PICC_CTRL_ID_EXCHANGE6,
     [](picc *record, Args &a) { return identity_words(record, a, PICC_CTRL_ID_EXCHANGE6, 6); }},
    {PICC_CTRL_SAM_HEX,
     [](picc *, Args &a) {
         auto *in = a.ptr<char>();
         auto *out = a.ptr<char>();
         return vr::link::hex_command(in, out, a.ptr<int>(), kSamCommand, vr::kEGeneral);
     }},
    {PICC_CTRL_SAM_BYTES,
     [](picc *, Args &a) {
         auto *in = a.ptr<unsigned char>();
         auto *out = a.ptr<unsigned char>();
         return vr::link::byte_command(in, out, a.ptr<int>(), kSamCommand);
     }},
    {PICC_CTRL_SAM_RESET, [](picc *, Args &a) { return result_or_code(pcd_etc_sam_reset(a.ptr<unsigned char>())); }},
    {PICC_CTRL_ID_FINGERPRINT,
     [](picc *record, Args &a) { return identity_buffer(record, a, PICC_CTRL_ID_FINGERPRINT, false); }},
    {PICC_CTRL_SET_BUZZER_EX,
     [](picc *, Args &a) {
         const int first = a.byte();
         const int second = a.byte();
         const int value = static_cast<uint16_t>(a.word());
         return result_or_code(pcd_set_buzzer_ex(first, second, value, a.byte()));
     }},
};

constexpr bool ascending_within_range() {
    int last = -1;
    for (const Control &c : kControls) {
        if (c.code <= last || c.code > kMaxCode || !c.run) return false;
        last = c.code;
    }
    return true;
}
static_assert(ascending_within_range(), "control rows: one per code, ascending, 0..80, each with its handler");

// The handler of each code, or null, indexed by code.
constexpr std::array<int (*)(picc *, Args &), kMaxCode + 1> index_controls() {
    std::array<int (*)(picc *, Args &), kMaxCode + 1> by_code{};
    for (const Control &c : kControls) by_code[static_cast<std::size_t>(c.code)] = c.run;
    return by_code;
}
constexpr auto kByCode = index_controls();

}  // namespace

VR_API int picc_ctrl_va(picc *record, int code, va_list arguments) {
    if (!vr::link::family_registered()) picc_regapi(VR_FAMILY_FIRST);
    vr::MutexHold hold(&tessil.api_lock);
    if (code > kMaxCode || code < 0) return vr::kENoCmd;
    const auto run = kByCode[static_cast<std::size_t>(code)];
    if (!run) return vr::kENoCmd;
    Args args(arguments);
    return run(record, args);
}

VR_API int picc_ctrl(picc *record, int code, ...) {
    va_list list;
    va_start(list, code);
    const int rc = picc_ctrl_va(record, code, list);
    va_end(list);
    return rc;
}
