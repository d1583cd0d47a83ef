// MIFARE Classic 1K. The reader wakes, resolves and selects the card in one
// command, so request, select and halt need no traffic of their own. The
// driver also offers a byte view of the 720-byte data area (the data
// blocks of sectors 1..15), authenticating sector by sector.
#include <cstring>

#include "core/errors.h"
#include "drivers/mifare_classic.h"
#include "link/reader_command.h"
#include "log.h"
#include "mifare.h"
#include "pcd.h"

namespace {

using namespace vr::mfc;

constexpr int kSectors = 16;
constexpr int kBlocks = 64;
constexpr int kDataArea = 720;             // 15 sectors x 3 data blocks x 16
constexpr int kDataPerSector = 3 * kBlockSize;
constexpr uint16_t kCmdSelectOne = 0x0212;
constexpr uint8_t kWakeUp = 0x52;
constexpr int kUidLen = 4;

bool block_on_card(uint8_t block) { return block < kBlocks; }

// Block holding data-area offset a.
int data_block(int a) { return 4 * (a / kDataPerSector + 1) + (a % kDataPerSector) / kBlockSize; }

// The part [from, to) of a block that a range covers.
struct Span {
    int block;
    int from;
    int to;
};

// Walks the blocks of a data-area range, authenticating every sector with
// key A as the walk enters it and skipping trailers; visit(span) runs on
// each data block. Returns the bytes covered, or the first failure.
template <typename Visit>
int walk_range(int a, int n, const unsigned char *key, Visit visit) {
    const int first = data_block(a);
    const int last = data_block(a + n - 1);
    const int last_used = (a + n) % kBlockSize == 0 ? kBlockSize : (a + n) % kBlockSize;
    int authenticated = -1;
    int covered = 0;
    for (int block = first; block <= last; ++block) {
        const int trailer = trailer_1k(block);
        if (trailer != authenticated) {
            int rc = auth(key, MIFARE_KEY_A, static_cast<uint8_t>(trailer));
            if (rc != 0) return rc;
            authenticated = trailer;
        }
        if (block == trailer) continue;
        Span s{block, block == first ? a % kBlockSize : 0, block == last ? last_used : kBlockSize};
        int rc = visit(s, covered);
        if (rc != 0) return rc;
        covered += s.to - s.from;
    }
    return covered;
}

int check_range(int a, int n) { return a + n > kDataArea ? vr::fail(vr::kEArg) : 0; }

}  // namespace

VR_API int m1s50_readdata_ex(uint16_t offset, uint16_t length, unsigned char *out, const unsigned char *key) {
    const int a = offset, n = length;
    if (check_range(a, n) != 0) return -1;
    if (n == 0) return 0;
    if (!out) return vr::fail(vr::kEArg);
    unsigned char gathered[kDataArea];
    int rc = walk_range(a, n, key, [&](const Span &s, int at) {
        unsigned char b[kBlockSize];
        int r = read_block(b, static_cast<uint8_t>(s.block));
        if (r == 0) std::memcpy(gathered + at, b + s.from, static_cast<std::size_t>(s.to - s.from));
        return r;
    });
    if (rc < 0) return rc;
    if (rc != n) return -1;
    std::memcpy(out, gathered, static_cast<std::size_t>(n));
    return 0;
}

VR_API int m1s50_writedata_ex(uint16_t offset, uint16_t length, const unsigned char *in, const unsigned char *key) {
    const int a = offset, n = length;
    if (check_range(a, n) != 0) return -1;
    if (n == 0) return 0;
    if (!in) return vr::fail(vr::kEArg);
    int rc = walk_range(a, n, key, [&](const Span &s, int at) {
        const uint8_t block = static_cast<uint8_t>(s.block);
        if (s.from == 0 && s.to == kBlockSize) return write_block(in + at, block);
        // A partly covered block keeps the bytes outside the range.
        unsigned char b[kBlockSize];
        int r = read_block(b, block);
        if (r != 0) return r;
        std::memcpy(b + s.from, in + at, static_cast<std::size_t>(s.to - s.from));
        return write_block(b, block);
    });
    if (rc < 0) return rc;
    return rc == n ? 0 : -1;
}

VR_API int m1s50_readdata(uint16_t address, uint16_t length, unsigned char *out) {
    return m1s50_readdata_ex(static_cast<uint16_t>(address - 16), length, out, nullptr);
}

VR_API int m1s50_writedata(uint16_t address, uint16_t length, const unsigned char *in) {
    return m1s50_writedata_ex(static_cast<uint16_t>(address - 16), length, in, nullptr);
}

// Request, wake-up and select send nothing: the reader activates a 1K
// card itself inside each of its card commands, so a card that failed an
// operation is reached again by the next one (and keeps an authentication
// that a caller's refused argument never disturbed).
VR_API int m1s50_req(void) { return 0; }
VR_API int m1s50_wupa(void) { return 0; }
VR_API int m1s50_sel(picc *, int) { return 0; }
VR_API int m1s50_halt(picc *) { return 0; }

VR_API int m1s50_anticoll(picc *record, int) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (pcd_set_picc_protocol('A') != 0) return -1;
    vr::ReaderCommand c(kCmdSelectOne, {kWakeUp});
    int rc = c.send();
    if (rc != 0) return rc;
    const auto reply = c.reply();
    const int uid_len = reply.size() >= 2 ? reply[1] : -1;
    if (uid_len != kUidLen || reply.size() < 2u + kUidLen) {
        log_print(1, "err UID len: %d ", uid_len);
        return vr::fail(vr::kECardType);
    }
    std::memcpy(record->uid, reply.data() + 2, kUidLen);
    record->uid_len = kUidLen;
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

VR_API int m1s50_query(picc *halt, picc *record) {
    if (!record) return vr::fail(vr::kENotSelected);
    record->cid = 0;
    if (halt) m1s50_halt(halt);
    m1s50_req();
    return m1s50_anticoll(record, 0);
}

VR_API int m1s50_getuid(picc *record) {
    if (!record) return vr::fail(vr::kENotSelected);
    return record->uid_len < 1 ? m1s50_anticoll(record, 0) : 0;
}

VR_API int m1s50_read(unsigned char *out, uint8_t block) {
    return block_on_card(block) ? read_block(out, block) : vr::fail(vr::kEArg);
}
VR_API int m1s50_write(const unsigned char *in, uint8_t block) {
    return block_on_card(block) ? write_block(in, block) : vr::fail(vr::kEArg);
}
VR_API int m1s50_auth(const unsigned char *key, uint8_t key_type, uint8_t block) {
    return block_on_card(block) ? auth(key, key_type, block) : vr::fail(vr::kEArg);
}
VR_API int m1s50_chpw(const unsigned char *keys, uint8_t key_type, uint8_t block) {
    return block_on_card(block) ? change_keys(keys, key_type, block, trailer_1k) : vr::fail(vr::kEArg);
}
VR_API int m1s50_chaccess(const unsigned char *description, uint8_t block) {
    return block_on_card(block) ? change_access(description, block, trailer_1k) : vr::fail(vr::kEArg);
}
VR_API int m1s50_load(uint8_t block) { return block_on_card(block) ? restore(block) : vr::fail(vr::kEArg); }
VR_API int m1s50_transfer(uint8_t block) { return block_on_card(block) ? transfer(block) : vr::fail(vr::kEArg); }
VR_API int m1s50_incval(const unsigned char *value, uint8_t block) {
    return block_on_card(block) ? increment(value, block) : vr::fail(vr::kEArg);
}
VR_API int m1s50_decval(const unsigned char *value, uint8_t block) {
    return block_on_card(block) ? decrement(value, block) : vr::fail(vr::kEArg);
}
VR_API int m1s50_rdval(unsigned char *value, uint8_t block) {
    return block_on_card(block) ? read_value(value, block) : vr::fail(vr::kEArg);
}
VR_API int m1s50_wrval(const unsigned char *value, uint8_t block) {
    return block_on_card(block) ? write_value(value, block) : vr::fail(vr::kEArg);
}

VR_API int m1s50_secblk(uint16_t sector) { return sector < kSectors ? 4 : vr::fail(vr::kEArg); }
VR_API int m1s50_blklen(uint16_t block) { return block < kBlocks ? kBlockSize : vr::fail(vr::kEArg); }
VR_API int m1s50_seccnt(void) { return kSectors; }
VR_API int m1s50_blkcnt(void) { return kBlocks; }

// The driver's operations; slots left out are operations a 1K card does
// not offer.
// The card fields after the slots start zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
constexpr picc kM1s50Ops = {
    .req = m1s50_req,
    .sel = m1s50_sel,
    .anticoll = m1s50_anticoll,
    .query = m1s50_query,
    .halt = m1s50_halt,
    .getuid = m1s50_getuid,
    .wupa = m1s50_wupa,
    .read = m1s50_read,
    .write = m1s50_write,
    .readdata = m1s50_readdata,
    .writedata = m1s50_writedata,
    .auth = m1s50_auth,
    .chpw = m1s50_chpw,
    .chaccess = m1s50_chaccess,
    .load = m1s50_load,
    .transfer = m1s50_transfer,
    .incval = m1s50_incval,
    .decval = m1s50_decval,
    .rdval = m1s50_rdval,
    .wrval = m1s50_wrval,
    .secblk = m1s50_secblk,
    .blklen = m1s50_blklen,
    .seccnt = m1s50_seccnt,
    .blkcnt = m1s50_blkcnt,
};
#pragma GCC diagnostic pop

VR_API int m1s50_init(picc *record) {
    return init_record(record, kM1s50Ops, "Mifare S50");
}
