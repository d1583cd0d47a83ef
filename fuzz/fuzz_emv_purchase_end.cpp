// The purchase end with the issuer's answer taken from the fuzz bytes: its
// issuer authentication data (91), the response code and what CDOL2 asks,
// scripts of 71 and 72 and the commands in them, and the card's answers
// to EXTERNAL AUTHENTICATE, the second GENERATE AC and the script commands.
// A purchase start against a well-behaved card runs first, so that the end
// has an application. Input: a configuration byte (the CDOL2 the card
// names; the end through control code 51 in hexadecimal), the issuer
// answer's length and bytes, then the card's further replies (framed by
// the device).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emv.h"
#include "fuzz_support.h"
#include "pboc_text.h"
#include "picc.h"

namespace {

using vrfuzz::exact;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kInput[] = {0x9F, 0x02, 0x06, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x95, 0x05, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x9A, 0x03, 0x24, 0x05, 0x17, 0x9C, 0x01, 0x00};

// A reply item of the device: the body's length, status 0, the answer and
// 90 00.
void answer(Bytes &items, Bytes data) {
    data.push_back(0x90);
    data.push_back(0x00);
    items.push_back(static_cast<uint8_t>(data.size() + 1));
    items.push_back(0x00);
    items.insert(items.end(), data.begin(), data.end());
}

// The card's answers to a whole purchase start: the environment, its one
// directory record, the application, format-1 processing options naming
// one record, that record (with the CDOL2 the configuration picks), and a
// format-1 first GENERATE AC.
Bytes start_answers(uint8_t config) {
    Bytes items;
    answer(items, {0x6F, 0x05, 0xA5, 0x03, 0x88, 0x01, 0x01});
    answer(items, {0x70, 0x08, 0x61, 0x06, 0x4F, 0x01, 0xA0, 0x50, 0x01, 'X'});
    answer(items, {0x6F, 0x03, 0x84, 0x01, 0xA0});
    answer(items, {0x80, 0x06, 0x7C, 0x00, 0x08, 0x01, 0x01, 0x00});
    Bytes record{0x5A, 0x01, 0x11, 0x5F, 0x24, 0x01, 0x22, 0x5F, 0x34, 0x01, 0x01};
    if (config & 0x01) record.insert(record.end(), {0x8D, 0x04, 0x8A, 0x02, 0x9F, 0x02});
    if (config & 0x02) record.insert(record.end(), {0x8D, 0x06, 0x9F, 0x4E, 0xFF, 0x9F, 0x4E, 0xFF});  // too long
    Bytes wrapped{0x70, static_cast<uint8_t>(record.size())};
    wrapped.insert(wrapped.end(), record.begin(), record.end());
    answer(items, wrapped);
    answer(items, {0x80, 0x0C, 0x80, 0x00, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 0x07});
    return items;
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const auto issuer = in.take(in.u16() % (EMV_OUT_SIZE + 1));
    Bytes replies = start_answers(config);
    const auto rest = in.rest();
    replies.insert(replies.end(), rest.begin(), rest.end());
    vrfuzz::DeviceOptions options;
    options.framed = true;
    vrfuzz::install_device(replies, 3, 100, options);

    picc card{};
    auto message = exact(EMV_OUT_SIZE);
    uint16_t length = 0;
    check(pboc_emv_purchase_init(&card, kInput, sizeof kInput, message.get(), &length) == 0, "the start runs");

    if (config & 0x80) {
        char *hex = pboc_data2str(issuer.data(), static_cast<int>(issuer.size()));
        auto text = exact<char>(2 * EMV_OUT_SIZE + 1);
        int n = -1;
        if (picc_ctrl(&card, PICC_CTRL_PURCHASE_END, hex, text.get(), &n) == 0)
            check(n >= 0 && n <= 2 * EMV_OUT_SIZE && text[static_cast<size_t>(n)] == '\0', "end text length");
        std::free(hex);
        return;
    }
    // The answer is given in the out buffer itself, as control code 51 does.
    auto buffer = exact(EMV_OUT_SIZE);
    std::memcpy(buffer.get(), issuer.data(), issuer.size());
    uint16_t out_length = 0;
    const int rc = pboc_emv_purchase_end(&card, buffer.get(), static_cast<int>(issuer.size()), buffer.get(),
                                         &out_length);
    check(rc == 0 || rc == -1, "end result");
    if (rc == 0) check(out_length <= EMV_OUT_SIZE, "end output length");
    // A second end finds the application only when the first kept it.
    pboc_emv_purchase_end(&card, buffer.get(), 0, buffer.get(), &out_length);
}
