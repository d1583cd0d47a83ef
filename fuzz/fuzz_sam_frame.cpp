// The SAM message layer: answer frames taken apart directly, and the SAM
// operations and the id_sam driver's control codes over a reader whose
// replies carry the fuzzed SAM answers, with caller capacities from the
// input. Input: a mode byte; mode 0 and 1 feed the rest to sam_unserial
// and sam_unserial_shortcut; otherwise a configuration byte
// (install_card_device), an operation, three capacities (high, low), then
// the replies (long SAM answers as F3 items).
#include <cstring>

#include "fuzz_support.h"
#include "identity.h"
#include "picc.h"

namespace {

using vrfuzz::check;
using vrfuzz::exact;

void take_apart(uint8_t mode, std::span<const uint8_t> frame) {
    auto out = exact<sam_answer>(1);
    const int n = static_cast<int>(frame.size());
    const int rc = mode == 0 ? sam_unserial(frame.data(), n, out.get()) : sam_unserial_shortcut(frame.data(), n, out.get());
    if (rc == 0) {
        check(out[0].len == n - 11, "data length of an accepted answer");
        check(sam_check_state(&out[0].sw1) == 0, "an accepted answer reports success");
    }
}

// A record buffer with its in/out length; a capacity of 0 passes none.
struct Part {
    std::unique_ptr<unsigned char[]> buffer;
    int length;
    int capacity;
    explicit Part(int cap) : buffer(exact(static_cast<size_t>(cap))), length(cap), capacity(cap) {}
    unsigned char *data() { return capacity ? buffer.get() : nullptr; }
    int *length_word() { return capacity ? &length : nullptr; }
    void check_within(const char *what) const { check(length >= 0 && length <= capacity, what); }
};

void operate(uint8_t op, Part &text, Part &photo, Part &finger) {
    picc *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    id_sam_init(record);
    const auto word = [](auto *p) { return reinterpret_cast<intptr_t>(p); };
    int rc = -1;
    switch (op % 8) {
    case 0: rc = sam_read_text_photo(text.data(), text.length_word(), photo.data(), photo.length_word()); break;
    case 1:
        rc = sam_read_text_photo_finger(text.data(), text.length_word(), photo.data(), photo.length_word(),
                                        finger.data(), finger.length_word());
        break;
    case 2:
        rc = sam_read_text_photo_finger_shortcut(text.data(), text.length_word(), photo.data(), photo.length_word(),
                                                 finger.data(), finger.length_word());
        break;
    case 3: rc = sam_read_finger(finger.data(), finger.length_word()); break;
    case 4:
        rc = id_sam_ctrl(record, 74, word(text.data()), word(text.length_word()), word(photo.data()),
                         word(photo.length_word()), word(finger.data()), word(finger.length_word()));
        break;
    case 5: rc = id_sam_ctrl(record, 79, word(finger.data()), word(finger.length_word()), 0, 0, 0, 0); break;
    case 6: rc = sam_search_identity() | sam_select_identity() | sam_check(); break;
    default: rc = sam_reset() | sam_read_extra_address(); break;
    }
    picc_free(record);
    check(rc == 0 || rc == -1, "SAM operations report 0 or -1");
    text.check_within("text length");
    photo.check_within("photo length");
    finger.check_within("fingerprint length");
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t mode = in.byte();
    if (mode < 2) {
        take_apart(mode, in.rest());
        return;
    }
    const uint8_t config = in.byte();
    const uint8_t op = in.byte();
    Part text(in.u16() % (SAM_TEXT_MAX + 2));
    Part photo(in.u16() % (SAM_PHOTO_MAX + 2));
    Part finger(in.u16() % (SAM_FINGER_MAX + 2));
    vrfuzz::install_card_device(config, in.rest());
    operate(op, text, photo, finger);
}
