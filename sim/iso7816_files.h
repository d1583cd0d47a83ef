// A small ISO/IEC 7816-4 file system, the application of the virtual CPU
// and CID cards: a master file (3F00) with elementary files and dedicated
// files one level down, each DF with its own elementary files.
//
// Commands (CLA 00 or 80; others 6E00):
//   SELECT       00 A4 P1 P2: P1 00/01/02 by file identifier (no data: the
//                MF), P1 04 by DF name (on a card that takes partial names,
//                the first DF whose name starts with the data); P2 00
//                answers the FCI, 0C nothing. Without Le the FCI waits
//                behind 61 LL for GET RESPONSE, or, on a card that keeps no
//                FCI for later, is not sent (90 00), or, on a card that
//                answers it all the same, is sent.
//   READ BINARY  B0: P1 P2 the offset (15 bits), or P1 = 80 | SFI and P2 the
//                offset; Le 00 means 256. Fewer bytes than asked: the data
//                and 62 82.
//   READ RECORD  B2: P1 the record number, P2 = SFI << 3 | 4 (SFI 0: the
//                current file); Le shorter than the record: 6C LL.
//   GET RESPONSE C0: what waits, at most Le (00: all); the rest behind
//                61 LL.
// Status words for errors: 6700 wrong length, 6981 the file has another
// structure, 6985 nothing waits for GET RESPONSE, 6986 no current file,
// 6A82 file not found, 6A83 record not found, 6A86 wrong P1 P2, 6B00
// offset outside the file, 6D00 unknown instruction, 6E00 unknown class.
// Not thread-safe on its own: its card holds the lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire.h"

namespace vrsim {

// Pieces of APDU answers, for the cards built on these files: the status
// word alone or after data; a BER-TLV element (one- or two-byte tag,
// one-byte or 81 length); a big-endian 16-bit value.
[[nodiscard]] Bytes sw_only(uint16_t word);
[[nodiscard]] Bytes with_status(Bytes data, uint16_t word);
[[nodiscard]] Bytes tlv(uint16_t tag, ByteView value);
[[nodiscard]] Bytes be16(unsigned value);

struct ElementaryFile {
    uint16_t id = 0;
    uint8_t sfi = 0;             // short file identifier, 0 for none
    bool records = false;        // linear fixed records, else transparent
    Bytes data;                  // transparent contents
    std::vector<Bytes> record_list;
};

struct DedicatedFile {
    uint16_t id = 0;
    Bytes name;  // DF name (application identifier)
    std::vector<ElementaryFile> files;
    // The FCI's proprietary template (A5) after the name, when not empty.
    Bytes proprietary;
};

class Iso7816Files {
public:
    enum class FciWithoutLe { waits, dropped, answered };
    enum class NameMatch { whole, partial };
    Iso7816Files(std::vector<ElementaryFile> master_files, std::vector<DedicatedFile> dedicated,
                 FciWithoutLe fci = FciWithoutLe::waits, NameMatch names = NameMatch::whole);

    // One command APDU: the response, data and status word.
    [[nodiscard]] Bytes process(ByteView apdu);
    // The card was reset or deselected: the MF is current again and
    // nothing waits for GET RESPONSE.
    void reset();

    // For set-up and assertions: the file with this identifier in the MF
    // or any DF; and taking one away.
    [[nodiscard]] ElementaryFile* find(uint16_t id);
    void remove(uint16_t id);

private:
    struct Apdu;
    [[nodiscard]] Bytes select(const Apdu& a);
    [[nodiscard]] Bytes read_binary(const Apdu& a);
    [[nodiscard]] Bytes read_record(const Apdu& a);
    [[nodiscard]] Bytes get_response(const Apdu& a);
    [[nodiscard]] std::vector<ElementaryFile>& current_files();
    [[nodiscard]] ElementaryFile* by_sfi(uint8_t sfi);
    [[nodiscard]] Bytes answer_fci(Bytes fci, const Apdu& a);

    FciWithoutLe fci_without_le_;
    NameMatch names_;
    std::vector<ElementaryFile> master_;
    std::vector<DedicatedFile> dedicated_;
    int current_df_ = -1;  // -1: the MF
    ElementaryFile* current_ef_ = nullptr;
    Bytes waiting_;        // for GET RESPONSE
};

}  // namespace vrsim
