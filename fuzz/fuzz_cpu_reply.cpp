// The CPU card and generic type A drivers' handling of reader answers: the
// activation answer with its UID and ATS, the APDU exchange over the
// caller's length-prefixed buffer, the type A search of the generic
// driver, and the uniform read with its re-selection. Input: a
// configuration byte (install_card_device), the number of operations
// (1..4), per operation a kind and an APDU length, then the replies.
#include <vector>

#include "cpucard.h"
#include "fuzz_support.h"
#include "picc.h"
#include "tessil.h"

namespace {

using vrfuzz::CardRecord;
using vrfuzz::check;
using vrfuzz::exact;

struct Operation {
    uint8_t kind;
    uint8_t length;
};

// The buffer of the read slot: its length byte, then the APDU.
std::unique_ptr<unsigned char[]> apdu_buffer(uint8_t length) {
    auto b = exact(256);
    b[0] = length;
    return b;
}

void run(const Operation &op) {
    switch (op.kind % 6) {
    case 0: {
        CardRecord r;
        cpucard_init(r.p);
        if (cpucard_anticoll(r.p, 0) == 0) {
            check(r.p->uid_len >= 0 && r.p->uid_len <= 10, "CPU UID length");
            check(r.p->ats_len >= 0 && r.p->ats_len <= 32, "ATS length");
            check(r.p->ats_len == 0 || r.p->ats[0] == r.p->ats_len, "the ATS starts with its length");
        }
        break;
    }
    case 1: {
        auto b = apdu_buffer(op.length);
        cpucard_read(b.get(), 0);
        break;
    }
    case 2: {
        CardRecord r;
        cpucard_init(r.p);
        cpucard_query(nullptr, r.p);
        cpucard_getuid(r.p);
        cpucard_halt(r.p);
        break;
    }
    case 3: {
        CardRecord r;
        iso14443a_init(r.p);
        if (iso14443a_query(nullptr, r.p) == 0)
            check(r.p->uid_len == 4 || r.p->uid_len == 7 || r.p->uid_len == 10, "type A UID length");
        break;
    }
    case 4: {
        // The uniform read re-selects a failed card first.
        auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
        if (cpucard_init(record) != 0) {
            picc_free(record);
            break;
        }
        record->card_status = op.length & 1 ? PICC_STATUS_ACTIVE : PICC_STATUS_FAILED;
        piccs_list_add(&tessil.piccs, record);
        auto b = apdu_buffer(op.length);
        picc_read(record, b.get(), 0);
        piccs_list_delall(&tessil.piccs);
        break;
    }
    default: {
        CardRecord r;
        iso14443a_init(r.p);
        iso14443a_getuid(r.p);
        break;
    }
    }
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const int count = 1 + in.byte() % 4;
    std::vector<Operation> ops;
    for (int i = 0; i < count; ++i) ops.push_back({in.byte(), in.byte()});
    vrfuzz::install_card_device(config, in.rest());
    for (const Operation &op : ops) run(op);
}
