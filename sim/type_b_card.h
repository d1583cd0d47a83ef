// Virtual ISO 14443 type B cards. A type B card does not hear the type A
// commands; it answers REQB/WUPB with its ATQB (50, PUPI, application data
// 00 00 00 00, protocol info 00 81 70: 106 kbit/s, 256-byte frames,
// ISO 14443-4), takes ATTRIB when it names its PUPI (answering its CID),
// then runs APDUs until HLTB, a new request or the field going off.
// States as for type A: idle, ready (after the request), active (after
// ATTRIB), halted (WUPB wakes it).
//
// The CID card: PUPI 00 00 00 00 unless given, a random 16-digit card
// number, and the files
//   6002   32 bytes: "CID", the card number in ASCII digits, zeros
//   6011  214 bytes
//   6012  256 bytes
//   6013 1024 bytes
//   6021 1024 bytes
// in its master file (iso7816_files.h), the last four filled with bytes
// made from the card number and the file identifier, so that every card,
// file and offset differs. READ BINARY takes CLA 80 as well as 00; a
// SELECT without Le answers 90 00 alone.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "card.h"
#include "iso7816_files.h"

namespace vrsim {

class TypeBCard : public Card {
public:
    static constexpr size_t kAtqbSize = 12;

    // `identity` is what the card reports as its UID to the control
    // channel (the PUPI, or a card's own identifier).
    TypeBCard(CardKind kind, std::string name, Bytes identity, Bytes pupi);

    [[nodiscard]] char protocol() const override { return 'B'; }
    [[nodiscard]] const Bytes& pupi() const { return pupi_; }

    // Type A commands reach no type B card.
    [[nodiscard]] std::optional<uint16_t> request(bool) override { return std::nullopt; }
    [[nodiscard]] std::optional<Bytes> anticollision() override { return std::nullopt; }
    [[nodiscard]] bool select(ByteView) override { return false; }
    [[nodiscard]] bool halt() override { return false; }

    // REQB (idle cards) or WUPB (idle and halted): the ATQB; the card is
    // ready.
    [[nodiscard]] std::optional<Bytes> reqb(bool wake_up);
    // ATTRIB (1D, identifier, param 1..4) to a ready card naming its PUPI:
    // the answer byte (MBLI 0, the CID of param 4); the card is active.
    [[nodiscard]] std::optional<uint8_t> attrib(ByteView frame);
    // HLTB naming its PUPI: an active or ready card is halted.
    [[nodiscard]] bool hltb(ByteView identifier);
    // One APDU of an active card: the response.
    [[nodiscard]] std::optional<Bytes> apdu(ByteView command);

protected:
    [[nodiscard]] virtual Bytes process_apdu_locked(ByteView command) = 0;

private:
    const Bytes pupi_;
};

class CidCard : public TypeBCard {
public:
    // PUPI of 4 bytes; 00 00 00 00 when empty.
    static std::shared_ptr<CidCard> make(Bytes pupi, std::string* error);
    explicit CidCard(Bytes pupi);

    [[nodiscard]] const std::string& number() const { return number_; }
    // For assertions: a file's contents (empty for an unknown identifier).
    [[nodiscard]] Bytes file(uint16_t id);
    // For set-up: changes the files.
    template <class F>
    void edit_files(F&& change) {
        std::lock_guard hold(mutex_);
        change(files_);
    }

private:
    Bytes process_apdu_locked(ByteView command) override;
    void end_session_locked() override;

    const std::string number_;
    Iso7816Files files_;
};

}  // namespace vrsim
