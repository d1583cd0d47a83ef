// The Ultralight, Ultralight C and identity drivers' handling of reader
// answers: the request's ATQA, the anticollision's UID, page reads, byte
// ranges (plain and enciphered) whose answers must have the length asked
// for, the C's authentication and key change, and the identity card's
// identifier. Input: a configuration byte (install_card_device), the
// number of operations (1..4), per operation a kind, a page, an address
// and a length (high, low), then the replies.
#include <vector>

#include "fuzz_support.h"
#include "identity.h"
#include "picc.h"
#include "ultralight.h"

namespace {

using vrfuzz::CardRecord;
using vrfuzz::check;
using vrfuzz::exact;

struct Operation {
    uint8_t kind;
    uint8_t page;
    uint16_t address;
    uint16_t length;
};

void run(const Operation &op) {
    switch (op.kind % 9) {
    case 0: {
        CardRecord r;
        m0ul_init(r.p);
        if (m0ul_query(nullptr, r.p) == 0) check(r.p->uid_len == 7, "Ultralight UID length");
        break;
    }
    case 1: m0ulc_read(exact(4).get(), op.page); break;
    case 2: m0ul_readdata(op.address, op.length, exact(op.length).get()); break;
    case 3: m0ulc_readdata_enc(op.address, op.length, exact(op.length).get()); break;
    case 4: {
        auto in = exact(op.length);
        m0ulc_writedata(op.address, op.length, in.get());
        break;
    }
    case 5: m0ulc_auth(op.page & 1 ? exact(16).get() : nullptr, 0, 0); break;
    case 6: m0ulc_chpw(exact(32).get(), 0, 0); break;
    case 7: {
        CardRecord r;
        identity_init(r.p);
        if (identity_query(nullptr, r.p) == 0) check(r.p->uid_len == 8, "identity card identifier length");
        break;
    }
    default: {
        CardRecord r;
        m0ulc_init(r.p);
        m0ulc_getuid(r.p);
        m0ulc_ctrl(r.p, 17, op.page, 0, 0, 0, 0, 0);
        m0ulc_halt(r.p);
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
        op.page = in.byte();
        op.address = static_cast<uint16_t>(in.byte() << 8 | in.byte());
        op.length = static_cast<uint16_t>((in.byte() << 8 | in.byte()) % 256);
        ops.push_back(op);
    }
    vrfuzz::install_card_device(config, in.rest());
    for (const Operation &op : ops) run(op);
}
