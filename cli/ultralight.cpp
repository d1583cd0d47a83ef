// `ultralight read|write|dump|restore`: MIFARE Ultralight and Ultralight C
// pages through the library's public card functions, with .bin and .json
// dumps (ultralight_dump.h).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "card.h"
#include "cli.h"
#include "command.h"
#include "json_text.h"
#include "mifare.h"
#include "ultralight.h"
#include "ultralight_dump.h"

namespace cli {
namespace {

using vrdump::UlImage;
using vrdump::UlKind;
using vrdump::UlPage;

constexpr int kPageSize = vrdump::kUlPageSize;
constexpr int kFirstDataPage = 4;
constexpr int kLastDataPageC = 39;   // then lock, counter, AUTH0, AUTH1, key
constexpr int kReadablePagesC = 44;  // the key pages are never read
constexpr int kOtpPage = 3;
constexpr int kLockPage = 2;

struct UlArgs : CommandArgs {
    std::optional<std::vector<uint8_t>> key;
    bool stored_key = false;
    std::optional<UlKind> kind;
    bool all = false;
    bool zero_unreadable = false;
    bool force = false;
    // What the check made of the operands.
    long page = 0, count = 1;
    std::vector<uint8_t> data;
    std::string file;
    UlImage image;  // restore: the dump, read before the reader is opened
};

// ---------------------------------------------------------------- options

std::string set_key(UlArgs &args, const char *value) {
    args.key = parse_hex(value);
    if (!args.key || args.key->size() != 16) return "--key takes 16 bytes (32 hex digits)";
    return {};
}

template <UlKind Kind>
std::string set_kind(UlArgs &args, const char *) {
    args.kind = Kind;
    return {};
}

constexpr Option<UlArgs> kOptions[] = {
    {"key", "HEX", "Ultralight C: authenticate with this 16-byte key first", set_key},
    {"stored-key", nullptr, "Ultralight C: authenticate with the key stored in the reader",
     set_flag<&UlArgs::stored_key>},
    {"c", nullptr, "open the card as an Ultralight C instead of telling", set_kind<UlKind::ultralight_c>},
    {"plain", nullptr, "open the card as an Ultralight instead of telling", set_kind<UlKind::ultralight>},
    {"all", nullptr, "restore: the OTP, lock and configuration pages too", set_flag<&UlArgs::all>},
    {"zero-unreadable", nullptr, "dump: write unreadable pages as zeros into a .bin",
     set_flag<&UlArgs::zero_unreadable>},
    {"force", nullptr, "dump: replace an existing file", set_flag<&UlArgs::force>},
};

int usage_error(const std::string &why) { return command_usage_error("ultralight", why); }

int readable_pages(UlKind kind) { return kind == UlKind::ultralight ? vrdump::ul_pages(kind) : kReadablePagesC; }

struct UlSession {
    picc *record = nullptr;
    UlKind kind = UlKind::ultralight;
    int pages() const { return vrdump::ul_pages(kind); }
    int readable_pages() const { return cli::readable_pages(kind); }
};

// Opens the card (told apart, or as the options say) and authenticates an
// Ultralight C when a key is given.
bool open_ultralight(UlSession &s, const UlArgs &args) {
    const char *type = !args.kind ? "iso14443A_card" : *args.kind == UlKind::ultralight_c ? "mifare_ulc" : "mifare_ul";
    s.record = open_card(type);
    if (!s.record) {
        report_error("card", errno);
        return false;
    }
    const std::string name = picc_type(s.record);
    if (name != "Mifare Ultralight C" && name != "Mifare Ultralight") {
        std::fprintf(stderr, "not a MIFARE Ultralight card: %s\n", name.c_str());
        return false;
    }
    s.kind = args.kind ? *args.kind : ultralight_c(s.record) ? UlKind::ultralight_c : UlKind::ultralight;
    if (!args.key && !args.stored_key) return true;
    if (s.kind != UlKind::ultralight_c) {
        std::fprintf(stderr, "a MIFARE Ultralight has no key\n");
        return false;
    }
    const int rc = picc_auth(s.record, args.key ? args.key->data() : nullptr, 0, 0);
    if (rc != 0) {
        report_error("authentication", rc);
        return false;
    }
    return true;
}

int last_data_page(const UlSession &s) { return s.kind == UlKind::ultralight ? s.pages() - 1 : kLastDataPageC; }

std::string page_line(int page, const uint8_t *bytes, bool readable) {
    return memory_line(page, std::span(bytes, kPageSize), readable);
}

// Before the card is told apart (no --c or --plain) only the larger C's
// bounds are known; the run checks them again against the card.
UlKind largest(const UlArgs &args) { return args.kind.value_or(UlKind::ultralight_c); }

std::string read_range(const UlArgs &args, UlKind kind) {
    if (args.page + args.count > readable_pages(kind))
        return "pages 0.." + std::to_string(readable_pages(kind) - 1) + " can be read on this card";
    return {};
}

std::string check_read(UlArgs &args) {
    if (args.operands.size() < 2 || args.operands.size() > 3) return "read PAGE [COUNT]";
    const int readable = readable_pages(largest(args));
    const auto page = parse_number(args.operands[1], 0, readable - 1);
    const auto count = args.operands.size() == 3 ? parse_number(args.operands[2], 1, readable) : 1L;
    if (!page || !count) return "page outside the card";
    args.page = *page;
    args.count = *count;
    return read_range(args, largest(args));
}

int ul_read(UlSession &s, const UlArgs &args) {
    if (const std::string why = read_range(args, s.kind); !why.empty()) return usage_error(why);
    std::vector<uint8_t> bytes(static_cast<size_t>(args.count * kPageSize));
    const int rc = picc_readdata(s.record, static_cast<uint16_t>(args.page * kPageSize),
                                 static_cast<uint16_t>(bytes.size()), bytes.data());
    if (rc != 0) return report_error("read", errno);
    for (long p = 0; p < args.count; ++p)
        std::printf("%s\n", page_line(static_cast<int>(args.page + p), bytes.data() + p * kPageSize, true).c_str());
    return 0;
}

std::string check_write(UlArgs &args) {
    if (args.operands.size() != 3) return "write PAGE HEX";
    const auto page = parse_number(args.operands[1], 2, vrdump::ul_pages(largest(args)) - 1);
    const auto data = parse_hex(args.operands[2]);
    if (!page) return "page outside the card (pages 0 and 1 hold the UID)";
    if (!data || data->size() != kPageSize) return "a page is 4 bytes (8 hex digits)";
    args.page = *page;
    args.data = *data;
    return {};
}

int ul_write(UlSession &s, const UlArgs &args) {
    if (args.page >= s.pages())
        return usage_error("page outside the card (pages 2.." + std::to_string(s.pages() - 1) + ")");
    const auto page = static_cast<uint8_t>(args.page);
    const int rc = picc_write(s.record, args.data.data(), page);
    if (rc != 0) return report_error("write", rc);
    // OTP and lock bits are ORed in, the counter adds, configuration may
    // close the page to reading, key pages never read back: only a data
    // page must read back as written.
    if (page >= kFirstDataPage && page <= last_data_page(s)) {
        unsigned char back[kPageSize];
        if (picc_read(s.record, back, page) != 0) return report_error("read back", errno);
        if (std::memcmp(back, args.data.data(), kPageSize) != 0) {
            std::fprintf(stderr, "page %d reads back differently\n", page);
            return 1;
        }
    }
    std::printf("%s\n", page_line(page, args.data.data(), true).c_str());
    return 0;
}

// Reads the card into an image: the readable memory in one range read, or,
// when that fails (protected pages), page by page, leaving the pages the
// card refuses unreadable.
UlImage read_image(UlSession &s) {
    UlImage image = UlImage::empty(s.kind);
    std::vector<uint8_t> bytes(static_cast<size_t>(s.readable_pages() * kPageSize));
    if (picc_readdata(s.record, 0, static_cast<uint16_t>(bytes.size()), bytes.data()) == 0) {
        for (int p = 0; p < s.readable_pages(); ++p) {
            std::copy_n(bytes.begin() + p * kPageSize, kPageSize, image.pages[static_cast<size_t>(p)].begin());
            image.readable[static_cast<size_t>(p)] = 1;
        }
    } else {
        for (int p = 0; p < s.readable_pages(); ++p) {
            unsigned char page[kPageSize];
            if (picc_read(s.record, page, static_cast<uint8_t>(p)) != 0) continue;
            std::copy_n(page, kPageSize, image.pages[static_cast<size_t>(p)].begin());
            image.readable[static_cast<size_t>(p)] = 1;
        }
    }
    unsigned char uid[10];
    const int n = picc_getuid(s.record, uid);
    image.uid.assign(uid, uid + std::max(n, 0));
    return image;
}

// The dump's file must have a known form and a place to go before the card
// is read; an existing one is replaced only with --force, so that a second
// card's dump cannot take the place of the first by a slip.
std::string check_dump(UlArgs &args) {
    if (args.operands.size() > 2) return "dump [FILE]";
    if (args.operands.size() < 2) return {};
    args.file = args.operands[1];
    if (!vrdump::ul_format_for_path(args.file))
        return args.file + ": unknown Ultralight dump format (use .bin or .json)";
    const vrdump::Status status = vrdump::check_writable(args.file, args.force);
    if (status) return {};
    return status.error + (status.error.ends_with("not replaced") ? " (--force replaces it)" : "");
}

int ul_dump(UlSession &s, const UlArgs &args) {
    const UlImage image = read_image(s);
    std::printf("%s, UID %s\n", vrdump::ul_kind_name(image.kind), vrdump::hex(image.uid).c_str());
    for (int p = 0; p < s.pages(); ++p) {
        const auto i = static_cast<size_t>(p);
        std::printf("%s\n", page_line(p, image.pages[i].data(), image.readable[i] != 0).c_str());
    }
    if (!args.file.empty()) {
        vrdump::WriteOptions options;
        options.zero_unreadable = args.zero_unreadable;
        if (const auto status = vrdump::save_ultralight(args.file, image, options, args.force); !status) {
            std::fprintf(stderr, "%s\n", status.error.c_str());
            return 1;
        }
        std::printf("saved %s (%d unreadable pages)\n", args.file.c_str(), image.unreadable_count());
    }
    return 0;
}

// Writes the image's readable pages first..last (data pages) in one range
// write per run of readable pages: the pages written, or -1.
int restore_data_pages(UlSession &s, const UlImage &image) {
    int written = 0;
    for (int p = kFirstDataPage; p <= last_data_page(s);) {
        if (!image.readable[static_cast<size_t>(p)]) {
            ++p;
            continue;
        }
        std::vector<uint8_t> bytes;
        int end = p;
        for (; end <= last_data_page(s) && image.readable[static_cast<size_t>(end)]; ++end) {
            const UlPage &page = image.pages[static_cast<size_t>(end)];
            bytes.insert(bytes.end(), page.begin(), page.end());
        }
        const int rc = picc_writedata(s.record, static_cast<uint16_t>(p * kPageSize),
                                      static_cast<uint16_t>(bytes.size()), bytes.data());
        if (rc != 0) {
            std::fprintf(stderr, "pages %d..%d: %s\n", p, end - 1, error_text(rc).c_str());
            return -1;
        }
        written += end - p;
        p = end;
    }
    return written;
}

// The lock and OTP bytes, and the C's lock, counter and configuration
// pages, one page a write: the pages written, or -1.
int restore_other_pages(UlSession &s, const UlImage &image) {
    std::vector<int> pages{kLockPage, kOtpPage};
    for (int p = last_data_page(s) + 1; p < s.readable_pages(); ++p) pages.push_back(p);
    int written = 0;
    for (int p : pages) {
        if (!image.readable[static_cast<size_t>(p)]) continue;
        const int rc = picc_write(s.record, image.pages[static_cast<size_t>(p)].data(), static_cast<uint8_t>(p));
        if (rc != 0) {
            std::fprintf(stderr, "page %d: %s\n", p, error_text(rc).c_str());
            return -1;
        }
        ++written;
    }
    return written;
}

// The dump is read before the reader is opened.
std::string check_restore(UlArgs &args) {
    if (args.operands.size() != 2) return "restore FILE";
    args.file = args.operands[1];
    const vrdump::Status status = vrdump::load_ultralight(args.file, args.image);
    return status ? std::string() : status.error;
}

int ul_restore(UlSession &s, const UlArgs &args) {
    const UlImage &image = args.image;
    if (image.kind != s.kind) {
        std::fprintf(stderr, "the dump is of a %s, the card a %s\n", vrdump::ul_kind_name(image.kind),
                     vrdump::ul_kind_name(s.kind));
        return 1;
    }
    const int data = restore_data_pages(s, image);
    const int other = data < 0 || !args.all ? 0 : restore_other_pages(s, image);
    if (data < 0 || other < 0) return 1;
    std::printf("restored %d pages from %s\n", data + other, args.file.c_str());
    return 0;
}

// ------------------------------------------------------------- the table

struct Subcommand {
    const char *name;
    const char *operands;
    const char *summary;
    std::string (*check)(UlArgs &args);
    int (*run)(UlSession &s, const UlArgs &args);
};

constexpr Subcommand kSubcommands[] = {
    {"read", "PAGE [COUNT]", "read COUNT pages (default 1) from PAGE (hex and ASCII)", check_read, ul_read},
    {"write", "PAGE HEX", "write one page (8 hex digits) and read it back", check_write, ul_write},
    {"dump", "[FILE]", "read every page that can be read; FILE .bin or .json (not replaced without --force)", check_dump, ul_dump},
    {"restore", "FILE",
     "write a dump's data pages back (from page 4; with --all also the OTP and lock bytes and the C's "
     "configuration pages)",
     check_restore, ul_restore},
};

const Subcommand *find_subcommand(const UlArgs &args) { return cli::find_subcommand(kSubcommands, args.operands); }

void list_subcommands(std::FILE *out) { print_subcommands(out, kSubcommands); }

std::string check_ultralight(UlArgs &args) {
    const Subcommand *sub = find_subcommand(args);
    if (!sub) return no_subcommand(args.operands);
    if (args.key && args.stored_key) return "--key and --stored-key exclude each other";
    if (args.key && args.kind == UlKind::ultralight) return "a MIFARE Ultralight has no key";
    return sub->check(args);
}

int run_ultralight(const Options &, UlArgs &args) {
    UlSession s;
    if (!open_ultralight(s, args)) return 1;
    return find_subcommand(args)->run(s, args);
}

constexpr Command<UlArgs> kUltralight = {
    "ultralight",
    "MIFARE Ultralight and Ultralight C pages: read, write, dump, restore",
    "SUBCOMMAND [OPERANDS]",
    "MIFARE Ultralight and Ultralight C pages; dumps as .bin (the memory image) or .json (pages by\n"
    "number, unreadable ones marked --------). --key HEX or --stored-key authenticate an Ultralight C\n"
    "first.\n",
    list_subcommands,
    kOptions,
    check_ultralight,
    run_ultralight,
};

}  // namespace

constinit const CommandEntry kUltralightCommand = entry_for<kUltralight>();

}  // namespace cli
