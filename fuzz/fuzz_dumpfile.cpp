// The MIFARE Classic dump file readers (.mfd/.bin, .eml, .json) and the key
// file reader over arbitrary bytes. Input: a form byte, then the file's
// contents.
//
// Whatever a reader accepts is a whole card image; the text forms write it
// and read it back unchanged (blocks, what is unreadable, identity, keys).
#include <algorithm>

#include "dumpfile.h"
#include "fuzz_support.h"

namespace {

void check_whole(const vrdump::CardImage &image) {
    const auto blocks = static_cast<std::size_t>(vrdump::block_count(image.kind));
    vrfuzz::check(image.blocks.size() == blocks && image.readable.size() == blocks, "one entry per block");
    vrfuzz::check(image.keys.size() == static_cast<std::size_t>(vrdump::sector_count(image.kind)),
                  "one key pair per sector");
    vrfuzz::check(image.uid.size() <= 10, "a UID of at most 10 bytes");
}

bool same(const vrdump::CardImage &a, const vrdump::CardImage &b) {
    if (a.kind != b.kind || a.uid != b.uid || a.atqa != b.atqa || a.sak != b.sak || a.readable != b.readable)
        return false;
    for (std::size_t i = 0; i < a.blocks.size(); ++i)
        if (a.readable[i] && a.blocks[i] != b.blocks[i]) return false;
    for (std::size_t s = 0; s < a.keys.size(); ++s)
        if (a.keys[s].a != b.keys[s].a || a.keys[s].b != b.keys[s].b) return false;
    return true;
}

void round_trip(const vrdump::CardImage &image) {
    for (const vrdump::Format format : {vrdump::Format::json, vrdump::Format::eml}) {
        std::vector<uint8_t> bytes;
        vrfuzz::check(static_cast<bool>(vrdump::encode(format, image, bytes)), "a read image is written");
        vrdump::CardImage back;
        vrfuzz::check(static_cast<bool>(vrdump::decode(format, bytes, back)), "what is written reads back");
        // The eml form has no identity or key table: both come back from
        // block 0 and the trailers, which hold what the image knew.
        if (format == vrdump::Format::json) vrfuzz::check(same(back, image), "json round trip");
        else vrfuzz::check(back.blocks == image.blocks && back.readable == image.readable, "eml round trip");
    }
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t form = in.byte() % 4;
    const auto bytes = in.rest();
    if (form == 3) {
        vrdump::KeyFile keys;
        if (!vrdump::decode_keys(bytes, keys)) return;
        vrfuzz::check(keys.candidates.empty() != keys.known.empty(), "candidates or one card's keys");
        if (keys.kind)
            vrfuzz::check(keys.known.size() == static_cast<std::size_t>(vrdump::sector_count(*keys.kind)),
                          "a key pair per sector");
        return;
    }
    constexpr vrdump::Format kForms[] = {vrdump::Format::binary, vrdump::Format::eml, vrdump::Format::json};
    vrdump::CardImage image;
    if (!vrdump::decode(kForms[form], bytes, image)) return;
    check_whole(image);
    round_trip(image);
}
