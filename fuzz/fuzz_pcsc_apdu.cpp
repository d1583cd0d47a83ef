// The reader driver's parsing of what smart-card software sends and what
// cards answer: command APDUs through the storage commands (on a model
// Classic 1K and Ultralight, whose link may fail), the historical bytes of
// an answer to select and the ATR built from them, a type B card's ATQB
// and the ATR built from it, and reader.conf device
// names. Input: a configuration byte (bit 0 the card kind, bit 1 a failed
// link), then commands of a length byte and the bytes; the rest is taken
// as an answer to select, as a type B card's request answer and as a
// device name.
#include <string_view>

#include "atr.h"
#include "device_name.h"
#include "fuzz_support.h"
#include "model_storage_card.h"
#include "reader_apdu.h"

using namespace vrpcsc;
using vrfuzz::check;
using vrfuzz::Input;

void vrfuzz::fuzz_one(Input &in) {
    const uint8_t config = in.byte();
    const CardKind kind = config & 1 ? CardKind::ultralight : CardKind::classic_1k;
    ModelStorageCard card(kind);
    card.link_down = config & 2;
    KeySlots keys;
    StorageSession session(kind, card, keys);
    const CardFacts facts{kind, {0x04, 0x11, 0x22, 0x33}, Bytes{'h'}};
    while (in.left() > 0) {
        const std::size_t n = in.byte();
        if (n > in.left()) break;
        const auto command = in.take(n);
        const Parsed p = parse_apdu(command.data(), command.size());
        if (p.apdu) {
            const Answer a = reader_command(*p.apdu, facts, &session);
            check(a.link_failed || a.bytes.size() >= 2, "an answer ends in a status word");
            check(a.bytes.size() <= 16 + 2, "no answer exceeds a read unit");
        }
        session.restore();
    }
    const auto rest = in.rest();
    const Bytes historical = ats_historical_bytes(rest.data(), rest.size());
    check(historical.size() <= 15, "at most 15 historical bytes");
    check(iso_dep_atr(historical).size() <= 33, "an ATR fits its 33 bytes");
    if (const auto b = type_b_answer(rest.data(), rest.size())) {
        check(b->pupi.size() == 4, "a PUPI has 4 bytes");
        check(type_b_atr(*b, rest[0]).size() == 13, "a type B ATR has 13 bytes");
    }
    const auto name = parse_device_name(std::string_view(reinterpret_cast<const char *>(rest.data()), rest.size()));
    check(!name || name->usb || !name->path.empty(), "a device name names a path or a USB device");
}
