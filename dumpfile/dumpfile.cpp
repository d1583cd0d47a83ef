#include "dumpfile.h"

#include "json_text.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vrdump {
namespace {

// Dump files are a few kilobytes; anything far larger is not one of ours and
// is refused before it is read into memory.
constexpr std::size_t kMaxFileSize = 1 << 20;
constexpr std::string_view kUnreadableBlock = "--------------------------------";
constexpr std::string_view kFileType = "mfc v2";

// One block from its text form: 32 hex digits, or 32 '-' for a block that
// could not be read. False for anything else.
bool block_from_text(std::string_view text, Block &block, bool &readable) {
    if (text == kUnreadableBlock) {
        block.fill(0);
        readable = false;
        return true;
    }
    const auto bytes = unhex(text);
    if (!bytes || bytes->size() != kBlockSize) return false;
    std::copy(bytes->begin(), bytes->end(), block.begin());
    readable = true;
    return true;
}

std::string block_to_text(const CardImage &image, int block) {
    return image.readable[block] ? hex(image.blocks[block]) : std::string(kUnreadableBlock);
}

constexpr Kind kKinds[] = {Kind::classic_mini, Kind::classic_1k, Kind::classic_4k};

std::optional<Kind> kind_for_blocks(std::size_t count) {
    for (Kind kind : kKinds)
        if (count == static_cast<std::size_t>(block_count(kind))) return kind;
    return std::nullopt;
}

Status fail(std::string text) { return Status{std::move(text)}; }

bool consistent(const CardImage &image) {
    const auto blocks = static_cast<std::size_t>(block_count(image.kind));
    return image.blocks.size() == blocks && image.readable.size() == blocks &&
           image.keys.size() == static_cast<std::size_t>(sector_count(image.kind)) &&
           image.uid.size() <= 10;
}

// ------------------------------------------------------------------ binary

Status decode_binary(std::span<const uint8_t> bytes, CardImage &image) {
    const auto kind = kind_for_blocks(bytes.size() / kBlockSize);
    if (!kind || bytes.size() % kBlockSize != 0)
        return fail(std::to_string(bytes.size()) +
                    " bytes; a MIFARE Classic image is 320 bytes (Mini), 1024 bytes (1K) or 4096 bytes (4K)");
    image = CardImage::empty(*kind);
    for (std::size_t b = 0; b < image.blocks.size(); ++b) {
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(b * kBlockSize), kBlockSize,
                    image.blocks[b].begin());
        image.readable[b] = 1;
    }
    return {};
}

Status encode_binary(const CardImage &image, std::vector<uint8_t> &bytes, const WriteOptions &options) {
    bytes.clear();
    for (int b = 0; b < block_count(image.kind); ++b) {
        if (!image.readable[b] && !options.zero_unreadable)
            return fail("block " + std::to_string(b) +
                        " is unreadable and a binary image cannot mark it; write .eml or .json instead");
        if (image.readable[b])
            bytes.insert(bytes.end(), image.blocks[b].begin(), image.blocks[b].end());
        else
            bytes.insert(bytes.end(), kBlockSize, 0);
    }
    return {};
}

// --------------------------------------------------------------------- eml

std::string_view trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

Status decode_eml(std::string_view text, CardImage &image) {
    std::vector<Block> blocks;
    std::vector<uint8_t> readable_flags;
    int line_number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++line_number;
        if (line.empty()) continue;
        if (blocks.size() >= static_cast<std::size_t>(block_count(Kind::classic_4k)))
            return fail("line " + std::to_string(line_number) + ": more than 256 blocks");
        Block block{};
        bool readable = false;
        if (!block_from_text(line, block, readable))
            return fail("line " + std::to_string(line_number) +
                        ": expected 32 hexadecimal digits (or 32 '-' for an unreadable block)");
        blocks.push_back(block);
        readable_flags.push_back(readable ? 1 : 0);
    }
    const auto kind = kind_for_blocks(blocks.size());
    if (!kind)
        return fail(std::to_string(blocks.size()) + " blocks; expected 20 (Mini), 64 (1K) or 256 (4K)");
    image = CardImage::empty(*kind);
    image.blocks = std::move(blocks);
    image.readable = std::move(readable_flags);
    return {};
}

Status encode_eml(const CardImage &image, std::vector<uint8_t> &bytes) {
    std::string text;
    for (int b = 0; b < block_count(image.kind); ++b) text += block_to_text(image, b) + "\n";
    bytes.assign(text.begin(), text.end());
    return {};
}

// A decimal member name ("0", "17") within 0..limit-1.
std::optional<int> index_name(const std::string &name, int limit) {
    if (name.empty() || name.size() > 3 || (name.size() > 1 && name[0] == '0')) return std::nullopt;
    int v = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v < limit ? std::optional<int>(v) : std::nullopt;
}

// The hex string member `name` of object with exactly one of the sizes in
// `sizes` bytes; nothing (and an error text) otherwise.
std::optional<std::vector<uint8_t>> hex_member(const Json &object, const char *name,
                                               std::initializer_list<std::size_t> sizes, std::string &error) {
    const Json *m = object.member(name);
    if (!m || m->type != Json::Type::string) {
        error = std::string("\"") + name + "\" must be a hexadecimal string";
        return std::nullopt;
    }
    auto bytes = unhex(m->text);
    if (!bytes || std::find(sizes.begin(), sizes.end(), bytes->size()) == sizes.end()) {
        error = std::string("\"") + name + "\" has a bad value \"" + m->text + "\"";
        return std::nullopt;
    }
    return bytes;
}

Status read_card_section(const Json &card, CardImage &image) {
    if (card.type != Json::Type::object) return fail("\"Card\" must be an object");
    std::string error;
    const auto uid = hex_member(card, "UID", {0, 4, 7, 10}, error);
    if (!uid) return fail(error);
    const auto atqa = hex_member(card, "ATQA", {2}, error);
    if (!atqa) return fail(error);
    const auto sak = hex_member(card, "SAK", {1}, error);
    if (!sak) return fail(error);
    image.uid = *uid;
    image.atqa = {(*atqa)[0], (*atqa)[1]};
    image.sak = (*sak)[0];
    return {};
}

// The SAK a Classic Mini answers with; it tells a Mini whose file lists
// only some blocks from a 1K card.
constexpr uint8_t kMiniSak = 0x09;

// Reads "blocks" into a 4K-sized table first: the highest block number
// tells the size. Writers list every block of the card, so a file that
// ends with block 19 is a Mini; so is one of fewer blocks whose Card
// section (read before, and kept) gives a Mini's SAK.
Status read_blocks_section(const Json &section, CardImage &image) {
    if (section.type != Json::Type::object) return fail("\"blocks\" must be an object");
    if (section.items.empty()) return fail("\"blocks\" holds no block");
    CardImage all = CardImage::empty(Kind::classic_4k);
    std::vector<uint8_t> seen(all.blocks.size(), 0);
    int highest = 0;
    for (std::size_t i = 0; i < section.keys.size(); ++i) {
        const auto block = index_name(section.keys[i], block_count(Kind::classic_4k));
        if (!block) return fail("\"blocks\": bad block number \"" + section.keys[i] + "\"");
        if (seen[*block]) return fail("\"blocks\": block " + section.keys[i] + " given twice");
        const Json &v = section.items[i];
        bool readable = false;
        if (v.type != Json::Type::string || !block_from_text(v.text, all.blocks[*block], readable))
            return fail("\"blocks\": block " + section.keys[i] + " must be 32 hexadecimal digits");
        seen[*block] = 1;
        all.readable[*block] = readable ? 1 : 0;
        highest = std::max(highest, *block);
    }
    const int mini_end = block_count(Kind::classic_mini) - 1;
    const bool mini = highest == mini_end || (highest < mini_end && image.sak == kMiniSak);
    const Kind kind = mini                                     ? Kind::classic_mini
                      : highest < block_count(Kind::classic_1k) ? Kind::classic_1k
                                                                : Kind::classic_4k;
    CardImage identity = std::move(image);
    image = CardImage::empty(kind);
    image.uid = std::move(identity.uid);
    image.atqa = identity.atqa;
    image.sak = identity.sak;
    // Blocks the file leaves out stay unreadable: nothing is known of them.
    std::copy_n(all.blocks.begin(), image.blocks.size(), image.blocks.begin());
    std::copy_n(all.readable.begin(), image.readable.size(), image.readable.begin());
    return {};
}

Status read_sector_keys(const Json &section, CardImage &image) {
    if (section.type != Json::Type::object) return fail("\"SectorKeys\" must be an object");
    for (std::size_t i = 0; i < section.keys.size(); ++i) {
        const auto sector = index_name(section.keys[i], sector_count(image.kind));
        if (!sector) return fail("\"SectorKeys\": bad sector number \"" + section.keys[i] + "\"");
        const Json &entry = section.items[i];
        if (entry.type != Json::Type::object)
            return fail("\"SectorKeys\": sector " + section.keys[i] + " must be an object");
        for (const char *name : {"KeyA", "KeyB"}) {
            if (!entry.member(name)) continue;  // a key nobody knows
            std::string error;
            const auto key = hex_member(entry, name, {kKeySize}, error);
            if (!key) return fail("\"SectorKeys\": sector " + section.keys[i] + ": " + error);
            Key k{};
            std::copy(key->begin(), key->end(), k.begin());
            (name[3] == 'A' ? image.keys[*sector].a : image.keys[*sector].b) = k;
        }
    }
    return {};
}

Status decode_json(std::string_view text, CardImage &image) {
    Json root;
    if (Status s = parse_json(text, root); !s) return s;
    if (root.type != Json::Type::object) return fail("the JSON text is not an object");
    const Json *type = root.member("FileType");
    if (!type || type->type != Json::Type::string)
        return fail("no \"FileType\" (expected \"" + std::string(kFileType) + "\")");
    // Earlier and later revisions of the form keep the same Card, blocks and
    // SectorKeys members.
    if (type->text != kFileType && type->text != "mfcard" && type->text != "mfc v3")
        return fail("unsupported FileType \"" + type->text + "\" (expected \"" + std::string(kFileType) + "\")");
    const Json *blocks = root.member("blocks");
    if (!blocks) return fail("no \"blocks\"");
    if (const Json *card = root.member("Card")) {
        if (Status s = read_card_section(*card, image); !s) return s;
    }
    if (Status s = read_blocks_section(*blocks, image); !s) return s;
    // Without a UID in the file, block 0 tells who the card is.
    if (image.uid.empty()) identity_from_block0(image);
    if (const Json *keys = root.member("SectorKeys")) {
        if (Status s = read_sector_keys(*keys, image); !s) return s;
    } else {
        keys_from_trailers(image);
    }
    keys_into_trailers(image);
    return {};
}

void write_access_text(std::ostringstream &out, const Block &trailer) {
    const auto codes = decode_access(trailer);
    if (!codes) return;
    out << ",\n      \"AccessConditionsText\": {\n";
    for (int i = 0; i < 4; ++i)
        out << "        " << json_quoted("block" + std::to_string(i)) << ": " << json_quoted(describe_access(i, (*codes)[i]))
            << ",\n";
    out << "        \"UserData\": " << json_quoted(hex(std::span(trailer).subspan(9, 1))) << "\n      }";
}

void write_sector_keys(std::ostringstream &out, const CardImage &image) {
    out << "  \"SectorKeys\": {\n";
    for (int s = 0; s < sector_count(image.kind); ++s) {
        std::vector<std::string> members;
        if (image.keys[s].a) members.push_back("\"KeyA\": " + json_quoted(hex(*image.keys[s].a)));
        if (image.keys[s].b) members.push_back("\"KeyB\": " + json_quoted(hex(*image.keys[s].b)));
        const int t = trailer_block(s);
        if (image.readable[t])
            members.push_back("\"AccessConditions\": " + json_quoted(hex(std::span(image.blocks[t]).subspan(6, 4))));
        out << "    " << json_quoted(std::to_string(s)) << ": {";
        for (std::size_t m = 0; m < members.size(); ++m) out << (m ? ",\n      " : "\n      ") << members[m];
        if (image.readable[t]) write_access_text(out, image.blocks[t]);
        out << (members.empty() ? "}" : "\n    }") << (s + 1 < sector_count(image.kind) ? ",\n" : "\n");
    }
    out << "  }\n";
}

Status encode_json(const CardImage &image, std::vector<uint8_t> &bytes) {
    std::ostringstream out;
    out << "{\n  \"Created\": \"vantel-rfid\",\n  \"FileType\": " << json_quoted(kFileType) << ",\n";
    out << "  \"Card\": {\n    \"UID\": " << json_quoted(hex(image.uid)) << ",\n    \"ATQA\": " << json_quoted(hex(image.atqa))
        << ",\n    \"SAK\": " << json_quoted(hex(std::span(&image.sak, 1))) << "\n  },\n";
    out << "  \"blocks\": {\n";
    for (int b = 0; b < block_count(image.kind); ++b)
        out << "    " << json_quoted(std::to_string(b)) << ": " << json_quoted(block_to_text(image, b))
            << (b + 1 < block_count(image.kind) ? ",\n" : "\n");
    out << "  },\n";
    write_sector_keys(out, image);
    out << "}\n";
    const std::string text = out.str();
    bytes.assign(text.begin(), text.end());
    return {};
}

std::string_view as_text(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char *>(bytes.data()), bytes.size()};
}

// --------------------------------------------------------------- key files

// One dictionary line: blank or a comment (nothing), a key, or not a
// dictionary line at all (false).
bool dictionary_line(std::string_view line, std::optional<Key> &key) {
    key.reset();
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) return true;
    const auto bytes = unhex(line);
    if (!bytes || bytes->size() != kKeySize) return false;
    key.emplace();
    std::copy(bytes->begin(), bytes->end(), key->begin());
    return true;
}

// The keys of a dictionary, each once in file order; nothing when some line
// is neither blank, a comment nor a key (error names it).
std::optional<std::vector<Key>> decode_dictionary(std::string_view text, std::string &error) {
    std::vector<Key> keys;
    int line_number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++line_number;
        std::optional<Key> key;
        if (!dictionary_line(line, key)) {
            error = "line " + std::to_string(line_number) + " is not a key of 12 hexadecimal digits";
            return std::nullopt;
        }
        if (key && std::find(keys.begin(), keys.end(), *key) == keys.end()) keys.push_back(*key);
    }
    return keys;
}

std::optional<Kind> kind_for_key_file(std::size_t size) {
    for (Kind kind : kKinds)
        if (size == static_cast<std::size_t>(sector_count(kind) * 2 * kKeySize)) return kind;
    return std::nullopt;
}

// Key A of every sector, then key B of every sector.
void decode_binary_keys(std::span<const uint8_t> bytes, Kind kind, KeyFile &keys) {
    const int sectors = sector_count(kind);
    keys.kind = kind;
    keys.known.assign(static_cast<std::size_t>(sectors), SectorKeys{});
    for (int s = 0; s < sectors; ++s) {
        Key a{}, b{};
        std::copy_n(bytes.begin() + s * kKeySize, kKeySize, a.begin());
        std::copy_n(bytes.begin() + (sectors + s) * kKeySize, kKeySize, b.begin());
        keys.known[static_cast<std::size_t>(s)] = SectorKeys{a, b};
    }
}

// ------------------------------------------------------------------ files

Status read_whole(const std::string &path, std::vector<uint8_t> &bytes) {
    return read_file(path, kMaxFileSize, "a MIFARE Classic file", bytes);
}

std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file beside path under a name nobody uses, created with the
// permissions a plain new file gets.
int create_temporary(const std::string &path, std::string &name) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        name = path + ".tmp-" + std::to_string(::getpid()) + "-" +
               std::to_string((static_cast<unsigned long>(std::time(nullptr)) + attempt) % 1000000);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool write_all(int fd, const std::vector<uint8_t> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

// Puts the finished temporary file at path: rename replaces; a hard link
// never does (it fails on an existing file), where the file system has
// links at all.
Status put_in_place(const std::string &temporary, const std::string &path, bool replace) {
    if (replace || ::link(temporary.c_str(), path.c_str()) != 0) {
        const int link_error = errno;
        struct stat st {};
        if (!replace && (link_error == EEXIST || ::lstat(path.c_str(), &st) == 0))
            return fail(path + ": exists; not replaced");
        if (!replace && link_error != EPERM && link_error != EOPNOTSUPP)
            return fail(path + ": cannot create: " + std::strerror(link_error));
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            return fail(path + ": cannot create: " + std::strerror(errno));
        return {};
    }
    ::unlink(temporary.c_str());
    return {};
}

}  // namespace

const char *kind_name(Kind kind) {
    switch (kind) {
    case Kind::classic_mini: return "MIFARE Classic Mini";
    case Kind::classic_1k: return "MIFARE Classic 1K";
    case Kind::classic_4k: return "MIFARE Classic 4K";
    }
    return "MIFARE Classic";
}

CardImage CardImage::empty(Kind kind) {
    CardImage image;
    image.kind = kind;
    image.blocks.assign(static_cast<std::size_t>(block_count(kind)), Block{});
    image.readable.assign(image.blocks.size(), 0);
    image.keys.assign(static_cast<std::size_t>(sector_count(kind)), SectorKeys{});
    return image;
}

int CardImage::unreadable_count() const {
    return static_cast<int>(std::count(readable.begin(), readable.end(), 0));
}

std::string hex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s += kDigits[b >> 4];
        s += kDigits[b & 0x0F];
    }
    return s;
}

std::optional<Format> format_for_path(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::nullopt;
    std::string ext(path.substr(dot + 1));
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "mfd" || ext == "bin") return Format::binary;
    if (ext == "eml") return Format::eml;
    if (ext == "json") return Format::json;
    return std::nullopt;
}

void identity_from_block0(CardImage &image) {
    if (image.blocks.empty() || !image.readable[0]) return;
    const Block &b = image.blocks[0];
    const bool four_byte_uid = (b[0] ^ b[1] ^ b[2] ^ b[3]) == b[4];
    const std::size_t uid_len = four_byte_uid ? 4 : 7;
    const std::size_t sak_at = four_byte_uid ? 5 : 7;
    image.uid.assign(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(uid_len));
    image.sak = b[sak_at];
    image.atqa = {b[sak_at + 1], b[sak_at + 2]};
}

void keys_into_trailers(CardImage &image) {
    for (int s = 0; s < sector_count(image.kind); ++s) {
        const int t = trailer_block(s);
        if (!image.readable[t]) continue;
        if (image.keys[s].a) std::copy(image.keys[s].a->begin(), image.keys[s].a->end(), image.blocks[t].begin());
        if (image.keys[s].b)
            std::copy(image.keys[s].b->begin(), image.keys[s].b->end(), image.blocks[t].begin() + 10);
    }
}

void keys_from_trailers(CardImage &image) {
    for (int s = 0; s < sector_count(image.kind); ++s) {
        const int t = trailer_block(s);
        if (!image.readable[t]) continue;
        Key a{}, b{};
        std::copy_n(image.blocks[t].begin(), kKeySize, a.begin());
        std::copy_n(image.blocks[t].begin() + 10, kKeySize, b.begin());
        image.keys[s] = SectorKeys{a, b};
    }
}

std::optional<AccessCodes> decode_access(const Block &trailer) {
    const uint8_t b6 = trailer[6], b7 = trailer[7], b8 = trailer[8];
    AccessCodes codes{};
    for (int i = 0; i < 4; ++i) {
        const int c1 = b7 >> (4 + i) & 1, c2 = b8 >> i & 1, c3 = b8 >> (4 + i) & 1;
        // Each bit is stored a second time, inverted.
        if ((b6 >> i & 1) == c1 || (b6 >> (4 + i) & 1) == c2 || (b7 >> i & 1) == c3) return std::nullopt;
        codes[i] = static_cast<uint8_t>(c1 | c2 << 1 | c3 << 2);
    }
    return codes;
}

std::optional<Key> readable_key_b(const Block &trailer) {
    const auto codes = decode_access(trailer);
    if (!codes || !key_b_readable((*codes)[3])) return std::nullopt;
    Key b{};
    std::copy_n(trailer.begin() + 10, kKeySize, b.begin());
    return b;
}

std::array<uint8_t, 3> encode_access(const AccessCodes &codes) {
    std::array<uint8_t, 3> bytes{};
    for (int i = 0; i < 4; ++i) {
        const int c1 = codes[i] & 1, c2 = codes[i] >> 1 & 1, c3 = codes[i] >> 2 & 1;
        bytes[0] |= static_cast<uint8_t>((!c1) << i | (!c2) << (4 + i));
        bytes[1] |= static_cast<uint8_t>((!c3) << i | c1 << (4 + i));
        bytes[2] |= static_cast<uint8_t>(c2 << i | c3 << (4 + i));
    }
    return bytes;
}

std::string describe_access(int index, uint8_t code) {
    // Indexed by the code C1 | C2 << 1 | C3 << 2.
    struct DataRights {
        const char *read, *write, *increment, *decrement;
    };
    static constexpr DataRights kData[8] = {
        {"A|B", "A|B", "A|B", "A|B"},       // 000: transport configuration
        {"A|B", "B", "never", "never"},     // 100
        {"A|B", "never", "never", "never"}, // 010
        {"A|B", "B", "B", "A|B"},           // 110: value block
        {"A|B", "never", "never", "A|B"},   // 001: value block
        {"B", "never", "never", "never"},   // 101
        {"B", "B", "never", "never"},       // 011
        {"never", "never", "never", "never"},
    };
    struct TrailerRights {
        const char *key_a_write, *access_read, *access_write, *key_b_read, *key_b_write;
    };
    static constexpr TrailerRights kTrailer[8] = {
        {"A", "A", "never", "A", "A"},             // 000
        {"B", "A|B", "never", "never", "B"},       // 100
        {"never", "A", "never", "A", "never"},     // 010
        {"never", "A|B", "never", "never", "never"}, // 110
        {"A", "A", "A", "A", "A"},                 // 001: transport configuration
        {"never", "A|B", "B", "never", "never"},   // 101
        {"B", "A|B", "B", "never", "B"},           // 011
        {"never", "A|B", "never", "never", "never"}, // 111
    };
    code &= 7;
    if (index == 3) {
        const TrailerRights &t = kTrailer[code];
        return std::string("key A: write ") + t.key_a_write + "; access bits: read " + t.access_read + ", write " +
               t.access_write + "; key B: read " + t.key_b_read + ", write " + t.key_b_write;
    }
    const DataRights &d = kData[code];
    return std::string("read ") + d.read + ", write " + d.write + ", increment " + d.increment +
           ", decrement/transfer/restore " + d.decrement;
}

Status decode(Format format, std::span<const uint8_t> bytes, CardImage &image) {
    CardImage parsed;
    Status s;
    switch (format) {
    case Format::binary: s = decode_binary(bytes, parsed); break;
    case Format::eml: s = decode_eml(as_text(bytes), parsed); break;
    case Format::json: s = decode_json(as_text(bytes), parsed); break;
    }
    if (!s) return s;
    if (format != Format::json) {
        identity_from_block0(parsed);
        keys_from_trailers(parsed);
    }
    image = std::move(parsed);
    return {};
}

Status encode(Format format, const CardImage &image, std::vector<uint8_t> &bytes, const WriteOptions &options) {
    if (!consistent(image)) return fail("the card image is incomplete");
    // The memory image carries the keys in the trailers (a card hides key A
    // when a trailer is read, so a fresh dump has only what was used).
    CardImage full = image;
    keys_into_trailers(full);
    switch (format) {
    case Format::binary: return encode_binary(full, bytes, options);
    case Format::eml: return encode_eml(full, bytes);
    case Format::json: return encode_json(full, bytes);
    }
    return fail("unknown format");
}

Status load_file(const std::string &path, CardImage &image) {
    const auto format = format_for_path(path);
    if (!format) return fail(path + ": unknown dump format (use .mfd, .bin, .eml or .json)");
    std::vector<uint8_t> bytes;
    if (Status s = read_whole(path, bytes); !s) return s;
    Status s = decode(*format, bytes, image);
    if (!s) s.error = path + ": " + s.error;
    return s;
}

Status check_writable(const std::string &path, bool replace) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return fail(path + ": is a directory");
        if (!replace) return fail(path + ": exists; not replaced");
    }
    const std::string dir = directory_of(path);
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(dir + ": no such directory");
    if (::access(dir.c_str(), W_OK) != 0) return fail(dir + ": cannot write there: " + std::strerror(errno));
    return {};
}

Status check_output(const std::string &path, bool replace) {
    if (!format_for_path(path)) return fail(path + ": unknown dump format (use .mfd, .bin, .eml or .json)");
    return check_writable(path, replace);
}

Status write_file(const std::string &path, const std::vector<uint8_t> &bytes, bool replace) {
    std::string temporary;
    const int fd = create_temporary(path, temporary);
    if (fd < 0) return fail(path + ": cannot create: " + std::strerror(errno));
    const bool written = write_all(fd, bytes);
    const int write_error = errno;
    ::close(fd);
    Status s = written ? put_in_place(temporary, path, replace)
                       : fail(path + ": write error: " + std::strerror(write_error));
    if (!s) ::unlink(temporary.c_str());
    return s;
}

Status save_file(const std::string &path, const CardImage &image, const WriteOptions &options, bool replace) {
    const auto format = format_for_path(path);
    if (!format) return fail(path + ": unknown dump format (use .mfd, .bin, .eml or .json)");
    std::vector<uint8_t> bytes;
    if (Status s = encode(*format, image, bytes, options); !s) return fail(path + ": " + s.error);
    return write_file(path, bytes, replace);
}

Status decode_keys(std::span<const uint8_t> bytes, KeyFile &keys) {
    keys = KeyFile{};
    const bool printable = std::none_of(bytes.begin(), bytes.end(), [](uint8_t b) {
        return (b < 0x20 && b != '\n' && b != '\r' && b != '\t') || b >= 0x7F;
    });
    const auto binary_kind = kind_for_key_file(bytes.size());
    // Text with lines, or text of no key file's size, is a dictionary (and
    // a bad line in it an error, not a reason to read it as keys).
    const bool newline = std::find(bytes.begin(), bytes.end(), '\n') != bytes.end();
    if (printable && (newline || !binary_kind)) {
        std::string why;
        auto candidates = decode_dictionary(as_text(bytes), why);
        if (!candidates) return fail("not a key dictionary: " + why);
        if (candidates->empty()) return fail("the key dictionary holds no key");
        keys.candidates = std::move(*candidates);
        return {};
    }
    if (!binary_kind)
        return fail(std::to_string(bytes.size()) +
                    " bytes; a binary key file is 60 (Mini), 192 (1K) or 480 (4K) bytes");
    decode_binary_keys(bytes, *binary_kind, keys);
    return {};
}

Status load_keys(const std::string &path, KeyFile &keys) {
    std::vector<uint8_t> bytes;
    if (Status s = read_whole(path, bytes); !s) return s;
    Status s = decode_keys(bytes, keys);
    if (!s) s.error = path + ": " + s.error;
    return s;
}

}  // namespace vrdump
