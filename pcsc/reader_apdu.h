// The commands of class FF that the reader answers itself, for software
// that reaches contactless cards through the smart-card stack: GET DATA
// (the UID, the answer to select's historical bytes) for every card, and
// for storage cards, which know no APDUs, LOAD KEYS, GENERAL AUTHENTICATE,
// READ BINARY and UPDATE BINARY carried out with the cards' own commands.
// Command bytes come from any local program: bounded parsing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "atr.h"

namespace vrpcsc {

// Status words the reader's own commands answer with.
namespace sw {
constexpr uint16_t ok = 0x9000;
constexpr uint16_t end_of_data = 0x6282;     // fewer bytes than Le
constexpr uint16_t no_information = 0x6300;  // authentication refused
constexpr uint16_t memory_failure = 0x6581;  // the card refused the operation
constexpr uint16_t wrong_length = 0x6700;    // Lc does not fit the command
constexpr uint16_t not_satisfied = 0x6982;   // no authentication for the block
constexpr uint16_t key_not_loaded = 0x6983;  // the key slot holds no key
constexpr uint16_t no_non_volatile = 0x6987; // keys are kept in volatile slots only
constexpr uint16_t bad_key_number = 0x6988;
constexpr uint16_t bad_key_length = 0x6989;
constexpr uint16_t not_supported = 0x6A81;   // function not supported for this card
constexpr uint16_t wrong_parameters = 0x6B00;
constexpr uint16_t wrong_le = 0x6C00;        // low byte: the length there is
constexpr uint16_t no_instruction = 0x6D00;
constexpr uint16_t no_class = 0x6E00;
}  // namespace sw

constexpr uint8_t kReaderClass = 0xFF;

// A short command APDU: header, the Lc data and Le (256 for a zero byte).
struct Apdu {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    const uint8_t *data = nullptr;
    std::size_t lc = 0;
    std::optional<std::size_t> le;
};

// Splits the bytes of a command; a status word to answer when they are no
// short APDU (empty, shorter than a header, an Lc that disagrees with the
// length, extended lengths).
struct Parsed {
    std::optional<Apdu> apdu;
    uint16_t error = sw::ok;
};
Parsed parse_apdu(const uint8_t *bytes, std::size_t n);

enum class Outcome { ok, refused, link_failed };

// The storage card's own commands; the handler implements them over the
// library, the tests over a model.
class StorageCard {
public:
    virtual ~StorageCard() = default;
    // One unit (unit_size bytes: a block, a page) to or from the card.
    virtual Outcome read_unit(unsigned unit, uint8_t *out) = 0;
    virtual Outcome write_unit(unsigned unit, const uint8_t *in) = 0;
    // MIFARE Classic authentication of a block's sector with key type
    // 0x60 (A) or 0x61 (B) and a 6-byte key.
    virtual Outcome authenticate(unsigned block, uint8_t key_type, const uint8_t *key) = 0;
};

// The reader's volatile key slots: what LOAD KEYS puts there lasts while
// the reader is open.
constexpr std::size_t kKeySize = 6;
using Key = std::array<uint8_t, kKeySize>;
using KeySlots = std::array<std::optional<Key>, 2>;

// What a card tells about itself, for GET DATA.
struct CardFacts {
    CardKind kind = CardKind::none;
    Bytes uid;
    std::optional<Bytes> historical;  // only cards with an answer to select
};

// The answer to one command: data and status word, or a failed link.
struct Answer {
    Bytes bytes;
    bool link_failed = false;
};

// One card's session: its MIFARE Classic authentication outlives the
// command that made it, as it does on the card.
class StorageSession {
public:
    StorageSession(CardKind kind, StorageCard &card, KeySlots &keys) : kind_(kind), card_(card), keys_(keys) {}
    Answer run(const Apdu &apdu);
    // After the reader searched the card again (which ends its
    // authentication on the card): authenticate as before, if there was
    // an authentication.
    Outcome restore();

private:
    Answer load_key(const Apdu &apdu);
    Answer authenticate(const Apdu &apdu);
    Answer read_binary(const Apdu &apdu);
    Answer update_binary(const Apdu &apdu);
    bool authenticated_for(unsigned block) const;

    struct Authentication {
        unsigned block;
        uint8_t key_type;
        Key key;
    };
    CardKind kind_;
    StorageCard &card_;
    KeySlots &keys_;
    std::optional<Authentication> auth_;
};

Answer status(uint16_t word);
// GET DATA (FF CA): P1 0 the UID, 1 the historical bytes of the answer to
// select.
Answer get_data(const Apdu &apdu, const CardFacts &card);

// A command of class FF for the card: GET DATA for every card, and the
// storage commands through session when the card is a storage card (null
// otherwise).
Answer reader_command(const Apdu &apdu, const CardFacts &card, StorageSession *session);

}  // namespace vrpcsc
