// Reaching a card: creating and selecting the card record, identifying a
// type A card by ATQA and SAK, searching for the card again, re-selecting
// it before an operation, and closing it.
#include <strings.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "card/registry.h"
#include "core/errors.h"
#include "core/lock.h"
#include "link/reader_command.h"
#include "link/link.h"
#include "log.h"
#include "pcd.h"
#include "picc.h"
#include "sys.h"
#include "tessil.h"
#include "virt_com.h"

// SAK rows: value, mask, description (only the MIFARE Plus and DESFire
// rows carry one).
const picc_sak_row const_cs[13] = {
    {0x00, 0xFF, ""},
    {0x09, 0xFF, ""},
    {0x08, 0xFF, ""},
    {0x18, 0xFF, ""},
    {0x08, 0xFF, " 2K, Security level 1"},
    {0x18, 0xFF, " 4K, Security level 1"},
    {0x10, 0xFF, " 2K, Security level 2"},
    {0x11, 0xFF, " 4K, Security level 2"},
    {0x20, 0xFF, " 2K, Security level 3"},
    {0x20, 0xFF, " 4K, Security level 3"},
    {0x20, 0xFF, " 4K"},
    {0x20, 0xFF, " EV1 2K/4K/8K"},
    {0x00, 0x00, ""},
};

// ATQA rows in the order they are tried; each lists the SAK rows that
// confirm it.
const picc_atqa_row const_ca[14] = {
    {0x0044, 0xFFFF, "mifare_ulc", {0, -1}},
    {0x0044, 0xFFFF, "mifare_ul", {0, -1}},
    {0x0004, 0xFF0F, "mifare_s20", {1, -1}},
    {0x0004, 0xFF0F, "mifare_s50", {2, -1}},
    {0x0002, 0xFF0F, "mifare_s70", {3, -1}},
    {0x0004, 0xFFFF, "MIFARE Plus (4 Byte UID or 4 Byte RID)", {4, 5, 6, 7, 8, 9, -1}},
    {0x0002, 0xFFFF, "MIFARE Plus (4 Byte UID or 4 Byte RID)", {4, 5, 6, 7, 8, 9, -1}},
    {0x0044, 0xFFFF, "MIFARE Plus (7 Byte UID)", {4, 5, 6, 7, 8, 9, -1}},
    {0x0042, 0xFFFF, "MIFARE Plus (7 Byte UID)", {4, 5, 6, 7, 8, 9, -1}},
    {0x0344, 0xFFFF, "MIFARE DESFire", {10, 11, -1}},
    {0x0044, 0xFFFF, "P3SR008", {-1}},
    {0x0004, 0xF0FF, "mifare_s50", {12, -1}},
    {0x0002, 0xF0FF, "mifare_s70", {12, -1}},
    {0x0048, 0xF0FF, "SmartMX with 7 Byte UID", {12, -1}},
};

namespace {

constexpr uint16_t kCmdSearchTypeA = 0x0213;
constexpr uint8_t kWakeUp = 0x52;
constexpr unsigned kAntennaResetUs = 300000;
constexpr const char *kGenericTypeA = "iso14443A_card";

bool has_prefix(const char *name, const char *prefix) {
    return strncasecmp(name, prefix, std::strlen(prefix)) == 0;
}

// The type name a card's ATQA and SAK identify, or null.
const char *identify_type_a(uint16_t atqa, uint8_t sak) {
    for (const picc_atqa_row &row : const_ca) {
        if ((atqa & row.mask) != row.atqa) continue;
        for (signed char index : row.sak_rows) {
            if (index < 0) break;
            const picc_sak_row &s = const_cs[index];
            if ((sak & s.mask) == s.sak) return row.name;
        }
    }
    return nullptr;
}

// Opens a record of type "iso14443A_card": the reader names the card in
// the field and the matching driver takes over the record.
picc *open_identified_type_a(picc *record) {
    picc probe{};
    const bool found = pcd_search_type_A(&probe, 0) == 0;
    if (found) log_print(2, "picc_tmp->picc_type:%s", probe.picc_type);
    if (!found || picc_init(record, probe.picc_type) != 0) {
        std::free(probe.picc_type);
        picc_free(record);
        return nullptr;
    }
    std::memcpy(record->atqa, probe.atqa, sizeof record->atqa);
    std::memcpy(record->uid, probe.uid, sizeof record->uid);
    record->uid_len = probe.uid_len;
    record->sak = probe.sak;
    record->card_status = PICC_STATUS_ACTIVE;
    std::free(probe.picc_type);
    piccs_list_add(&tessil.piccs, record);
    return record;
}

// Asks the reader for the card of a record whose wake-up and halt send
// nothing, with its anticollision on a scratch record so the caller's
// record stays as it is: 0 when a card answers.
int probe_with_activation(const picc &record) {
    picc scratch{};
    return record.anticoll && record.anticoll(&scratch, 0) == 0 ? 0 : -1;
}

// The driver's wake-up, or the activation where that tells nothing: 0 when
// a card answered.
int wake_card(picc &record) {
    if (vr::wakes_without_traffic(record)) return probe_with_activation(record);
    return record.wupa();
}

// Whether the active card is still there: the driver halts it, or, for a
// record whose halt sends nothing, the activation answers; -1 when not.
int halt_to_find(picc &record, picc *active) {
    if (vr::wakes_without_traffic(record)) return probe_with_activation(record);
    return record.halt(active);
}

// Finds the card in the field with the driver's own request and selection;
// false (errno set) when the mode's rules say it is not there.
bool find_and_select(picc *record, uint8_t mode) {
    if (!record->query || record->query(nullptr, record) != 0) {
        if (mode == PICC_SEARCH_IDLE_ONLY) {
            const bool halted_card = record->wupa && wake_card(*record) == 0;
            errno = halted_card ? vr::kESearchMode : vr::kENoCard;
            return false;
        }
        if (mode == PICC_SEARCH_WAKE) {
            if (!record->wupa || record->wupa() != 0) {
                errno = vr::kENoCard;
                return false;
            }
            if (!record->anticoll || record->anticoll(record, 0) != 0) return false;
        }
    }
    if (!record->sel) {
        errno = vr::kENoCmd;
        return false;
    }
    return record->sel(record, 0) == 0;
}

bool reset_antenna() {
    if (pcd_antenna_close() != 0) return false;
    sys_delay_nus(kAntennaResetUs);
    return pcd_antenna_open() == 0;
}

}  // namespace

VR_API int pcd_search_type_A(picc *record, int) {
    if (!record) return vr::fail(vr::kENotSelected);
    if (pcd_set_picc_protocol('A') != 0) return -1;
    vr::ReaderCommand c(kCmdSearchTypeA, {kWakeUp});
    int rc = c.send();
    if (rc != 0) return rc;
    // Count of following bytes, ATQA (low byte first), UID of 4, 7 or 10
    // bytes, SAK.
    const auto reply = c.reply();
    const std::size_t n = reply.size();
    if (!((n == 8 || n == 11 || n == 14) && reply[0] == n - 1)) return vr::fail(vr::kEMsgWrong);
    record->atqa[0] = reply[1];
    record->atqa[1] = reply[2];
    record->uid_len = static_cast<int8_t>(n - 4);
    std::memcpy(record->uid, reply.data() + 3, n - 4);
    record->sak = reply[n - 1];
    record->card_status = PICC_STATUS_ACTIVE;
    log_print(2, "atqa, sak: %x, %x", reply[1] | reply[2] << 8, record->sak);

    const char *name = identify_type_a(static_cast<uint16_t>(reply[1] | reply[2] << 8), record->sak);
    if (!name) {
        log_print(2, "not ISO14443-A card or unknow card type");
        name = kGenericTypeA;
    }
    char *copy = strndup(name, 128);
    if (!copy) return vr::fail(vr::kENoMem);
    std::free(record->picc_type);
    record->picc_type = copy;
    if (name == kGenericTypeA) log_print(2, "card->picc_type:%s", record->picc_type);
    return 0;
}

VR_API picc *picc_open(const char *type, const char *com, int dev, int mode_arg, ...) {
    const auto mode = static_cast<uint8_t>(mode_arg);
    if (!vr::link::family_registered()) picc_regapi(VR_FAMILY_FIRST);
    if (!type || !com) {
        errno = vr::kEArg;
        return nullptr;
    }
    log_print(2, "type %s\n", type);
    vr::MutexHold hold(&tessil.api_lock);

    va_list extra;
    va_start(extra, mode_arg);
    const int connected = picc_connect(com, dev, mode, &extra);
    va_end(extra);
    if (connected != 0) return nullptr;

    auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    if (!record) {
        errno = vr::kENoMem;
        return nullptr;
    }
    if (has_prefix(type, kGenericTypeA)) return open_identified_type_a(record);

    if (picc_init(record, type) != 0 || !reset_antenna() || !find_and_select(record, mode)) {
        const int code = errno;
        picc_free(record);
        errno = code;
        return nullptr;
    }
    // The list is changed under the library lock like every other user of
    // it, so concurrent opens cannot corrupt it.
    picc *known = piccs_list_find(&tessil.piccs, record);
    if (!known) {
        piccs_list_add(&tessil.piccs, record);
        return record;
    }
    known->card_status = PICC_STATUS_ACTIVE;
    picc_free(record);
    return known;
}

VR_API int picc_search(picc *record) {
    if (!record) return vr::kENotSelected;
    vr::MutexHold hold(&tessil.api_lock);
    if (picc *active = piccs_list_active(&tessil.piccs)) {
        if (!record->halt) return vr::kENoCmd;
        if (halt_to_find(*record, active) == -1) {
            piccs_list_delall(&tessil.piccs);
            return -1;
        }
        return 0;
    }
    if (!record->wupa) return vr::kENoCmd;
    if (wake_card(*record) == 0 || wake_card(*record) == 0) return 0;
    piccs_list_delall(&tessil.piccs);
    return -1;
}

VR_API int picc_sel(picc *record) {
    if (!record) return vr::kESelect;
    // A failing operation on another thread marks the card under the
    // library lock, so its status is read under the lock as well.
    vr::MutexHold hold(&tessil.api_lock);
    if (record->card_status == PICC_STATUS_ACTIVE) return 0;
    if (!piccs_list_find(&tessil.piccs, record) || !record->wupa || !record->sel) return vr::kESelect;
    if (record->wupa() == -1 || record->sel(record, 0) == -1) {
        record->card_status = PICC_STATUS_FAILED;
        return vr::kESelect;
    }
    return 0;
}

VR_API int picc_close(picc *record) {
    if (!record) return vr::kENotSelected;
    vr::MutexHold hold(&tessil.api_lock);
    if (!record->halt) return vr::kENoCmd;
    if (record->halt(record) == -1) {
        record->card_status = PICC_STATUS_FAILED;
        return errno;
    }
    piccs_list_del(&tessil.piccs, record);
    return 0;
}
