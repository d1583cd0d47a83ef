// A virtual contactless PBOC bank card: an ISO 14443-4 type A card (it is
// activated and carries APDUs exactly as the CPU card, cpu_card.h) whose
// file system holds the payment environments and one payment application,
// and which answers the EMV commands of a purchase.
//
//   DF 1PAY.SYS.DDF01 (PSE)   FCI: 88 SFI 1; SFI 1 holds the directory
//                             record (61: 4F AID, 50 label, 87 priority)
//   DF 2PAY.SYS.DDF01 (PPSE)  FCI: BF0C with the same directory entry
//   DF A0 00 00 03 33 01 01 01 "PBOC DEBIT"  FCI: 50, 87, 9F38 (PDOL)
//     SFI 1  record 1: 57 track 2, 5F20 holder, 9F61 ID number, 9F62 type
//            record 2: 5A PAN, 5F24, 5F25, 5F34, 5F28, 9F07, 8C, 8D, 8E, IACs
//            record 3: 9F08, 5F30, 9F49
//     SFI 2  record 1: 8F, 9F32
//
// A DF name may be given in part (the first application whose name starts
// with it is selected) and the FCI is answered whether Le is there or not.
// The data are test values: the account number 6229990000123459 (its check
// digit is valid), expiry 12/30, holder "VANTEL/TEST CARD".
//
// EMV commands of the selected application:
//   80 A8  GET PROCESSING OPTIONS, data 83 L and the PDOL's values: the ATC
//          counts up; the answer is format 2 (77: 82 AIP, 94 AFL) or format
//          1 (80: AIP AFL), as set. AFL: SFI 1 records 1-3, SFI 2 record 1.
//   80 CA  GET DATA of 9F36 (ATC), 9F13 (last online ATC), 9F17 (PIN try
//          counter), 9F4F (log format), 9F79 (electronic-cash balance).
//   80 AE  GENERATE AC with the CDOL1 values after processing options (an
//          ARQC, or an AAC when one is asked for), with the CDOL2 values
//          after an ARQC (a TC when the issuer authentication did not fail
//          and the response code 8A, the first CDOL2 value, approves: "00",
//          "10", "11", "Y1", "Y3"; else an AAC). The second GENERATE AC never
//          gives an ARQC: a request for one is answered like one for a TC.
//          The answer has the GPO's format: 77 (9F27 CID, 9F36 ATC, 9F26
//          AC, 9F10 issuer application data) or 80 (the same values).
//   00 82  EXTERNAL AUTHENTICATE after the ARQC, once: ARPC (8) and ARC
//          (2); 63 00 when the ARPC is not the issuer's.
// Issuer script commands (CLA 84, or 04 for PUT DATA), after the first
// GENERATE AC, with a 4-byte MAC over the command header, the ATC, the
// ARQC and the data: 1E APPLICATION BLOCK, 18 APPLICATION UNBLOCK, 24 PIN
// CHANGE/UNBLOCK (the try counter back to 3), DA PUT DATA of 9F79. A wrong
// MAC: 69 88. A blocked application answers its SELECT with 62 83 and
// refuses processing options (69 85).
//
// Cryptograms and MACs are 3DES over the card's key (kIssuerKey), which the
// issuer side shares: issuer_authentication() and script_command() make
// what an issuer would send for the last ARQC.
//
// Status words for errors: 67 00 wrong length, 69 85 command out of
// sequence, 6A 88 no such data object, 6D 00 unknown instruction; and any
// status word injected for an instruction with fail().
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "cpu_card.h"

namespace vrsim {

class BankCard : public CpuCard {
public:
    static constexpr std::array<uint8_t, 16> kIssuerKey{0x56, 0x52, 0x2D, 0x42, 0x41, 0x4E, 0x4B, 0x2D,
                                                        0x54, 0x45, 0x53, 0x54, 0x2D, 0x4B, 0x45, 0x59};

    // 4- or 7-byte UID, random 4 bytes when empty.
    static std::shared_ptr<BankCard> make(Bytes uid, std::string* error);
    explicit BankCard(Bytes uid);

    // Settings (kept across sessions, like the card's data).
    void set_gpo_format(int format);  // 1 or 2 (the default)
    void set_pse(bool present);       // without it, SELECT of 1PAY.SYS.DDF01 is 6A 82
    // The next `count` commands with instruction `ins` are answered with sw
    // alone and not run.
    void fail(uint8_t ins, uint16_t sw, unsigned count = 1);
    void clear_faults();

    // The issuer's side of the last ARQC: the issuer authentication data
    // (value of tag 91: ARPC and the response code arc), and a script
    // command (header, Lc and data) with its Lc counting the MAC and the
    // MAC appended. Nothing before an ARQC.
    [[nodiscard]] std::optional<Bytes> issuer_authentication(ByteView arc) const;
    [[nodiscard]] std::optional<Bytes> script_command(ByteView command) const;

    // Observation.
    [[nodiscard]] uint16_t atc() const;
    [[nodiscard]] uint64_t balance() const;  // 9F79 in cents
    [[nodiscard]] bool blocked() const;
    [[nodiscard]] int pin_tries() const;
    // The cryptogram type of the last GENERATE AC (0x00 AAC, 0x40 TC, 0x80
    // ARQC), if any in this session.
    [[nodiscard]] std::optional<uint8_t> last_cryptogram() const;
    [[nodiscard]] std::string describe() const;

private:
    enum class Phase { none, selected, initiated, online, completed };
    struct Fault {
        uint8_t ins;
        uint16_t sw;
        unsigned count;
    };

    [[nodiscard]] Bytes process_locked(ByteView command) override;
    void end_session_locked() override;
    // A new selection or new processing options start a new transaction.
    void reset_transaction();

    [[nodiscard]] Bytes select_file(ByteView command, uint8_t p1, ByteView data);
    [[nodiscard]] Bytes processing_options(ByteView data);
    [[nodiscard]] Bytes get_data(uint8_t p1, uint8_t p2);
    [[nodiscard]] Bytes generate_ac(uint8_t p1, ByteView data);
    [[nodiscard]] Bytes external_authenticate(ByteView data);
    [[nodiscard]] Bytes script(uint8_t ins, uint8_t p1, uint8_t p2, ByteView command, ByteView data);
    [[nodiscard]] Bytes cryptogram_answer(uint8_t cid, ByteView ac) const;
    [[nodiscard]] Bytes mac_locked(ByteView header, ByteView data) const;

    int gpo_format_ = 2;
    bool pse_ = true;
    std::deque<Fault> faults_;
    uint16_t atc_ = 0;
    uint16_t last_online_atc_ = 0;
    uint64_t balance_ = 10000;
    bool blocked_ = false;
    int pin_tries_ = 3;

    // The session (reset when the card leaves the active state).
    Phase phase_ = Phase::none;
    bool issuer_auth_failed_ = false;
    bool issuer_auth_done_ = false;
    Bytes arqc_;  // the first GENERATE AC's cryptogram
    std::optional<uint8_t> last_cid_;
};

}  // namespace vrsim
