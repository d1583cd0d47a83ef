// The BER-TLV scan and decode over arbitrary card answers. Input: the
// wanted tag, the occurrence, the tree printer's depth, then the answer.
// Every output buffer is exactly as large as the interface promises to
// need, so a write past it is seen.
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "tlv.h"

namespace {

// Largest encoded element: two tag bytes, 0x81 and a length byte, 255
// value bytes.
constexpr size_t kElementMax = 259;

template <typename T>
std::unique_ptr<T> fresh() {
    auto p = std::make_unique<T>();
    std::memset(p.get(), 0, sizeof(T));
    return p;
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint16_t tag = in.u16();
    const int occurrence = static_cast<int8_t>(in.byte());
    const int depth = static_cast<int16_t>(in.u16());
    const auto answer = in.rest();
    // The answer in a buffer of its own size (the scan must stay inside).
    auto buffer = std::make_unique<uint8_t[]>(answer.size() + 1);
    std::memcpy(buffer.get(), answer.data(), answer.size());
    const int length = static_cast<int>(answer.size());

    auto object = fresh<tlv_object>();
    const int found = get_tlv(buffer.get(), length, tag, occurrence, object.get());
    vrfuzz::check(found == object->length, "get_tlv returns the length");

    auto element = std::make_unique<uint8_t[]>(kElementMax);
    const int bytes = get_tlv_data(buffer.get(), length, tag, occurrence, element.get());
    vrfuzz::check(bytes >= 0 && bytes <= length && static_cast<size_t>(bytes) <= kElementMax,
                  "element size");
    if (bytes > 0) {
        // The element found alone is the same element.
        auto again = fresh<tlv_object>();
        vrfuzz::check(get_tlv(element.get(), bytes, tag, 1, again.get()) == object->length &&
                          std::memcmp(again->value, object->value, object->length) == 0,
                      "get_tlv and get_tlv_data agree");
        auto encoded = std::make_unique<uint8_t[]>(kElementMax);
        // A long-form length below 0x80 is re-encoded in short form.
        vrfuzz::check(copy_tlv(encoded.get(), object.get()) <= bytes, "copy_tlv size");
    }

    // The tree of the element found, and of the answer's first element.
    for (int pass = 0; pass < 2; ++pass) {
        auto root = fresh<tlv_object>();
        if (pass == 0) {
            *root = *object;
        } else {
            root->tag = get_tag(buffer.get(), length);
            get_tlv(buffer.get(), length, root->tag, 1, root.get());
        }
        auto out = std::make_unique<uint8_t[]>(kElementMax);
        int out_length = -1;
        decode_tlv(root.get(), tag, out.get(), &out_length);
        vrfuzz::check(out_length >= -1 && out_length <= static_cast<int>(kElementMax), "decode_tlv length");
        print_tlv_recursive(root.get(), depth);
    }

    // A record filled straight from the answer: any tag, any length.
    auto raw = fresh<tlv_object>();
    raw->tag = tag;
    raw->length = static_cast<uint8_t>(answer.size());
    std::memcpy(raw->value, answer.data(), answer.size() < 255 ? answer.size() : 255);
    auto encoded = std::make_unique<uint8_t[]>(kElementMax);
    vrfuzz::check(copy_tlv(encoded.get(), raw.get()) <= static_cast<int>(kElementMax), "copy_tlv bound");
    int out_length = -1;
    decode_tlv(raw.get(), static_cast<uint16_t>(occurrence), encoded.get(), &out_length);
    print_tlv_recursive(raw.get(), depth);

    (void)get_value(static_cast<unsigned>(tag) << (occurrence & 15), LIST_TAGS);
    (void)get_value(tag, LIST_STATUS_WORDS);
    const int hex_count = length < 300 ? length : 300;
    auto hex = std::make_unique<char[]>(2 * static_cast<size_t>(hex_count) + 1);
    get_hex(buffer.get(), hex_count, hex.get());
}
