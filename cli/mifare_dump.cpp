// `mifare dump [FILE]`, `mifare restore FILE` and `mifare convert IN OUT`:
// whole cards to and from the dump files of dumpfile.h. Files named on the
// command line are checked (and read) before the reader is touched.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "mifare.h"
#include "progress.h"

namespace cli {
namespace {

// ------------------------------------------------------------------- dump

struct DumpLog {
    std::vector<std::string> problems;
    bool card_gone = false;
};

void note(DumpLog &log, const std::string &what, int code) {
    log.problems.push_back(what + ": " + error_text(code));
}

void remember(vrdump::SectorKeys &keys, const SectorKey &key) {
    if (key.key) (key.type == kKeyA ? keys.a : keys.b) = key.key;
}

// What the key that opened the sector and its trailer tell about the keys.
void learn_keys(const CardSession &session, int sector, vrdump::CardImage &image) {
    vrdump::SectorKeys &keys = image.keys[sector];
    const auto used = session.keys.working(sector);
    if (used) remember(keys, *used);
    const int t = vrdump::trailer_block(sector);
    if (!image.readable[t] || !used || used->type != kKeyA) return;
    if (const auto b = vrdump::readable_key_b(image.blocks[t])) keys.b = b;
}

// With a key file, the sector's other key is searched for too, so that the
// dump knows both.
void find_other_key(CardSession &session, int sector, vrdump::CardImage &image) {
    vrdump::SectorKeys &keys = image.keys[sector];
    const uint8_t missing = !keys.a ? kKeyA : kKeyB;
    if ((keys.a && keys.b) || !session.keys.searches()) return;
    const QuietRefusals quiet(true);
    for (const SectorKey &key : session.keys.to_try(sector, missing)) {
        if (!session.record) return;
        if (authenticate_with(session, key, sector) == 0) {
            remember(keys, key);
            return;
        }
        reopen_card(session);
    }
}

// Reads the blocks of one sector. A refused block does not end the sector:
// the card is woken, authenticated again, and the next block is tried.
void dump_sector(CardSession &session, int sector, vrdump::CardImage &image, DumpLog &log) {
    int rc = authenticate(session, sector);
    if (rc != 0) {
        log.card_gone = !session.record;
        if (!log.card_gone) note(log, "sector " + std::to_string(sector) + " authentication", rc);
        return;
    }
    const int first = vrdump::first_block(sector);
    for (int b = first; b < first + vrdump::blocks_in_sector(sector); ++b) {
        rc = read_block(session, b, image.blocks[b]);
        if (rc == 0) {
            image.readable[b] = 1;
            continue;
        }
        note(log, "block " + std::to_string(b), rc);
        if ((rc = recover_and_authenticate(session, sector)) != 0) {
            log.card_gone = !session.record;
            if (!log.card_gone) note(log, "sector " + std::to_string(sector) + " authentication again", rc);
            return;
        }
    }
    learn_keys(session, sector, image);
    find_other_key(session, sector, image);
}

// UID, ATQA and SAK as the reader saw them; block 0 fills what the card
// opened by kind (without identification) did not report.
void record_identity(CardSession &session, vrdump::CardImage &image) {
    vrdump::identity_from_block0(image);
    uint8_t uid[30] = {}, atqa[2] = {}, sak = 0;
    const int n = picc_getuid(session.record, uid);
    if (n > 0) image.uid.assign(uid, uid + n);
    picc_getatqa(session.record, atqa);
    picc_getsak(session.record, &sak);
    if (atqa[0] || atqa[1]) {
        image.atqa = {atqa[0], atqa[1]};
        image.sak = sak;
    }
}

void print_view(const vrdump::CardImage &image) {
    for (int s = 0; s < vrdump::sector_count(image.kind); ++s) {
        std::printf("sector %d\n", s);
        const int first = vrdump::first_block(s);
        for (int b = first; b < first + vrdump::blocks_in_sector(s); ++b)
            std::printf("%s\n", memory_line(b, image.blocks[b], image.readable[b]).c_str());
    }
}

std::string key_text(const std::optional<vrdump::Key> &key) { return key ? vrdump::hex(*key) : "(unknown)"; }

// The keys a search found, sector by sector.
void print_keys(const vrdump::CardImage &image) {
    std::printf("keys found:\nsector  key A         key B\n");
    for (int s = 0; s < vrdump::sector_count(image.kind); ++s)
        std::printf("%6d  %-12s  %s\n", s, key_text(image.keys[s].a).c_str(), key_text(image.keys[s].b).c_str());
}

void print_summary(const vrdump::CardImage &image, const DumpLog &log) {
    const int total = vrdump::block_count(image.kind);
    std::printf("%s %s: %d blocks, %d read", vrdump::kind_name(image.kind), vrdump::hex(image.uid).c_str(), total,
                total - image.unreadable_count());
    if (image.unreadable_count()) std::printf(", %d unreadable", image.unreadable_count());
    std::printf("\n");
    for (const std::string &p : log.problems) std::fprintf(stderr, "dump: %s\n", p.c_str());
    if (log.card_gone) std::fprintf(stderr, "dump: the card left the field; the rest is unread\n");
}

// ---------------------------------------------------------------- restore

struct RestoreTally {
    int written = 0;
    int failed = 0;
    int skipped_trailers = 0;
    int skipped_unreadable = 0;
};

void restore_block(CardSession &session, int block, const vrdump::Block &data, RestoreTally &tally) {
    int rc = write_block(session, block, data);
    const int checked = rc == 0 ? verify_block(session, block, data) : rc;
    if (checked == 0) {
        ++tally.written;
        return;
    }
    ++tally.failed;
    if (checked == 1)
        std::fprintf(stderr, "restore: block %d reads back different data\n", block);
    else
        report_error(("restore block " + std::to_string(block)).c_str(), checked);
    // A refused command leaves the card unauthenticated for what follows;
    // when the card is gone the record is cleared and the caller stops.
    (void)recover_and_authenticate(session, vrdump::sector_of(block));
}

// A trailer is written only when the image knows both of its keys (its
// access bytes were checked before the reader was opened).
bool trailer_restorable(const vrdump::CardImage &image, int sector) {
    if (image.keys[sector].a && image.keys[sector].b) return true;
    std::fprintf(stderr, "restore: sector %d: the file does not know both keys; trailer %d not written\n", sector,
                 vrdump::trailer_block(sector));
    return false;
}

// Data blocks first, the trailer last: writing it may change the keys that
// unlock the sector.
void restore_sector(CardSession &session, const MifareArgs &args, int sector, RestoreTally &tally) {
    const vrdump::CardImage &image = args.image;
    std::vector<int> blocks;
    const int first = vrdump::first_block(sector);
    for (int b = first; b < first + vrdump::blocks_in_sector(sector); ++b) {
        if (b == 0) continue;  // the manufacturer block holds the UID
        if (!image.readable[b]) {
            ++tally.skipped_unreadable;
        } else if (!vrdump::is_trailer(b)) {
            blocks.push_back(b);
        } else if (!args.trailers) {
            ++tally.skipped_trailers;
        } else if (trailer_restorable(image, sector)) {
            blocks.push_back(b);
        } else {
            ++tally.failed;
        }
    }
    if (blocks.empty()) return;
    if (int rc = authenticate(session, sector)) {
        report_error(("restore: sector " + std::to_string(sector) + " authentication").c_str(), rc);
        tally.failed += static_cast<int>(blocks.size());
        return;
    }
    for (int b : blocks) {
        if (!session.record) return;
        restore_block(session, b, image.blocks[b], tally);
    }
}

}  // namespace

std::string check_dump(MifareArgs &args) {
    if (args.operands.size() > 2) return "dump [FILE]";
    if (args.operands.size() < 2) return {};
    const vrdump::Status s = vrdump::check_output(args.operands[1], args.force);
    if (!s) return s.error + (s.error.ends_with("not replaced") ? " (--force replaces it)" : "");
    return {};
}

int mifare_dump(CardSession &session, const MifareArgs &args) {
    vrdump::CardImage image = vrdump::CardImage::empty(session.kind);
    DumpLog log;
    {
        Progress progress("reading " + std::string(vrdump::kind_name(session.kind)) + ", sector");
        for (int s = 0; s < vrdump::sector_count(session.kind) && !log.card_gone; ++s) {
            progress.update(s + 1, vrdump::sector_count(session.kind));
            dump_sector(session, s, image, log);
        }
    }
    if (session.record) record_identity(session, image);
    // The card shows key A as zeros; the keys used go into the trailers so
    // the view and the file show the sector as it can be written back.
    vrdump::keys_into_trailers(image);
    if (!args.quiet) print_view(image);
    if (session.keys.searches()) print_keys(image);
    print_summary(image, log);
    if (args.operands.size() == 2) {
        const std::string &path = args.operands[1];
        const vrdump::Status saved =
            vrdump::save_file(path, image, {.zero_unreadable = args.zero_unreadable}, args.force);
        if (!saved) {
            std::fprintf(stderr, "dump: %s\n", saved.error.c_str());
            return 1;
        }
        std::printf("saved %s\n", path.c_str());
    }
    return image.unreadable_count() ? 1 : 0;
}

std::string check_restore(MifareArgs &args) {
    if (args.operands.size() != 2) return "restore FILE";
    if (const vrdump::Status s = vrdump::load_file(args.operands[1], args.image); !s) return s.error;
    if (args.kind && *args.kind != args.image.kind)
        return "the file holds a " + std::string(vrdump::kind_name(args.image.kind)) + ", not a " +
               vrdump::kind_name(*args.kind);
    if (!args.trailers) return {};
    for (int s = 0; s < vrdump::sector_count(args.image.kind); ++s) {
        const int t = vrdump::trailer_block(s);
        if (!args.image.readable[t]) continue;
        if (const std::string why = trailer_problem(args, args.image.blocks[t]); !why.empty())
            return "sector " + std::to_string(s) + ": " + why;
    }
    return {};
}

int mifare_restore(CardSession &session, const MifareArgs &args) {
    const vrdump::CardImage &image = args.image;
    if (image.kind != session.kind) {
        std::fprintf(stderr, "restore: the file holds a %s, the card in the field is a %s\n",
                     vrdump::kind_name(image.kind), vrdump::kind_name(session.kind));
        return 1;
    }
    RestoreTally tally;
    {
        Progress progress("writing " + std::string(vrdump::kind_name(image.kind)) + ", sector");
        for (int s = 0; s < vrdump::sector_count(image.kind) && session.record; ++s) {
            progress.update(s + 1, vrdump::sector_count(image.kind));
            restore_sector(session, args, s, tally);
        }
    }
    std::printf("restore: %d blocks written and verified; block 0 never written", tally.written);
    if (tally.skipped_trailers) std::printf("; %d trailers skipped (--trailers writes them)", tally.skipped_trailers);
    if (tally.skipped_unreadable) std::printf("; %d blocks unreadable in the file", tally.skipped_unreadable);
    std::printf("\n");
    if (!session.record) std::fprintf(stderr, "restore: the card left the field\n");
    if (tally.failed || !session.record) {
        std::fprintf(stderr, "restore: %d blocks failed\n", tally.failed);
        return 1;
    }
    return 0;
}

std::string check_convert(MifareArgs &args) {
    if (args.operands.size() != 3) return "convert IN OUT   (.mfd/.bin, .eml, .json)";
    const vrdump::Status out = vrdump::check_output(args.operands[2], args.force);
    if (!out) return out.error + (out.error.ends_with("not replaced") ? " (--force replaces it)" : "");
    const vrdump::Status in = vrdump::load_file(args.operands[1], args.image);
    return in ? std::string() : in.error;
}

int mifare_convert(const MifareArgs &args) {
    const vrdump::CardImage &image = args.image;
    const vrdump::Status s =
        vrdump::save_file(args.operands[2], image, {.zero_unreadable = args.zero_unreadable}, args.force);
    if (!s) {
        std::fprintf(stderr, "convert: %s\n", s.error.c_str());
        return 1;
    }
    std::printf("%s -> %s: %s %s, %d blocks", args.operands[1].c_str(), args.operands[2].c_str(),
                vrdump::kind_name(image.kind), vrdump::hex(image.uid).c_str(), vrdump::block_count(image.kind));
    if (image.unreadable_count()) std::printf(", %d unreadable", image.unreadable_count());
    std::printf("\n");
    return 0;
}

}  // namespace cli
