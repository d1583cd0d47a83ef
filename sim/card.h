// Virtual type A cards for the reader's field.
//
// A Card is one contactless card: its identity (UID, ATQA, SAK), its
// ISO 14443-3 state (idle, ready, active, halted; authenticated for MIFARE
// Classic) and, for the MIFARE Classic kinds, its whole memory with the
// keys and access conditions of every sector enforced as the card enforces
// them. The reader model (fw_cards.cpp) drives it through the air-interface
// methods; tests and the control channel set it up and look into it
// through the others. Every method is thread-safe: the card has its own
// lock, so a test may keep a handle and inspect the memory while the
// simulator's thread talks to the card.
//
// A card keeps its memory when it leaves the field (remove, then place the
// same handle again) and loses its state: arriving in the field, or the
// field switching off, resets it to idle.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "wire.h"

namespace vrsim {

enum class CardKind {
    classic_mini,  // MIFARE Classic Mini (mifare_s20): 5 sectors
    classic_1k,    // mifare_s50: 16 sectors
    classic_4k,    // mifare_s70: 32 sectors of 4 blocks, 8 of 16
    ultralight,
    ultralight_c,
    mifare_plus,
    desfire,
    generic,  // any type A card with the ATQA and SAK given
    cpu,      // ISO 14443-4 type A card with a file system (cpu_card.h)
    cid,      // type B ID card with its files (type_b_card.h)
    identity, // PRC identity card, read through the reader's SAM (identity_card.h)
    bank,     // contactless PBOC bank card, an ISO 14443-4 card (bank_card.h)
};

// ISO 14443-3 card states. `authenticated` is MIFARE Classic's active
// state with a sector opened by a key.
enum class CardState { idle, ready, active, authenticated, halted };
[[nodiscard]] const char* to_string(CardState state);

// MIFARE authentication key types, as the reader commands carry them.
enum class KeyType : uint8_t { a = 0x60, b = 0x61 };

using Block = std::array<uint8_t, 16>;
using Key = std::array<uint8_t, 6>;
// Access conditions of a sector: C1 | C2 << 1 | C3 << 2 for data block 0,
// 1, 2 (on a 16-block sector: the groups of five blocks) and the trailer.
using AccessCodes = std::array<uint8_t, 4>;

// What a card does with a command it is sent.
enum class Answer {
    ok,       // it answers (ACK, or the data asked for)
    refused,  // it answers NAK (or fails the authentication) and leaves
              // the active state
    silent,   // the command is not valid in its state: no answer, and it
              // leaves the active state
};

// Geometry of MIFARE Classic memory; valid for every size (a 1K card's
// sectors are the 4K card's first sixteen).
namespace classic {
constexpr int kBlockSize = 16;
[[nodiscard]] constexpr int sector_of(int block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }
[[nodiscard]] constexpr int first_block(int sector) { return sector < 32 ? 4 * sector : 128 + 16 * (sector - 32); }
[[nodiscard]] constexpr int blocks_in_sector(int sector) { return sector < 32 ? 4 : 16; }
[[nodiscard]] constexpr int trailer_of(int sector) { return first_block(sector) + blocks_in_sector(sector) - 1; }
// Which of the four access codes governs a block: 0..2 data, 3 trailer.
[[nodiscard]] constexpr int access_index(int block) {
    const int in_sector = block - first_block(sector_of(block));
    if (block == trailer_of(sector_of(block))) return 3;
    return blocks_in_sector(sector_of(block)) == 4 ? in_sector : in_sector / 5;
}
// Transport configuration: keys FF..FF, access bytes FF 07 80, byte 9 69
// (data blocks code 000, trailer code 001).
constexpr Key kTransportKey{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 4> kTransportAccess{0xFF, 0x07, 0x80, 0x69};
// Trailer bytes 6..8 for the codes (each bit stored plain and inverted).
[[nodiscard]] std::array<uint8_t, 3> encode_access(const AccessCodes& codes);
// The codes in trailer bytes 6..8, or nothing when an inverted copy
// disagrees (the card then blocks the sector).
[[nodiscard]] std::optional<AccessCodes> decode_access(const Block& trailer);
// Value-block image: value, ~value, value (little endian), then address,
// ~address, address, ~address.
[[nodiscard]] Block value_block(int32_t value, uint8_t address);
// The value and address of a block in value format, or nothing.
[[nodiscard]] std::optional<std::pair<int32_t, uint8_t>> parse_value_block(const Block& block);
}  // namespace classic

class Card {
public:
    // ---- making cards. An empty UID means a random one of the kind's size
    // (4 bytes for MIFARE Classic and MIFARE Plus, 7 for Ultralight and
    // DESFire). Null with *error set when the UID has the wrong size.
    static std::shared_ptr<Card> classic_mini(Bytes uid = {}, std::string* error = nullptr);
    static std::shared_ptr<Card> classic_1k(Bytes uid = {}, std::string* error = nullptr);
    static std::shared_ptr<Card> classic_4k(Bytes uid = {}, std::string* error = nullptr);
    // Ultralight and Ultralight C with their memory (ultralight_card.h).
    static std::shared_ptr<Card> ultralight(Bytes uid = {}, std::string* error = nullptr);
    static std::shared_ptr<Card> ultralight_c(Bytes uid = {}, std::string* error = nullptr);
    // MIFARE Plus: ATQA 0x0004 with a 4-byte UID, 0x0044 with a 7-byte UID;
    // SAK 0x20 (security level 3) unless given (0x10/0x11 level 2, 0x08/
    // 0x18 level 1).
    static std::shared_ptr<Card> mifare_plus(Bytes uid = {}, uint8_t sak = 0x20, std::string* error = nullptr);
    static std::shared_ptr<Card> desfire(Bytes uid = {}, std::string* error = nullptr);
    // Any type A card: 4-, 7- or 10-byte UID (random 4 bytes when empty).
    static std::shared_ptr<Card> type_a(uint16_t atqa, uint8_t sak, Bytes uid = {}, std::string* error = nullptr);

    // By name, as the control channel and --card take it: mifare_s20,
    // mifare_s50, mifare_s70, mifare_ul, mifare_ulc, mifare_plus,
    // mifare_desfire, iso14443a, cpu_card, pboc_card, and the type B
    // cid_card and id_card (also: mini, classic1k, classic4k, ultralight,
    // ultralight_c, plus, desfire, typea, cpu, bank, cid, identity). `atqa` and `sak` replace a
    // type A kind's own values when given. The UID of a type B card is its
    // PUPI (4 bytes) or, for id_card, its 8-byte identifier.
    static std::shared_ptr<Card> make(std::string_view name, Bytes uid = {},
                                      std::optional<uint16_t> atqa = std::nullopt,
                                      std::optional<uint8_t> sak = std::nullopt,
                                      std::string* error = nullptr);
    // The names make() takes, for help texts.
    [[nodiscard]] static std::string kind_names();
    // n random bytes, never starting with the cascade tag 0x88.
    [[nodiscard]] static Bytes random_uid(size_t n);

    Card(CardKind kind, std::string name, uint16_t atqa, uint8_t sak, Bytes uid);
    virtual ~Card() = default;
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

    // ---- identity (fixed for the card's life)
    [[nodiscard]] CardKind kind() const { return kind_; }
    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] uint16_t atqa() const { return atqa_; }
    [[nodiscard]] uint8_t sak() const { return sak_; }
    [[nodiscard]] const Bytes& uid() const { return uid_; }
    // The air interface the card speaks: 'A' or 'B'. A type B card does not
    // hear the type A commands below.
    [[nodiscard]] virtual char protocol() const { return 'A'; }
    [[nodiscard]] bool is_classic() const;
    // The UID part that the first cascade level carries: the UID itself
    // when it has 4 bytes, else the cascade tag 0x88 and its first three
    // bytes.
    [[nodiscard]] Bytes cascade_level1() const;

    // ---- state (observation)
    [[nodiscard]] CardState state() const;
    // The sector and key of the current authentication, if any.
    [[nodiscard]] std::optional<std::pair<int, KeyType>> authentication() const;

    // ---- MIFARE Classic memory (0 blocks for other kinds). Raw access for
    // set-up and assertions: keys included, no access rules applied.
    [[nodiscard]] int block_count() const { return static_cast<int>(memory_.size()); }
    [[nodiscard]] int sector_count() const;
    [[nodiscard]] Block block(int n) const;  // zeros outside the card
    void set_block(int n, const Block& data);
    [[nodiscard]] Key key_a(int sector) const;
    [[nodiscard]] Key key_b(int sector) const;
    void set_keys(int sector, const Key& a, const Key& b);
    // Nothing when the stored access bytes are malformed.
    [[nodiscard]] std::optional<AccessCodes> access(int sector) const;
    void set_access(int sector, const AccessCodes& codes);
    // The whole memory, blocks in order (the binary dump layout).
    [[nodiscard]] Bytes image() const;
    // Replaces the whole memory; false (nothing changed) when the size is
    // not the card's.
    bool load_image(ByteView bytes);

    // ---- the air interface (used by the reader model)
    // Field lost or card moved: back to idle, authentication and transfer
    // buffer gone. Memory stays.
    void power_off();
    // REQA (wake_up false: idle cards answer) or WUPA (idle and halted):
    // the ATQA when the card answers and is now ready.
    [[nodiscard]] virtual std::optional<uint16_t> request(bool wake_up);
    // Anticollision of the first cascade level: its 4 bytes from a ready
    // card.
    [[nodiscard]] virtual std::optional<Bytes> anticollision();
    // SELECT of a ready card whose first cascade level matches; further
    // levels are completed by the reader. True: the card is active.
    [[nodiscard]] virtual bool select(ByteView cascade_level1);
    // HLTA: an active (or authenticated) card is halted.
    [[nodiscard]] virtual bool halt();

    // MIFARE Classic commands, valid in the active or authenticated state.
    [[nodiscard]] Answer authenticate(KeyType type, int block, const Key& key);
    [[nodiscard]] Answer read(int block, Block& out);
    [[nodiscard]] Answer write(int block, const Block& data);
    // Value operations into the transfer buffer, and its transfer.
    [[nodiscard]] Answer increment(int block, int32_t amount);
    [[nodiscard]] Answer decrement(int block, int32_t amount);
    [[nodiscard]] Answer restore(int block);
    [[nodiscard]] Answer transfer(int block);

protected:
    // Leaves the active state after an invalid command or a NAK: back to
    // halt when the card was woken from halt, else to idle.
    void drop_out_locked();
    [[nodiscard]] bool is_active_locked() const;
    // Whatever a card kind keeps only while it is active (an
    // authentication, a protocol session) ends here: on power-off, halt
    // and drop-out. Called with the lock held.
    virtual void end_session_locked() {}

    mutable std::mutex mutex_;
    CardState state_ = CardState::idle;
    bool woken_from_halt_ = false;

private:
    enum class Right { read, write, increment, decrement };  // decrement: also transfer, restore
    enum class Op { value_add, value_sub, value_copy };

    // MIFARE Classic commands are heard by an active card of a Classic
    // kind; otherwise there is no answer, and a card that is neither idle
    // nor halted drops out. True when the card takes the command.
    [[nodiscard]] bool hears_classic_command_locked();
    // The checks every memory command makes: authenticated, block on the
    // card and in the authenticated sector, sector not blocked, key B
    // usable. Drops out and gives the answer when one fails.
    [[nodiscard]] std::optional<Answer> check_access_locked(int block);
    [[nodiscard]] bool allowed_locked(int block, Right right) const;
    [[nodiscard]] Block read_view_locked(int block) const;
    [[nodiscard]] Answer write_trailer_locked(int block, const Block& data);
    [[nodiscard]] Answer value_operation(int block, Op op, int32_t amount);

    const CardKind kind_;
    const std::string name_;
    const uint16_t atqa_;
    const uint8_t sak_;
    const Bytes uid_;

    std::vector<Block> memory_;
    std::optional<std::pair<int, KeyType>> auth_;
    // The transfer buffer: a value and the address byte it came with,
    // loaded by increment, decrement or restore.
    std::optional<std::pair<int32_t, uint8_t>> transfer_buffer_;
};

}  // namespace vrsim
