// The CID card driver's handling of reader answers: the type B request and
// ATTRIB answers, the APDU answers it splits into data and status word, the
// file selection and the READ BINARY pieces, and the reading of a named
// file into hexadecimal text. Input: a configuration byte
// (install_card_device), the number of operations (1..4), per operation a
// kind, an argument and a chunk length, then the replies.
#include <cstring>
#include <vector>

#include "cpucard.h"
#include "fuzz_support.h"
#include "picc.h"

namespace {

using vrfuzz::CardRecord;
using vrfuzz::check;
using vrfuzz::exact;

struct Operation {
    uint8_t kind;
    uint8_t argument;
    uint8_t chunk;
};

// The files of the card's table and their sizes.
constexpr struct {
    const char *name;
    int size;
} kFiles[] = {{"6002", 32}, {"6011", 214}, {"6012", 256}, {"6013", 1024}, {"6021", 1024}};

void run(const Operation &op, picc *record) {
    switch (op.kind % 6) {
    case 0: {
        CardRecord r;
        cidcard_init(r.p);
        if (cidcard_anticoll(r.p, 0) == 0) {
            check(r.p->uid_len == 13 && r.p->uid[12] == 0, "CID identifier: 12 bytes and a zero");
            check(r.p->ats_len == 2, "ATTRIB answer length");
        }
        break;
    }
    case 1: {
        auto b = exact(256);
        b[0] = op.argument;
        cidcard_read(b.get(), 0);
        break;
    }
    case 2: {
        auto apdu = exact(op.argument + 1u);
        auto response = exact<cid_apdu_response>(1);
        cidApduWithBytesEx(record, apdu.get(), op.argument + 1, response.get());
        break;
    }
    case 3: selectFile(record, static_cast<uint16_t>(0x6000 | op.argument)); break;
    case 4: {
        const int total = op.argument * 4;
        auto out = exact(static_cast<size_t>(total));
        int count = -1;
        const int rc = readBin(record, out.get(), op.chunk, total, &count);
        check(count >= -1 && count <= total, "READ BINARY count");
        if (rc == 1) check(count == total, "a complete read counts every byte");
        break;
    }
    default: {
        const auto &file = kFiles[op.argument % 5];
        const size_t room = 2 * static_cast<size_t>(file.size) + 1;
        auto out = exact<char>(room);
        int length = 0;
        if (cidcard_ctrl(record, 70, file.name, out.get(), &length) == 0) {
            check(length == 2 * file.size, "a file read whole");
            check(std::strlen(out.get()) == static_cast<size_t>(length), "hexadecimal text of that length");
        }
        break;
    }
    }
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const int count = 1 + in.byte() % 4;
    std::vector<Operation> ops;
    for (int i = 0; i < count; ++i) ops.push_back({in.byte(), in.byte(), in.byte()});
    vrfuzz::install_card_device(config, in.rest());
    CardRecord record;
    cidcard_init(record.p);
    for (const Operation &op : ops) run(op, record.p);
}
