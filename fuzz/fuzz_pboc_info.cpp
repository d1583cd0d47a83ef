// The bank card's information: the reading through control code 31 with the
// card answering the fuzz bytes (SELECT, the records of SFI 1, GET DATA of
// the balance), or the decoding of hexadecimal record text given directly;
// then every text of the table, whose masks must hide exactly what they
// promise. Input: a configuration byte (bit 0: decode text; bits 1-4: the
// item asked for), then the reader's replies (framed by the device) or the
// text.
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "pboc.h"

namespace {

// The mask keeps all but the last `hidden` characters and stars those.
void check_mask(const char *plain, const char *mask, size_t hidden, const char *what) {
    if (!plain) {
        vrfuzz::check(mask == nullptr, what);
        return;
    }
    vrfuzz::check(mask && std::strlen(mask) == std::strlen(plain), what);
    const size_t n = std::strlen(plain), kept = n > hidden ? n - hidden : 0;
    vrfuzz::check(std::strncmp(plain, mask, kept) == 0, what);
    for (size_t i = kept; i < n; ++i) vrfuzz::check(mask[i] == '*', what);
}

void check_table(picc *record) {
    for (auto get : {pboc_info_uuid, pboc_info_msd2, pboc_info_name, pboc_info_identype, pboc_info_idennum,
                     pboc_info_qbocvalue})
        if (const char *t = get(record)) vrfuzz::check(std::strlen(t) % 2 == 0, "tag values are hexadecimal");
    check_mask(pboc_get_pan(record), pboc_get_panmask(record), 4, "card number mask");
    check_mask(pboc_get_nameascii(record), pboc_get_nameasciimask(record), 1, "name mask");
    check_mask(pboc_get_idennumascii(record), pboc_get_idennumasciimask(record), 4, "ID number mask");
    if (const char *pan = pboc_get_pan(record))
        vrfuzz::check(std::strncmp(pan, pboc_get_msd2(record), std::strlen(pan)) == 0, "number from track 2");
    if (const char *date = pboc_get_validdate(record))
        vrfuzz::check(std::strlen(date) == 5 && date[2] == '/', "expiry as MM/YY");
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    pboc_init(record);
    if (config & 0x01) {
        const auto text = c_string(in.rest());
        pboc_info_decode(record, text.get());
    } else {
        vrfuzz::DeviceOptions options;
        options.framed = true;
        vrfuzz::install_device(in.rest(), 3, 100, options);
        record->uid_len = 4;
        const char *text = nullptr;
        const int item = (config >> 1) % 12;
        const int rc = picc_ctrl(record, PICC_CTRL_BANK_INFO, item, &text);
        vrfuzz::check(rc <= 0, "control result");
        if (rc == 0) vrfuzz::check(item < 11, "items 0..10 only");
    }
    check_table(record);
    picc_free(record);
}
