// BER-TLV codec for EMV card answers.
//
// Card answers come from outside the library, so every walk here is bounded
// by the buffer it was handed: an element is only looked at after its tag,
// its length and its whole value are known to lie inside that buffer.
// Anything else — a truncated tag or length, a length form other than one
// byte or 0x81 plus one byte, an element running past the end — ends the
// walk as "not found". The codec keeps no state between calls.
#include "tlv.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <strings.h>

#include "log.h"

namespace {

using Bytes = std::span<const uint8_t>;

constexpr uint8_t kLongLength = 0x81;

// The tag and length of one element whose header lies inside its buffer.
struct Header {
    uint16_t tag;
    std::size_t header_size;  // tag bytes + length bytes
    uint8_t length;           // value bytes

    std::size_t element_size() const { return header_size + length; }
};

// Reads the header at the start of data. Empty when the data end inside the
// header, when the tag is 0 (the end of the elements) or when the length
// uses a form the codec does not take (0x80, 0x82 and above).
std::optional<Header> read_header(Bytes data) {
    if (data.empty()) return std::nullopt;
    const std::size_t tag_size = tag_is_two_bytes(data[0]) ? 2 : 1;
    if (data.size() < tag_size + 1) return std::nullopt;
    const uint16_t tag = tag_size == 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : data[0];
    if (!is_valid_tag(tag)) return std::nullopt;

    const uint8_t first = data[tag_size];
    if (first < 0x80) return Header{tag, tag_size + 1, first};
    if (!length_is_two_bytes(first) || data.size() < tag_size + 2) return std::nullopt;
    return Header{tag, tag_size + 2, data[tag_size + 1]};
}

// Reads the header at the start of data and checks that the whole element
// fits in data.
std::optional<Header> read_element(Bytes data) {
    auto header = read_header(data);
    if (!header || header->element_size() > data.size()) return std::nullopt;
    return header;
}

struct Found {
    Header header;
    std::size_t offset;  // of the element's first tag byte
};

// Visits every element in document order — a constructed element is
// entered by stepping over its header only — and counts the elements with
// the wanted tag across all nesting levels.
std::optional<Found> find_element(Bytes data, uint16_t tag, int occurrence) {
    int seen = 0;
    std::size_t offset = 0;
    while (offset < data.size()) {
        auto header = read_element(data.subspan(offset));
        if (!header) return std::nullopt;
        if (header->tag == tag && ++seen == occurrence) return Found{*header, offset};
        offset += is_constructed_object(header->tag) ? header->header_size
                                                     : header->element_size();
    }
    return std::nullopt;
}

Bytes as_bytes(const uint8_t *buffer, int length) {
    if (!buffer || length <= 0) return {};
    return Bytes(buffer, static_cast<std::size_t>(length));
}

// Tags whose value is text worth showing as such.
bool holds_text(uint16_t tag) {
    return tag == 0x50 || tag == 0x5F20 || tag == 0x9F12;
}

struct Extraction {
    uint16_t wanted;
    uint8_t *out;
    int *out_length;
};

void log_value(uint16_t tag, Bytes value, int indent) {
    if (holds_text(tag)) {
        log_print(LOG_LEVEL_I, "%*s  s:\"%.*s\"\n", indent, "", static_cast<int>(value.size()),
                  reinterpret_cast<const char *>(value.data()));
    } else {
        format_display(value.data(), static_cast<int>(value.size()), 1);
    }
}

int encode(uint8_t *out, uint16_t tag, Bytes value) {
    tlv_object object{};
    object.tag = tag;
    object.length = static_cast<uint8_t>(value.size());
    std::memcpy(object.value, value.data(), value.size());
    return copy_tlv(out, &object);
}

// Logs one element and, below a constructed one, its children. The value
// is at most 255 bytes and every level consumes at least two of them, so
// the recursion is bounded by the data.
void walk(uint16_t tag, Bytes value, int depth, const Extraction *extraction) {
    const int indent = 2 * depth;
    log_print(LOG_LEVEL_I, "%*s%x-%s: (%d byte)\n", indent, "", tag, get_value(tag, LIST_TAGS),
              static_cast<int>(value.size()));

    if (extraction && tag == extraction->wanted) {
        if (extraction->out) {
            const int written = encode(extraction->out, tag, value);
            if (extraction->out_length) *extraction->out_length = written;
        }
        return;
    }
    if (!is_constructed_object(tag)) {
        log_value(tag, value, indent);
        return;
    }
    std::size_t offset = 0;
    while (offset < value.size()) {
        auto child = read_element(value.subspan(offset));
        if (!child) return;  // the rest does not parse inside the parent
        walk(child->tag, value.subspan(offset + child->header_size, child->length), depth + 1,
             extraction);
        offset += child->element_size();
    }
}

Bytes value_of(const tlv_object &object) {
    return Bytes(object.value, object.length);
}

}  // namespace

extern "C" {

VR_API const char *get_value(unsigned int key, const tlv_string_pair *dictionary) {
    if (!dictionary) return "";
    char text[16];
    std::snprintf(text, sizeof text, "%x", key);
    for (const tlv_string_pair *entry = dictionary; (*entry)[0] && (*entry)[0][0]; ++entry) {
        if (strcasecmp((*entry)[0], text) == 0) return (*entry)[1] ? (*entry)[1] : "";
    }
    return "";
}

VR_API int tag_is_two_bytes(uint8_t first_tag_byte) {
    return (first_tag_byte & 0x1F) == 0x1F;
}

VR_API int length_is_two_bytes(uint8_t first_length_byte) {
    return first_length_byte == kLongLength;
}

VR_API int is_constructed_object(uint16_t tag) {
    const uint16_t first_byte_bit = tag > 0xFF ? 0x2000 : 0x20;
    return (tag & first_byte_bit) != 0;
}

VR_API int is_valid_tag(uint16_t tag) {
    return tag != 0;
}

VR_API uint16_t get_tag(const uint8_t *buffer, int length) {
    const Bytes data = as_bytes(buffer, length);
    if (data.empty()) return 0;
    if (!tag_is_two_bytes(data[0])) return data[0];
    if (data.size() < 2) return 0;
    return static_cast<uint16_t>(data[0] << 8 | data[1]);
}

VR_API uint8_t left_byte(uint16_t tag) {
    return static_cast<uint8_t>(tag >> 8);
}

VR_API uint8_t right_byte(uint16_t tag) {
    return static_cast<uint8_t>(tag & 0xFF);
}

VR_API int get_tlv(const uint8_t *buffer, int length, uint16_t tag, int occurrence,
                   tlv_object *out) {
    if (!out) return 0;
    const Bytes data = as_bytes(buffer, length);
    const auto found = find_element(data, tag, occurrence);
    if (!found) {
        out->tag = tag;
        out->length = 0;
        return 0;
    }
    out->tag = found->header.tag;
    out->length = found->header.length;
    std::memcpy(out->value, data.data() + found->offset + found->header.header_size,
                found->header.length);
    return out->length;
}

VR_API int get_tlv_data(const uint8_t *buffer, int length, uint16_t tag, int occurrence,
                        uint8_t *out) {
    if (!out) return 0;
    const Bytes data = as_bytes(buffer, length);
    const auto found = find_element(data, tag, occurrence);
    if (!found) return 0;
    const std::size_t size = found->header.element_size();
    std::memcpy(out, data.data() + found->offset, size);
    return static_cast<int>(size);
}

VR_API int copy_tlv(uint8_t *out, const tlv_object *object) {
    if (!out || !object) return 0;
    int n = 0;
    if (object->tag > 0xFF) out[n++] = left_byte(object->tag);
    out[n++] = right_byte(object->tag);
    if (object->length >= 0x80) out[n++] = kLongLength;
    out[n++] = object->length;
    std::memcpy(out + n, object->value, object->length);
    return n + object->length;
}

VR_API void decode_tlv(const tlv_object *object, uint16_t wanted, uint8_t *out,
                       int *out_length) {
    if (!object || object->tag == 0 || object->length == 0) return;
    const Extraction extraction{wanted, out, out_length};
    walk(object->tag, value_of(*object), 0, &extraction);
}

VR_API void print_tlv_recursive(const tlv_object *object, int depth) {
    if (!object || object->tag == 0) return;
    // Bounded so that the indentation width cannot overflow.
    constexpr int kDeepest = 1024;
    walk(object->tag, value_of(*object), std::clamp(depth, 0, kDeepest), nullptr);
}

VR_API void print_tlv(const tlv_object *object) {
    (void)object;
}

VR_API char *get_hex(const uint8_t *bytes, int count, char *out) {
    if (!out) return nullptr;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    int n = 0;
    for (int i = 0; bytes && i < count; ++i) {
        out[n++] = kDigits[bytes[i] >> 4];
        out[n++] = kDigits[bytes[i] & 0x0F];
    }
    out[n] = '\0';
    return out;
}

}  // extern "C"
