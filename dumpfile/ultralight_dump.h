// MIFARE Ultralight and Ultralight C card images and their dump files.
//
// An UlImage is the card's memory page by page (4 bytes a page: 16 pages
// for the Ultralight, 48 for the C) with a flag per page telling whether it
// could be read (the C's key pages never can, protected pages not without
// the key). Two file forms carry it, chosen by the extension:
//
//   .bin   the plain memory image, 64 or 192 bytes, pages in order; it
//          cannot mark an unreadable page, so such an image is refused
//          unless the caller asks for zeros;
//   .json  {"Created": "vantel-rfid", "FileType": "mfu",
//           "Card": {"Type": "MIFARE Ultralight C", "UID": "04..."},
//           "pages": {"0": "04A1B2C3", ..., "44": "--------"}}
//          with 8 '-' for a page that could not be read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dumpfile.h"

namespace vrdump {

enum class UlKind { ultralight, ultralight_c };
enum class UlFormat { binary, json };

constexpr int kUlPageSize = 4;
constexpr int ul_pages(UlKind kind) { return kind == UlKind::ultralight ? 16 : 48; }
using UlPage = std::array<uint8_t, kUlPageSize>;

struct UlImage {
    UlKind kind = UlKind::ultralight;
    std::vector<uint8_t> uid;       // 7 bytes; empty when unknown
    std::vector<UlPage> pages;      // ul_pages(kind) entries
    std::vector<uint8_t> readable;  // per page: 1 read, 0 unreadable

    // All pages unreadable, nothing known yet.
    static UlImage empty(UlKind kind);
    [[nodiscard]] int unreadable_count() const;
};

// "MIFARE Ultralight" or "MIFARE Ultralight C".
const char *ul_kind_name(UlKind kind);
// .bin or .json (any letter case), or nothing.
std::optional<UlFormat> ul_format_for_path(std::string_view path);
// Whether file contents are an Ultralight dump rather than a MIFARE
// Classic one: a binary image of 64 or 192 bytes, or a JSON text of
// FileType "mfu".
bool is_ultralight_dump(UlFormat format, std::span<const uint8_t> bytes);

Status decode_ultralight(UlFormat format, std::span<const uint8_t> bytes, UlImage &image);
Status encode_ultralight(UlFormat format, const UlImage &image, std::vector<uint8_t> &bytes,
                         const WriteOptions &options = {});
// Error texts start with the file's path. A dump is written whole or not
// at all; an existing file is replaced only with `replace`.
Status load_ultralight(const std::string &path, UlImage &image);
Status save_ultralight(const std::string &path, const UlImage &image, const WriteOptions &options = {},
                       bool replace = false);

}  // namespace vrdump
