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
#include "mifare.h"
#include "ultralight.h"
#include "ultralight_dump.h"

namespace cli {
namespace {

using vrdump::UlImage;
using vrdump::UlKind;
using vrdump::UlPage;

constexpr const char *kUsage =
    "usage: vantel-rfid ultralight SUBCOMMAND [options]\n"
    "  read PAGE [COUNT]      read COUNT pages (default 1) from PAGE (hex and ASCII)\n"
    "  write PAGE HEX         write one page (8 hex digits) and read it back\n"
    "  dump [FILE]            read every page that can be read; FILE .bin or .json\n"
    "  restore FILE           write a dump's data pages back (from page 4; with --all\n"
    "                         also the OTP and lock bytes and the C's configuration pages)\n"
    "options:\n"
    "  --key HEX              Ultralight C: authenticate with this 16-byte key first\n"
    "  --stored-key           Ultralight C: authenticate with the key stored in the reader\n"
    "  --c | --plain          open the card as an Ultralight C / Ultralight instead of telling\n"
    "  --all                  restore the OTP, lock and configuration pages too\n"
    "  --zero-unreadable      write unreadable pages as zeros into a .bin\n";

constexpr int kPageSize = vrdump::kUlPageSize;
constexpr int kFirstDataPage = 4;
constexpr int kLastDataPageC = 39;   // then lock, counter, AUTH0, AUTH1, key
constexpr int kReadablePagesC = 44;  // the key pages are never read
constexpr int kOtpPage = 3;
constexpr int kLockPage = 2;

struct UlArgs {
    std::optional<std::vector<uint8_t>> key;
    bool stored_key = false;
    std::optional<UlKind> kind;
    bool all = false;
    bool zero_unreadable = false;
    std::vector<std::string> words;
};

int usage_error(const char *why) {
    std::fprintf(stderr, "ultralight: %s (see: vantel-rfid ultralight help)\n", why);
    return 2;
}

std::string parse_args(int argc, char **argv, UlArgs &args) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--key") {
            const auto key = i + 1 < argc ? parse_hex(argv[++i]) : std::nullopt;
            if (!key || key->size() != 16) return "--key takes 16 bytes (32 hex digits)";
            args.key = key;
        } else if (a == "--stored-key") {
            args.stored_key = true;
        } else if (a == "--c" || a == "--plain") {
            args.kind = a == "--c" ? UlKind::ultralight_c : UlKind::ultralight;
        } else if (a == "--all") {
            args.all = true;
        } else if (a == "--zero-unreadable") {
            args.zero_unreadable = true;
        } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
            return "unknown option " + a;
        } else {
            args.words.push_back(a);
        }
    }
    if (args.key && args.stored_key) return "--key and --stored-key exclude each other";
    return {};
}

struct UlSession {
    picc *record = nullptr;
    UlKind kind = UlKind::ultralight;
    int pages() const { return vrdump::ul_pages(kind); }
    int readable_pages() const { return kind == UlKind::ultralight ? pages() : kReadablePagesC; }
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
    char head[16];
    std::snprintf(head, sizeof head, "%3d  ", page);
    std::string line = head;
    if (!readable) return line + "-- -- -- --  (unreadable)";
    for (int i = 0; i < kPageSize; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X ", bytes[i]);
        line += b;
    }
    line += " |";
    for (int i = 0; i < kPageSize; ++i) line += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    return line + "|";
}

int ul_read(UlSession &s, const UlArgs &args) {
    if (args.words.size() < 2 || args.words.size() > 3) return usage_error("read PAGE [COUNT]");
    const auto page = parse_number(args.words[1], 0, s.readable_pages() - 1);
    const auto count = args.words.size() == 3 ? parse_number(args.words[2], 1, s.readable_pages()) : 1L;
    if (!page || !count || *page + *count > s.readable_pages()) return usage_error("page outside the card");
    std::vector<uint8_t> bytes(static_cast<size_t>(*count * kPageSize));
    const int rc = picc_readdata(s.record, static_cast<uint16_t>(*page * kPageSize),
                                 static_cast<uint16_t>(bytes.size()), bytes.data());
    if (rc != 0) return report_error("read", errno);
    for (long p = 0; p < *count; ++p)
        std::printf("%s\n", page_line(static_cast<int>(*page + p), bytes.data() + p * kPageSize, true).c_str());
    return 0;
}

int ul_write(UlSession &s, const UlArgs &args) {
    if (args.words.size() != 3) return usage_error("write PAGE HEX");
    const auto page = parse_number(args.words[1], 2, s.pages() - 1);
    const auto data = parse_hex(args.words[2]);
    if (!page) return usage_error("page outside the card (pages 0 and 1 hold the UID)");
    if (!data || data->size() != kPageSize) return usage_error("a page is 4 bytes (8 hex digits)");
    const int rc = picc_write(s.record, data->data(), static_cast<uint8_t>(*page));
    if (rc != 0) return report_error("write", rc);
    // OTP and lock bits are ORed in, the counter adds, configuration may
    // close the page to reading, key pages never read back: only a data
    // page must read back as written.
    if (*page >= kFirstDataPage && *page <= last_data_page(s)) {
        unsigned char back[kPageSize];
        if (picc_read(s.record, back, static_cast<uint8_t>(*page)) != 0) return report_error("read back", errno);
        if (std::memcmp(back, data->data(), kPageSize) != 0) {
            std::fprintf(stderr, "page %ld reads back differently\n", *page);
            return 1;
        }
    }
    std::printf("%s\n", page_line(static_cast<int>(*page), data->data(), true).c_str());
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

int ul_dump(UlSession &s, const UlArgs &args) {
    if (args.words.size() > 2) return usage_error("dump [FILE]");
    const UlImage image = read_image(s);
    std::printf("%s, UID %s\n", vrdump::ul_kind_name(image.kind), vrdump::hex(image.uid).c_str());
    for (int p = 0; p < s.pages(); ++p) {
        const auto i = static_cast<size_t>(p);
        std::printf("%s\n", page_line(p, image.pages[i].data(), image.readable[i] != 0).c_str());
    }
    if (args.words.size() == 2) {
        vrdump::WriteOptions options;
        options.zero_unreadable = args.zero_unreadable;
        if (const auto status = vrdump::save_ultralight(args.words[1], image, options); !status) {
            std::fprintf(stderr, "%s\n", status.error.c_str());
            return 1;
        }
        std::printf("saved %s (%d unreadable pages)\n", args.words[1].c_str(), image.unreadable_count());
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

int ul_restore(UlSession &s, const UlArgs &args) {
    if (args.words.size() != 2) return usage_error("restore FILE");
    UlImage image;
    if (const auto status = vrdump::load_ultralight(args.words[1], image); !status) {
        std::fprintf(stderr, "%s\n", status.error.c_str());
        return 1;
    }
    if (image.kind != s.kind) {
        std::fprintf(stderr, "the dump is of a %s, the card a %s\n", vrdump::ul_kind_name(image.kind),
                     vrdump::ul_kind_name(s.kind));
        return 1;
    }
    const int data = restore_data_pages(s, image);
    const int other = data < 0 || !args.all ? 0 : restore_other_pages(s, image);
    if (data < 0 || other < 0) return 1;
    std::printf("restored %d pages from %s\n", data + other, args.words[1].c_str());
    return 0;
}

}  // namespace

int cmd_ultralight(const Options &, int argc, char **argv) {
    UlArgs args;
    if (argc < 2 || std::strcmp(argv[1], "help") == 0) {
        std::fprintf(argc < 2 ? stderr : stdout, "%s", kUsage);
        return argc < 2 ? 2 : 0;
    }
    if (const std::string why = parse_args(argc, argv, args); !why.empty()) return usage_error(why.c_str());
    if (args.words.empty()) return usage_error("no subcommand");
    const std::string &sub = args.words[0];
    if (sub != "read" && sub != "write" && sub != "dump" && sub != "restore") return usage_error("unknown subcommand");
    UlSession s;
    if (!open_ultralight(s, args)) return 1;
    if (sub == "read") return ul_read(s, args);
    if (sub == "write") return ul_write(s, args);
    if (sub == "dump") return ul_dump(s, args);
    return ul_restore(s, args);
}

}  // namespace cli
