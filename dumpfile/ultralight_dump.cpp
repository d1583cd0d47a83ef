#include "ultralight_dump.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "json_text.h"

namespace vrdump {
namespace {

constexpr std::string_view kFileType = "mfu";
constexpr std::string_view kUnreadablePage = "--------";
constexpr std::size_t kMaxFileSize = 64 * 1024;

Status fail(std::string text) { return Status{std::move(text)}; }

std::optional<UlKind> kind_for_size(std::size_t bytes) {
    if (bytes == static_cast<std::size_t>(ul_pages(UlKind::ultralight) * kUlPageSize)) return UlKind::ultralight;
    if (bytes == static_cast<std::size_t>(ul_pages(UlKind::ultralight_c) * kUlPageSize)) return UlKind::ultralight_c;
    return std::nullopt;
}

bool consistent(const UlImage &image) {
    const auto n = static_cast<std::size_t>(ul_pages(image.kind));
    return image.pages.size() == n && image.readable.size() == n;
}

// The UID from pages 0 and 1 (the check byte in page 0 is left out).
void uid_from_pages(UlImage &image) {
    if (!image.readable[0] || !image.readable[1]) return;
    const UlPage &p0 = image.pages[0], &p1 = image.pages[1];
    image.uid = {p0[0], p0[1], p0[2], p1[0], p1[1], p1[2], p1[3]};
}

Status decode_binary(std::span<const uint8_t> bytes, UlImage &image) {
    const auto kind = kind_for_size(bytes.size());
    if (!kind) return fail(std::to_string(bytes.size()) + " bytes; expected 64 (Ultralight) or 192 (Ultralight C)");
    image = UlImage::empty(*kind);
    for (std::size_t p = 0; p < image.pages.size(); ++p) {
        std::copy_n(bytes.begin() + static_cast<long>(p * kUlPageSize), kUlPageSize, image.pages[p].begin());
        image.readable[p] = 1;
    }
    uid_from_pages(image);
    return {};
}

// A decimal page number within 0..limit-1.
std::optional<int> page_number(const std::string &name, int limit) {
    if (name.empty() || name.size() > 2 || (name.size() > 1 && name[0] == '0')) return std::nullopt;
    int v = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v < limit ? std::optional<int>(v) : std::nullopt;
}

std::optional<UlKind> kind_named(std::string_view name) {
    for (UlKind k : {UlKind::ultralight, UlKind::ultralight_c})
        if (name == ul_kind_name(k)) return k;
    return std::nullopt;
}

Status decode_json(std::string_view text, UlImage &image) {
    Json root;
    if (Status s = parse_json(text, root); !s) return s;
    if (root.type != Json::Type::object) return fail("the JSON text is not an object");
    const Json *type = root.member("FileType");
    if (!type || type->type != Json::Type::string || type->text != kFileType)
        return fail("no \"FileType\": \"" + std::string(kFileType) + "\"");
    const Json *card = root.member("Card");
    const Json *kind_text = card && card->type == Json::Type::object ? card->member("Type") : nullptr;
    const Json *pages = root.member("pages");
    if (!pages || pages->type != Json::Type::object || pages->items.empty()) return fail("no \"pages\"");
    // The card's type, or else the highest page tells it.
    std::optional<UlKind> kind;
    if (kind_text) {
        kind = kind_text->type == Json::Type::string ? kind_named(kind_text->text) : std::nullopt;
        if (!kind) return fail("\"Card\": unknown \"Type\"");
    }
    UlImage all = UlImage::empty(UlKind::ultralight_c);
    std::vector<uint8_t> seen(all.pages.size(), 0);
    int highest = 0;
    for (std::size_t i = 0; i < pages->keys.size(); ++i) {
        const auto p = page_number(pages->keys[i], ul_pages(UlKind::ultralight_c));
        if (!p) return fail("\"pages\": bad page number \"" + pages->keys[i] + "\"");
        const auto at = static_cast<std::size_t>(*p);
        if (seen[at]) return fail("\"pages\": page " + pages->keys[i] + " given twice");
        seen[at] = 1;
        highest = std::max(highest, *p);
        const Json &v = pages->items[i];
        if (v.type == Json::Type::string && v.text == kUnreadablePage) continue;
        const auto bytes = v.type == Json::Type::string ? unhex(v.text) : std::nullopt;
        if (!bytes || bytes->size() != kUlPageSize)
            return fail("\"pages\": page " + pages->keys[i] + " must be 8 hexadecimal digits");
        std::copy(bytes->begin(), bytes->end(), all.pages[at].begin());
        all.readable[at] = 1;
    }
    if (!kind) kind = highest < ul_pages(UlKind::ultralight) ? UlKind::ultralight : UlKind::ultralight_c;
    if (highest >= ul_pages(*kind)) return fail("\"pages\": page " + std::to_string(highest) + " is beyond the card");
    image = UlImage::empty(*kind);
    std::copy_n(all.pages.begin(), image.pages.size(), image.pages.begin());
    std::copy_n(all.readable.begin(), image.readable.size(), image.readable.begin());
    if (const Json *uid = card && card->type == Json::Type::object ? card->member("UID") : nullptr) {
        const auto bytes = uid->type == Json::Type::string ? unhex(uid->text) : std::nullopt;
        if (!bytes || (bytes->size() != 7 && !bytes->empty())) return fail("\"Card\": \"UID\" must be 7 bytes");
        image.uid = *bytes;
    }
    if (image.uid.empty()) uid_from_pages(image);
    return {};
}

Status encode_binary(const UlImage &image, std::vector<uint8_t> &bytes, const WriteOptions &options) {
    bytes.clear();
    for (std::size_t p = 0; p < image.pages.size(); ++p) {
        if (!image.readable[p] && !options.zero_unreadable)
            return fail("page " + std::to_string(p) +
                        " is unreadable and a binary image cannot mark it; write .json instead");
        const UlPage zero{};
        const UlPage &page = image.readable[p] ? image.pages[p] : zero;
        bytes.insert(bytes.end(), page.begin(), page.end());
    }
    return {};
}

Status encode_json(const UlImage &image, std::vector<uint8_t> &bytes) {
    std::ostringstream out;
    out << "{\n  \"Created\": \"vantel-rfid\",\n  \"FileType\": " << json_quoted(kFileType) << ",\n";
    out << "  \"Card\": {\n    \"Type\": " << json_quoted(ul_kind_name(image.kind)) << ",\n    \"UID\": "
        << json_quoted(hex(image.uid)) << "\n  },\n  \"pages\": {\n";
    for (std::size_t p = 0; p < image.pages.size(); ++p)
        out << "    " << json_quoted(std::to_string(p)) << ": "
            << json_quoted(image.readable[p] ? hex(image.pages[p]) : std::string(kUnreadablePage))
            << (p + 1 < image.pages.size() ? ",\n" : "\n");
    out << "  }\n}\n";
    const std::string text = out.str();
    bytes.assign(text.begin(), text.end());
    return {};
}

std::string_view as_text(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char *>(bytes.data()), bytes.size()};
}

}  // namespace

UlImage UlImage::empty(UlKind kind) {
    UlImage image;
    image.kind = kind;
    image.pages.assign(static_cast<std::size_t>(ul_pages(kind)), UlPage{});
    image.readable.assign(image.pages.size(), 0);
    return image;
}

int UlImage::unreadable_count() const { return static_cast<int>(std::count(readable.begin(), readable.end(), 0)); }

const char *ul_kind_name(UlKind kind) {
    return kind == UlKind::ultralight ? "MIFARE Ultralight" : "MIFARE Ultralight C";
}

std::optional<UlFormat> ul_format_for_path(std::string_view path) {
    const auto format = format_for_path(path);
    if (!format || *format == Format::eml) return std::nullopt;
    // .mfd is a MIFARE Classic form only.
    const std::size_t dot = path.rfind('.');
    std::string ext(path.substr(dot + 1));
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "mfd") return std::nullopt;
    return *format == Format::json ? UlFormat::json : UlFormat::binary;
}

bool is_ultralight_dump(UlFormat format, std::span<const uint8_t> bytes) {
    if (format == UlFormat::binary) return kind_for_size(bytes.size()).has_value();
    Json root;
    if (!parse_json(as_text(bytes), root) || root.type != Json::Type::object) return false;
    const Json *type = root.member("FileType");
    return type && type->type == Json::Type::string && type->text == kFileType;
}

Status decode_ultralight(UlFormat format, std::span<const uint8_t> bytes, UlImage &image) {
    UlImage parsed;
    Status s = format == UlFormat::binary ? decode_binary(bytes, parsed) : decode_json(as_text(bytes), parsed);
    if (!s) return s;
    image = std::move(parsed);
    return {};
}

Status encode_ultralight(UlFormat format, const UlImage &image, std::vector<uint8_t> &bytes,
                         const WriteOptions &options) {
    if (!consistent(image)) return fail("the card image is incomplete");
    return format == UlFormat::binary ? encode_binary(image, bytes, options) : encode_json(image, bytes);
}

Status load_ultralight(const std::string &path, UlImage &image) {
    const auto format = ul_format_for_path(path);
    if (!format) return fail(path + ": unknown Ultralight dump format (use .bin or .json)");
    std::vector<uint8_t> bytes;
    if (Status s = read_file(path, kMaxFileSize, "an Ultralight dump", bytes); !s) return s;
    Status s = decode_ultralight(*format, bytes, image);
    if (!s) s.error = path + ": " + s.error;
    return s;
}

Status save_ultralight(const std::string &path, const UlImage &image, const WriteOptions &options, bool replace) {
    const auto format = ul_format_for_path(path);
    if (!format) return fail(path + ": unknown Ultralight dump format (use .bin or .json)");
    std::vector<uint8_t> bytes;
    if (Status s = encode_ultralight(*format, image, bytes, options); !s) return fail(path + ": " + s.error);
    return write_file(path, bytes, replace);
}

}  // namespace vrdump
