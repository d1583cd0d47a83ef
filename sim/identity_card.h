// A virtual PRC resident identity card: a type B card (PUPI 00 00 00 00)
// whose 8-byte identifier any reader may read (GET UID, 00 36 00 00 08),
// and whose records only the reader's SAM reads (sam.h):
//   - the text record, 256 bytes of fixed-width UCS-2 fields (id_text.h);
//   - the photo, 1024 bytes;
//   - the fingerprint record, 1024 bytes, or none;
//   - the extra address, none unless set.
// A new card carries made-up contents: an invented name and address, a
// citizen number built from the identifier with its check digit, and photo
// and fingerprint bytes generated from the identifier. Nothing is taken
// from a real card.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "id_text.h"
#include "type_b_card.h"

namespace vrsim {

class IdentityCard : public TypeBCard {
public:
    static constexpr size_t kIdentifierSize = 8;
    static constexpr size_t kPhotoSize = 1024;
    static constexpr size_t kFingerprintSize = 1024;

    // An 8-byte identifier; a random one when empty.
    static std::shared_ptr<IdentityCard> make(Bytes identifier, std::string* error);
    explicit IdentityCard(Bytes identifier);

    [[nodiscard]] const Bytes& identifier() const { return uid(); }

    struct Records {
        Bytes text;         // 256 bytes
        Bytes photo;        // 1024 bytes
        Bytes fingerprint;  // 1024 bytes, or empty
        Bytes extra_address;
    };
    [[nodiscard]] Records records() const;
    // Replaces the text fields; false (nothing changed) when they do not
    // fit the record.
    bool set_text(const vrdump::IdText& text);
    void set_fingerprint(Bytes fingerprint);
    void set_extra_address(Bytes address);
    [[nodiscard]] vrdump::IdText text() const;

    // The SAM's reading of an active card: its records, or nothing when the
    // card is not active.
    [[nodiscard]] std::optional<Records> read_by_sam() const;

private:
    Bytes process_apdu_locked(ByteView command) override;

    Records records_;
};

}  // namespace vrsim
