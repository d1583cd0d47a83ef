// A virtual ISO 14443-4 type A CPU card: it is activated like any type A
// card, enters the ISO 14443-4 protocol with RATS (answering its ATS) and
// then runs APDUs against a small ISO 7816-4 file system
// (iso7816_files.h):
//   MF 3F00
//     EF 0001  transparent, 16 bytes: "VANTEL-SIM CPU" and two zeros
//     DF 1001  name F0 56 52 54 45 53 54 01
//       EF 0101  transparent, 300 bytes (byte i = i mod 251), SFI 1
//       EF 0102  4 records of 16 bytes (record n: n, then 15 bytes 0xA0 + n), SFI 2
// Leaving the active state (halt, a new request, the field) ends the
// protocol: the MF is current again. Cards that run an application of
// their own over the same protocol (bank_card.h) derive from it.
#pragma once

#include <memory>
#include <string>

#include "card.h"
#include "iso7816_files.h"

namespace vrsim {

class CpuCard : public Card {
public:
    static constexpr uint16_t kAtqa = 0x0008;
    static constexpr uint8_t kSak = 0x20;  // ISO 14443-4 compliant
    // TL, T0 (TA, TB, TC follow; FSCI 8: 256-byte frames), TA, TB, TC,
    // then the historical bytes "VRCPU".
    static constexpr std::array<uint8_t, 10> kAts{0x0A, 0x78, 0x80, 0x70, 0x02, 'V', 'R', 'C', 'P', 'U'};

    // 4- or 7-byte UID, random 4 bytes when empty.
    static std::shared_ptr<CpuCard> make(Bytes uid, uint16_t atqa, uint8_t sak, std::string* error);
    CpuCard(uint16_t atqa, uint8_t sak, Bytes uid);

    // RATS from the active state: the ATS, and the card speaks ISO 14443-4.
    [[nodiscard]] std::optional<Bytes> rats();
    // One APDU in the ISO 14443-4 protocol: the response; nothing when the
    // card is not in the protocol.
    [[nodiscard]] std::optional<Bytes> apdu(ByteView command);
    [[nodiscard]] bool in_protocol() const;
    // For set-up and assertions.
    template <class F>
    void edit_files(F&& change) {
        std::lock_guard hold(mutex_);
        change(files_);
    }

protected:
    // A card of another kind over the same activation and protocol, with its
    // own file system and answer to select.
    CpuCard(CardKind kind, std::string name, uint16_t atqa, uint8_t sak, Bytes uid, Iso7816Files files, Bytes ats);
    // One APDU of the protocol, with the lock held: the file system's answer.
    [[nodiscard]] virtual Bytes process_locked(ByteView command) { return files_.process(command); }
    void end_session_locked() override;

    Iso7816Files files_;

private:
    Bytes ats_;
    bool in_protocol_ = false;
};

}  // namespace vrsim
