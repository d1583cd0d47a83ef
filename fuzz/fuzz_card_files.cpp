// Card data files and records a user or a card hands over: Ultralight dumps
// (.bin and .json) and the identity card's text record. Input: a mode
// byte, then the file or record bytes. A dump that decodes must encode and
// decode again to the same image; a decoded text record must yield valid
// UTF-8 fields.
#include "fuzz_support.h"
#include "id_text.h"
#include "ultralight_dump.h"

namespace {

using vrfuzz::check;

bool valid_utf8(const std::string &s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

void dump_round_trip(vrdump::UlFormat format, std::span<const uint8_t> bytes) {
    vrdump::is_ultralight_dump(format, bytes);
    vrdump::UlImage image;
    if (!vrdump::decode_ultralight(format, bytes, image)) return;
    check(image.pages.size() == static_cast<size_t>(vrdump::ul_pages(image.kind)), "page count");
    std::vector<uint8_t> again;
    check(static_cast<bool>(vrdump::encode_ultralight(vrdump::UlFormat::json, image, again)), "a decoded image encodes");
    vrdump::UlImage second;
    check(static_cast<bool>(vrdump::decode_ultralight(vrdump::UlFormat::json, again, second)), "and decodes again");
    check(second.pages == image.pages && second.readable == image.readable && second.kind == image.kind,
          "to the same pages");
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t mode = in.byte() % 3;
    const auto rest = in.rest();
    if (mode < 2) {
        dump_round_trip(mode == 0 ? vrdump::UlFormat::binary : vrdump::UlFormat::json, rest);
        return;
    }
    const vrdump::IdText text = vrdump::decode_id_text(rest);
    for (const vrdump::IdField &f : vrdump::kIdFields) check(valid_utf8(text.*f.member), "UTF-8 fields");
    vrdump::encode_id_text(text);
}
