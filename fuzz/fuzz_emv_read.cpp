// The EMV flows' reading of card answers, with the card answering the fuzz
// bytes: the payment environment and its directory, the application's
// selection, GET PROCESSING OPTIONS in both formats, the AFL and the records
// it names, GET DATA, the first GENERATE AC and the online message built
// from it all. Input: a configuration byte (which flow; PDOL, CDOL1 and
// CDOL2 of the application for the reading steps), then the reader's
// replies (framed by the device: status byte, then the card's answer).
#include <cstdlib>
#include <cstring>

#include "emv.h"
#include "fuzz_support.h"
#include "picc.h"

namespace {

using vrfuzz::exact;

tlv_object object(uint16_t tag, std::initializer_list<uint8_t> value) {
    tlv_object o{};
    o.tag = tag;
    o.length = static_cast<uint8_t>(value.size());
    std::copy(value.begin(), value.end(), o.value);
    return o;
}

// A transaction input with everything the online message takes from it.
constexpr uint8_t kInput[] = {0x9F, 0x02, 0x06, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x95, 0x05, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x9A, 0x03, 0x24, 0x05, 0x17, 0x9C, 0x01, 0x00};

constexpr const char *kInputText = "9F0206000000000100950500000000009A032405179C0100";

void check_records(int ok, const tlv_object *records, int count) {
    vrfuzz::check(ok == 0 || ok == 1, "reading result");
    vrfuzz::check(count >= 0 && (count == 0 || records), "records count");
    for (int i = 0; i < count; ++i) vrfuzz::check(records[i].tag != 0, "record without tag");
}

void read_application(uint8_t config) {
    emv_application app{};
    if (config & 0x10) app.pdol = object(0x9F38, {0x9F, 0x66, 0x04, 0x9F, 0x02, 0x06, 0x9F, 0x37, 0x04});
    tlv_object *records = nullptr;
    int count = 0;
    const int ok = config & 0x20 ? get_records_purchase(&app, &records, &count, kInput, sizeof kInput)
                                 : get_records(&app, &records, &count);
    check_records(ok, records, count);
    std::free(records);
    vrfuzz::check(app.cdol1.length == 0 || app.cdol1.tag == 0x8C, "CDOL1 tag");
    vrfuzz::check(app.cdol2.length == 0 || app.cdol2.tag == 0x8D, "CDOL2 tag");
}

void select(void) {
    emv_application app{};
    if (get_application(&app) == 1) {
        vrfuzz::check(app.aid.length > 0 && app.label.length > 0, "application without AID or label");
        select_application(&app);
    }
}

void purchase_start(picc *card, bool through_control) {
    if (through_control) {
        auto out = exact<char>(2 * EMV_OUT_SIZE + 1);
        int length = -1;
        if (picc_ctrl(card, PICC_CTRL_PURCHASE_INIT, kInputText, out.get(), &length) == 0)
            vrfuzz::check(length >= 0 && length <= 2 * EMV_OUT_SIZE && out[static_cast<size_t>(length)] == '\0',
                          "purchase text length");
        return;
    }
    auto out = exact(EMV_OUT_SIZE);
    uint16_t length = 0;
    if (pboc_emv_purchase_init(card, kInput, sizeof kInput, out.get(), &length) == 0) {
        vrfuzz::check(length >= 4 && length <= EMV_OUT_SIZE, "online message length");
        const size_t first = static_cast<size_t>(out[0] << 8 | out[1]);
        vrfuzz::check(first + 4 <= length, "online message parts");
    }
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    vrfuzz::DeviceOptions options;
    options.framed = true;
    vrfuzz::install_device(in.rest(), 3, 100, options);
    picc card{};
    switch (config % 5) {
    case 0: read_application(config); break;
    case 1: select(); break;
    case 2: purchase_start(&card, config & 0x40); break;
    case 3: pboc_emv_info(&card); break;
    default:
        // A fresh start after another: the first application is dropped.
        purchase_start(&card, false);
        purchase_start(&card, true);
        break;
    }
}
