// The card drivers' handling of reader replies over a reader that sends the
// fuzz bytes: type A search, MIFARE Classic 1K and 4K request,
// anticollision, reads, value reads, key and access changes, the 1K
// driver's byte-range reads and writes, and the uniform card operations
// with their re-selection and search. Input: a configuration byte, the
// number of operations (1..4) and for each an operation byte and its
// arguments (block, offset, length, key choice), then the reader's replies
// (framed by the device, or raw bytes).
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "mifare.h"
#include "picc.h"
#include "tessil.h"

namespace {

using vrfuzz::exact;

struct Operation {
    uint8_t kind;
    uint8_t block;
    uint16_t offset;
    uint16_t length;
    uint8_t key_choice;
};

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// An open card record of a driver, with its texts; freed by picc_free.
struct Record {
    picc *p = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    ~Record() { picc_free(p); }
};

void check_uid(const picc &r, int rc) {
    if (rc == 0) vrfuzz::check(r.uid_len == 4 || r.uid_len == 7 || r.uid_len == 10, "UID length");
}

// The uniform card operations on an open record of the list: selection
// again after a failure, the driver under the library lock, the search.
void card_operations(const Operation &op, const char *type) {
    auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    if (picc_init(record, type) != 0) {
        picc_free(record);
        return;
    }
    record->uid_len = 4;
    record->card_status = op.key_choice & 2 ? PICC_STATUS_ACTIVE : PICC_STATUS_FAILED;
    piccs_list_add(&tessil.piccs, record);
    picc_auth(record, op.key_choice & 1 ? kKey : nullptr, MIFARE_KEY_A, op.block);
    picc_read(record, exact(16).get(), op.block);
    picc_readdata(record, op.offset, op.length, exact(op.length).get());
    picc_rdval(record, exact(4).get(), op.block);
    // A failed search frees every open record.
    picc_search(record);
    piccs_list_delall(&tessil.piccs);
}

void run(const Operation &op) {
    const unsigned char *key = op.key_choice & 1 ? kKey : nullptr;
    switch (op.kind % 19) {
    case 16: card_operations(op, "mifare_s50"); break;
    case 17: card_operations(op, "mifare_s70"); break;
    case 0: {
        Record r;
        const int rc = pcd_search_type_A(r.p, 0);
        check_uid(*r.p, rc);
        if (rc == 0) vrfuzz::check(r.p->picc_type != nullptr, "search names the card type");
        break;
    }
    case 1: {
        Record r;
        m1s50_init(r.p);
        const int rc = m1s50_query(nullptr, r.p);
        if (rc == 0) vrfuzz::check(r.p->uid_len == 4, "1K UID length");
        break;
    }
    case 2: {
        Record r;
        m1s70_init(r.p);
        const int rc = m1s70_query(nullptr, r.p);
        if (rc == 0) vrfuzz::check(r.p->uid_len == 4, "4K UID length");
        m1s70_halt(r.p);
        break;
    }
    case 3: m1s70_wupa(); break;
    case 4: m1s50_read(exact(16).get(), op.block); break;
    case 5: m1s50_rdval(exact(4).get(), op.block); break;
    case 6: m1s70_read(exact(16).get(), op.block); break;
    case 7: m1s70_rdval(exact(4).get(), op.block); break;
    case 8: m1s50_readdata_ex(op.offset, op.length, exact(op.length).get(), key); break;
    case 9: {
        auto in = exact(op.length);
        m1s50_writedata_ex(op.offset, op.length, in.get(), key);
        break;
    }
    case 10: m1s50_readdata(op.offset, op.length, exact(op.length).get()); break;
    case 11: m1s50_chpw(exact(12).get(), static_cast<uint8_t>(0x60 + (op.key_choice % 3)), op.block); break;
    case 12: m1s70_chaccess(exact(16).get(), op.block); break;
    case 13: m1s50_auth(key, static_cast<uint8_t>(0x60 + (op.key_choice & 1)), op.block); break;
    case 18: pcd_search_type_A(nullptr, 0); break;
    case 14: {
        Record r;
        m1s70_init(r.p);
        r.p->uid_len = 4;
        m1s70_sel(r.p, 0);
        m1s70_getuid(r.p);
        break;
    }
    default: {
        Record r;
        m1s50_init(r.p);
        check_uid(*r.p, m1s50_getuid(r.p));
        break;
    }
    }
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const int count = 1 + in.byte() % 4;
    std::vector<Operation> ops;
    for (int i = 0; i < count; ++i) {
        Operation op{};
        op.kind = in.byte();
        op.block = in.byte();
        op.offset = in.u16() % 1024;
        op.length = in.u16() % 1024;
        op.key_choice = in.byte();
        ops.push_back(op);
    }
    vrfuzz::DeviceOptions options;
    options.short_count = config & 0x01;
    options.zeros_at_end = config & 0x02;
    options.framed = !(config & 0x04);
    // The first family speaks protocol 3; the older protocols can be
    // selected over it, and their replies are checked differently.
    vrfuzz::install_device(in.rest(), config & 0x30 ? vrfuzz::protocol_from(config >> 4) : 3, 100, options);
    for (const Operation &op : ops) run(op);
}
