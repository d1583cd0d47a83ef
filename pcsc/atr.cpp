#include "atr.h"

#include <algorithm>
#include <array>

namespace vrpcsc {
namespace {

constexpr uint8_t kSakIsoDep = 0x20;
constexpr uint16_t kAtqaUltralight = 0x0044;
constexpr std::size_t kMaxHistorical = 15;
// An ATQB after its first byte: PUPI, application data, protocol info.
constexpr std::size_t kPupiSize = 4;
constexpr std::size_t kAtqbFields = kPupiSize + 4 + 3;
// The ATTRIB answer: MBLI in the high nibble, the CID in the low one.
constexpr uint8_t kMbliMask = 0xF0;

struct KindRow {
    CardKind kind;
    uint8_t sak;
    uint16_t name;  // the card-name bytes of the storage ATR
    std::size_t unit;
    unsigned units;
};

constexpr std::array kKinds{
    KindRow{CardKind::classic_mini, 0x09, 0x0026, 16, 20},
    KindRow{CardKind::classic_1k, 0x08, 0x0001, 16, 64},
    KindRow{CardKind::classic_4k, 0x18, 0x0002, 16, 256},
    KindRow{CardKind::ultralight, 0x00, 0x0003, 4, 16},
    KindRow{CardKind::ultralight_c, 0x00, 0x003A, 4, 48},
};

const KindRow *row_of(CardKind kind) {
    const auto it = std::find_if(kKinds.begin(), kKinds.end(), [kind](const KindRow &r) { return r.kind == kind; });
    return it == kKinds.end() ? nullptr : &*it;
}

// The check byte: the exclusive or of every byte after the initial one.
void append_check(Bytes &atr) {
    uint8_t x = 0;
    for (std::size_t i = 1; i < atr.size(); ++i) x ^= atr[i];
    atr.push_back(x);
}

}  // namespace

CardKind kind_of(uint16_t atqa, uint8_t sak) {
    if (sak & kSakIsoDep) return CardKind::iso_dep;
    if (sak == 0x00) return atqa == kAtqaUltralight ? CardKind::ultralight : CardKind::unknown;
    for (const KindRow &r : kKinds)
        if (r.sak == sak) return r.kind;
    return CardKind::unknown;
}

bool is_storage(CardKind kind) { return row_of(kind) != nullptr; }
bool takes_apdus(CardKind kind) { return kind == CardKind::iso_dep || kind == CardKind::type_b; }
bool is_classic(CardKind kind) {
    return kind == CardKind::classic_mini || kind == CardKind::classic_1k || kind == CardKind::classic_4k;
}
std::size_t unit_size(CardKind kind) { return row_of(kind) ? row_of(kind)->unit : 0; }
unsigned unit_count(CardKind kind) { return row_of(kind) ? row_of(kind)->units : 0; }

Bytes ats_historical_bytes(const uint8_t *ats, std::size_t n) {
    if (!ats || n < 2) return {};
    const std::size_t length = std::min<std::size_t>(ats[0], n);
    if (length < 2) return {};
    const uint8_t format = ats[1];
    // TA, TB and TC follow the format byte when its bits 4, 5 and 6 say so.
    std::size_t at = 2;
    for (uint8_t bit : {0x10, 0x20, 0x40})
        if (format & bit) ++at;
    if (at > length) return {};
    const std::size_t count = std::min(length - at, kMaxHistorical);
    return Bytes(ats + at, ats + at + count);
}

Bytes storage_atr(CardKind kind) {
    const KindRow *r = row_of(kind);
    if (!r) return {};
    Bytes atr{0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C,        // T=1, 15 historical bytes: tag 4F, 12 bytes
              0xA0, 0x00, 0x00, 0x03, 0x06,                   // registered application identifier
              0x03,                                           // ISO 14443 A, part 3
              static_cast<uint8_t>(r->name >> 8), static_cast<uint8_t>(r->name & 0xFF),
              0x00, 0x00, 0x00, 0x00};                        // reserved
    append_check(atr);
    return atr;
}

std::optional<TypeBAnswer> type_b_answer(const uint8_t *atqb, std::size_t n) {
    if (!atqb || n < kAtqbFields) return std::nullopt;
    TypeBAnswer out;
    out.pupi.assign(atqb, atqb + kPupiSize);
    std::copy_n(atqb + kPupiSize, out.application_data.size(), out.application_data.begin());
    std::copy_n(atqb + kPupiSize + out.application_data.size(), out.protocol_info.size(), out.protocol_info.begin());
    return out;
}

Bytes type_b_atr(const TypeBAnswer &answer, uint8_t attrib_answer) {
    Bytes atr{0x3B, 0x88, 0x80, 0x01};  // T=1, 8 historical bytes
    atr.insert(atr.end(), answer.application_data.begin(), answer.application_data.end());
    atr.insert(atr.end(), answer.protocol_info.begin(), answer.protocol_info.end());
    atr.push_back(attrib_answer & kMbliMask);
    append_check(atr);
    return atr;
}

Bytes iso_dep_atr(const Bytes &historical) {
    const std::size_t count = std::min(historical.size(), kMaxHistorical);
    Bytes atr(4 + count + 1);
    atr.resize(4 + count);
    atr[0] = 0x3B;
    atr[1] = static_cast<uint8_t>(0x80 | count);  // TD1 follows, then the historical bytes
    atr[2] = 0x80;                                // TD2 follows
    atr[3] = 0x01;                                // T=1
    std::copy_n(historical.begin(), count, atr.begin() + 4);
    append_check(atr);
    return atr;
}

}  // namespace vrpcsc
