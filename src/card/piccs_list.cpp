// Card records' release and the list of open cards.
#include <cstdlib>
#include <cstring>

#include "card/open_cards.h"
#include "core/lock.h"
#include "picc.h"
#include "tessil.h"

namespace {

constexpr int kBankInfoItems = 13;

bool same_text(const char *a, const char *b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}

// Same card: equal UID over the looked-for record's length, vendor and type.
bool same_card(const picc *candidate, const picc *wanted) {
    const int n = wanted->uid_len > 0 ? wanted->uid_len : 0;
    return std::memcmp(candidate->uid, wanted->uid, static_cast<std::size_t>(n)) == 0 &&
           same_text(candidate->vendor, wanted->vendor) &&
           same_text(candidate->picc_type, wanted->picc_type);
}

}  // namespace

VR_API void picc_free(picc *record) {
    if (!record) return;
    std::free(record->vendor);
    std::free(record->picc_type);
    std::free(record->protocol_name);
    if (record->info) {
        auto **items = static_cast<char **>(record->info);
        for (int i = 0; i < kBankInfoItems; ++i) std::free(items[i]);
        std::free(record->info);
    }
    std::free(record);
}

VR_API int piccs_list_init(piccs_list *list) {
    if (!list) return -1;
    list->count = 0;
    list->head = nullptr;
    return 0;
}

VR_API picc *piccs_list_head(piccs_list *list) { return list ? list->head : nullptr; }

VR_API int piccs_list_len(piccs_list *list) { return list ? static_cast<int>(list->count) : 0; }

VR_API int piccs_list_empty(piccs_list *list) { return list && list->count > 0 ? -1 : 0; }

VR_API picc *piccs_list_tail(piccs_list *list) {
    if (!list || !list->head) return nullptr;
    picc *p = list->head;
    for (uint32_t i = 1; i < list->count && p->next; ++i) p = p->next;
    return p;
}

VR_API int piccs_list_add(piccs_list *list, picc *record) {
    if (!list || !record) return -1;
    record->next = nullptr;
    picc *tail = piccs_list_tail(list);
    if (tail)
        tail->next = record;
    else
        list->head = record;
    ++list->count;
    return 0;
}

VR_API picc *piccs_list_find(piccs_list *list, const picc *record) {
    if (!list || !record) return nullptr;
    picc *p = list->head;
    for (uint32_t i = 0; i < list->count && p; ++i, p = p->next)
        if (same_card(p, record)) return p;
    return nullptr;
}

VR_API picc *piccs_list_prev(piccs_list *list, const picc *record) {
    if (!list || !record) return nullptr;
    picc *prev = nullptr;
    picc *p = list->head;
    for (uint32_t i = 0; i < list->count && p; ++i, prev = p, p = p->next)
        if (same_card(p, record)) return prev;
    return nullptr;
}

VR_API int piccs_list_del(piccs_list *list, picc *record) {
    if (!list || list->count == 0) return -1;
    picc *found = piccs_list_find(list, record);
    if (!found) return -1;
    picc *prev = nullptr;
    for (picc *p = list->head; p && p != found; p = p->next) prev = p;
    if (prev)
        prev->next = found->next;
    else
        list->head = found->next;
    picc_free(found);
    if (--list->count == 0) list->head = nullptr;
    return 0;
}

VR_API int piccs_list_delall(piccs_list *list) {
    if (!list) return -1;
    picc *p = list->head;
    for (uint32_t i = 0; i < list->count && p; ++i) {
        picc *next = p->next;
        picc_free(p);
        p = next;
    }
    list->head = nullptr;
    list->count = 0;
    return 0;
}

VR_API picc *piccs_list_active(piccs_list *list) {
    if (!list) return nullptr;
    picc *p = list->head;
    for (uint32_t i = 0; i < list->count && p; ++i, p = p->next)
        if (p->card_status == PICC_STATUS_ACTIVE) return p;
    return nullptr;
}

picc *vr::card::find_open_card(const picc &key) {
    vr::MutexHold hold(&tessil.api_lock);
    return piccs_list_find(&tessil.piccs, &key);
}
