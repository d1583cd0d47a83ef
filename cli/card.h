// The card in the reader's field, as the card commands reach it through the
// library's public card functions.
#pragma once

#include <optional>
#include <string>

#include "dumpfile.h"
#include "mifare_keys.h"
#include "picc.h"

namespace cli {

struct CardSession {
    picc *record = nullptr;  // owned by the library's open-card list
    std::string open_type;   // the type name given to picc_open
    vrdump::Kind kind = vrdump::Kind::classic_1k;
    Keyring keys;            // what unlocks its sectors
};

// Opens the MIFARE Classic card in the field: the library identifies it by
// ATQA and SAK (a Classic Mini by its SAK 09, which the library opens as a
// 1K card), or, with `forced`, it is opened as that kind. Reports why it
// failed and returns false.
bool open_mifare_card(CardSession &session, std::optional<vrdump::Kind> forced);

// A failed authentication or a refused block leaves a MIFARE Classic card
// outside the authenticated state (halted or idle); it answers nothing
// more until it is woken and selected again. False when it is gone.
bool reopen_card(CardSession &session);

// The error code of a library result: -1 means "look in errno".
int error_code(int result);

// Opens a card record of the type (a library type name), waking a halted
// card when no idle one answers; null with errno set.
picc *open_card(const char *type);
// As open_card, for one kind among several that may be there: the
// library's error line for an absent kind is held back (shown with -v).
picc *probe_card(const char *type);
// Switches the field off and on: the card comes back idle.
void reset_field();
// Whether the Ultralight-kind card of the record is an Ultralight C.
bool ultralight_c(picc *record);

}  // namespace cli
