// Reply handling of the reader commands and of the control codes that pass
// commands and APDUs through, over a reader that sends the fuzz bytes:
// getters of fixed-size replies, the model text, the battery scale, link
// encryption switched on with the reader's random bytes (later replies are
// then enciphered), raw and APDU pass-through in hexadecimal and in bytes,
// and APDU batches whose answers are split into items. Input: a
// configuration byte, the number of operations (1..4) and their bytes,
// then the reader's replies (framed by the device, or raw bytes).
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "pcd.h"
#include "picc.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

// Reply buffers as the control interface sizes them: the largest reply,
// and twice that plus one as hexadecimal text.
constexpr size_t kReplyBytes = VIRT_COM_RSP_MAX;
constexpr size_t kReplyText = 2 * VIRT_COM_RSP_MAX + 1;

using vrfuzz::exact;

void getters(uint8_t which) {
    switch (which % 9) {
    case 0: pcd_get_mid(exact(1).get()); break;
    case 1: pcd_get_msn(exact(8).get()); break;
    case 2: pcd_get_otp_sn(exact(8).get()); break;
    case 3: pcd_get_firmware_version(exact(16).get()); break;
    case 4: pcd_etc_sam_reset(exact(16).get()); break;
    case 5: pcd_get_jack(exact(2).get()); break;
    case 6: pcd_get_validcard(exact(2).get()); break;
    case 7: {
        const int percent = pcd_get_power(nullptr);
        vrfuzz::check(percent >= -1 && percent <= 100, "battery percent");
        break;
    }
    default:
        pcd_get_package_max_size();
        pcd_get_uart_mode();
        pcd_get_uart_intern_delay();
        break;
    }
}

void run(picc *record, uint8_t kind, uint8_t arg) {
    int length = 0;
    switch (kind % 10) {
    case 0: getters(arg); break;
    case 1: std::free(pcd_hard_model()); break;
    case 2: picc_ctrl(record, PICC_CTRL_LINK_ENCRYPTION, 1); break;
    case 3: {
        auto out = exact<char>(kReplyText);
        if (picc_ctrl(record, PICC_CTRL_RAW_HEX, "0301", out.get(), &length) == 0)
            vrfuzz::check(length >= 0 && static_cast<size_t>(length) < kReplyText &&
                              out[static_cast<size_t>(length)] == '\0',
                          "raw hex reply");
        break;
    }
    case 4: {
        const unsigned char in[6] = {0x08, 0x02, 0x04, 0x00, 0x00, 0x00};
        auto out = exact(kReplyBytes);
        length = 3 + arg % 4;
        if (picc_ctrl(record, PICC_CTRL_RAW_BYTES, in, out.get(), &length) == 0)
            vrfuzz::check(length >= 0 && static_cast<size_t>(length) <= kReplyBytes, "raw reply length");
        break;
    }
    case 5: {
        auto out = exact<char>(kReplyText);
        picc_ctrl(record, PICC_CTRL_APDU_HEX, "00A404000E315041592E5359532E444446303100", out.get(), &length);
        break;
    }
    case 6: {
        const unsigned char select[] = {0x00, 0xB2, 0x01, 0x0C, 0x00};
        auto out = exact(kReplyBytes);
        length = sizeof select;
        picc_ctrl(record, PICC_CTRL_APDU_BYTES, select, out.get(), &length);
        break;
    }
    case 7: {
        auto out = exact<char>(kReplyText);
        if (picc_ctrl(record, PICC_CTRL_APDU_BATCH_HEX, "00A4040007A0000003330101,00B2010C00,,80CA9F7900",
                      out.get(), &length) == 0)
            vrfuzz::check(length >= 1 && static_cast<size_t>(length) <= kReplyText &&
                              out[static_cast<size_t>(length - 1)] == '\0',
                          "batch text length");
        break;
    }
    case 8: {
        const unsigned char batch[] = {0x00, 0x05, 0x00, 0xB2, 0x01, 0x0C, 0x00, 0x00, 0x00};
        auto out = exact(kReplyBytes);
        length = sizeof batch;
        picc_ctrl(record, PICC_CTRL_APDU_BATCH_BYTES, batch, out.get(), &length);
        break;
    }
    default: {
        // Code 34: big-endian length and command in, the reply in place.
        auto buffer = exact(2 + kReplyBytes);
        const unsigned char command[] = {0x00, 0x02, 0x03, 0x01};
        std::memcpy(buffer.get(), command, sizeof command);
        if (picc_ctrl(record, PICC_CTRL_RAW, buffer.get()) == 0)
            vrfuzz::check((buffer[0] << 8 | buffer[1]) <= static_cast<int>(kReplyBytes), "raw reply length");
        break;
    }
    }
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const int count = 1 + in.byte() % 4;
    std::vector<std::pair<uint8_t, uint8_t>> ops;
    for (int i = 0; i < count; ++i) {
        const uint8_t kind = in.byte();
        ops.emplace_back(kind, in.byte());
    }
    vrfuzz::DeviceOptions options;
    options.short_count = config & 0x01;
    options.zeros_at_end = config & 0x04;
    options.framed = !(config & 0x08);
    vrfuzz::install_device(in.rest(), config & 0x30 ? vrfuzz::protocol_from(config >> 4) : 3, 100, options);

    auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    record->picc_type = strdup(config & 0x02 ? "CID CARD" : "CPU CARD");
    for (const auto &[kind, arg] : ops) run(record, kind, arg);
    picc_free(record);
}
