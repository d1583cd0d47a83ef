#include "drivers/card_texts.h"

#include <cstdlib>
#include <cstring>

#include "core/errors.h"

namespace vr {

int set_card_texts(picc *record, const char *vendor, const char *type, const char *protocol_name,
                   char protocol_letter) {
    record->vendor = strdup(vendor);
    record->picc_type = strdup(type);
    record->protocol_name = strdup(protocol_name);
    record->picc_proto = static_cast<int8_t>(protocol_letter);
    if (!record->vendor || !record->picc_type || !record->protocol_name) {
        std::free(record->vendor);
        std::free(record->picc_type);
        std::free(record->protocol_name);
        record->vendor = record->picc_type = record->protocol_name = nullptr;
        return fail(kENoMem);
    }
    return 0;
}

int init_card_record(picc *record, const picc &ops, const char *vendor, const char *type,
                     const char *protocol_name, char protocol_letter) {
    if (!record) return fail(kENotSelected);
    *record = ops;
    return set_card_texts(record, vendor, type, protocol_name, protocol_letter);
}

}  // namespace vr
