// The bank card's information table: tag values kept as hexadecimal text,
// the texts derived from them (plain and masked), and the decoder that
// fills the table from the card's records.
//
// The masks keep only what the masked forms show: the name without its
// last character, the ID number without its last four, the card number
// without its last four digits. None of these values is logged.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/errors.h"
#include "drivers/pboc_info.h"
#include "pboc.h"

static_assert(sizeof(pboc_info) == 13 * sizeof(char *),
              "the card record frees the information table as thirteen texts");

namespace {

// The table of a record, made on first use.
pboc_info *table(picc *record, bool create) {
    if (!record) return nullptr;
    if (!record->info && create) record->info = std::calloc(1, sizeof(pboc_info));
    return static_cast<pboc_info *>(record->info);
}

void replace(char *&field, char *text) {
    std::free(field);
    field = text;
}

char *copy_of(std::string_view text) {
    auto *out = static_cast<char *>(std::malloc(text.size() + 1));
    if (!out) return nullptr;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return out;
}

// A source field and the fields derived from it, which a new value of the
// source makes stale.
struct Key {
    const char *name;
    char *pboc_info::*field;
    char *pboc_info::*derived[4];
};

constexpr Key kKeys[] = {
    {"uuid", &pboc_info::uuid, {}},
    {"57", &pboc_info::msd2, {&pboc_info::pan, &pboc_info::panmask, &pboc_info::validdate}},
    {"5F20", &pboc_info::name, {&pboc_info::nameascii, &pboc_info::nameasciimask}},
    {"9F62", &pboc_info::identype, {}},
    {"9F61", &pboc_info::idennum, {&pboc_info::idennumascii, &pboc_info::idennumasciimask}},
    {"9F79", &pboc_info::qbocvalue, {}},
};

// ---- derived texts

// The characters a hexadecimal value spells; none for a value that starts
// with two spaces (an empty, padded field) or that is not hexadecimal.
char *ascii_of(const char *hex) {
    if (!hex || std::strncmp(hex, "2020", 4) == 0) return nullptr;
    const std::size_t n = std::strlen(hex) / 2;
    auto *out = static_cast<char *>(std::calloc(n + 1, 1));
    if (!out) return nullptr;
    if (pboc_str2data(hex, reinterpret_cast<unsigned char *>(out), static_cast<int>(n)) != 0) {
        std::free(out);
        return nullptr;
    }
    return out;
}

// A copy of text with its last `hidden` characters (all of a shorter
// text) replaced by asterisks.
char *masked(const char *text, std::size_t hidden) {
    if (!text) return nullptr;
    char *out = copy_of(text);
    if (!out) return nullptr;
    const std::size_t n = std::strlen(out);
    std::memset(out + (n > hidden ? n - hidden : 0), '*', n > hidden ? hidden : n);
    return out;
}

// The card number and the expiry follow from the separator D of the track
// 2 equivalent data.
const char *separator(const char *msd2) { return msd2 ? std::strpbrk(msd2, "Dd") : nullptr; }

char *pan_of(const char *msd2) {
    const char *d = separator(msd2);
    return d ? copy_of(std::string_view(msd2, static_cast<std::size_t>(d - msd2))) : nullptr;
}

// YYMM after the separator, as "MM/YY".
char *validdate_of(const char *msd2) {
    const char *d = separator(msd2);
    if (!d || std::strlen(d + 1) < 4) return nullptr;
    const char date[] = {d[3], d[4], '/', d[1], d[2]};
    return copy_of(std::string_view(date, sizeof date));
}

// A derived field, made from its source on first request.
template <typename Make>
const char *derived(picc *record, char *pboc_info::*field, Make make) {
    pboc_info *info = table(record, false);
    if (!info) return nullptr;
    if (!(info->*field)) info->*field = make(*info);
    return info->*field;
}

const char *field_of(picc *record, char *pboc_info::*field) {
    const pboc_info *info = table(record, false);
    return info ? info->*field : nullptr;
}

// ---- decoding

constexpr uint8_t kConstructed = 0x20;
constexpr std::string_view kSpaceByte = "20";

int digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte whose two hexadecimal characters start text; -1 when they are
// not there.
int byte_at(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) return -1;
    const int hi = digit(text[at]), lo = digit(text[at + 1]);
    return hi < 0 || lo < 0 ? -1 : hi << 4 | lo;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// The ID number without the space bytes that pad it: the text before the
// first byte 20.
std::string_view without_padding(std::string_view hex) {
    for (std::size_t at = 0; at + 2 <= hex.size(); at += 2)
        if (hex.substr(at, 2) == kSpaceByte) return hex.substr(0, at);
    return hex;
}

void store(picc *record, const std::string &key, std::string_view value) {
    if (key == "9F61") value = without_padding(value);
    const std::string text = upper(value);
    pboc_info_set(record, key.c_str(), value.empty() ? nullptr : text.c_str());
}

// Templates nest a level or two in the card's records; a text nested
// deeper is not a record and is not followed further.
constexpr int kDeepest = 16;

// Walks the elements of text, storing the values of known keys and
// descending into constructed elements. An element that does not fit the
// text ends the walk.
void decode(picc *record, std::string_view text, int depth) {
    std::size_t at = 0;
    while (at < text.size()) {
        const int first = byte_at(text, at);
        if (first < 0) return;
        const std::size_t tag_chars = (first & 0x1F) == 0x1F ? 4 : 2;
        if (byte_at(text, at + tag_chars - 2) < 0) return;
        std::size_t length_at = at + tag_chars;
        int length = byte_at(text, length_at);
        if (length == 0x81) {
            length_at += 2;
            length = byte_at(text, length_at);
        } else if (length >= 0x80) {
            return;  // a length form the card's records do not use
        }
        if (length < 0) return;
        const std::size_t value_at = length_at + 2;
        const std::size_t value_chars = 2 * static_cast<std::size_t>(length);
        if (value_at + value_chars > text.size()) return;
        const std::string_view value = text.substr(value_at, value_chars);
        store(record, upper(text.substr(at, tag_chars)), value);
        if ((first & kConstructed) && depth < kDeepest) decode(record, value, depth + 1);
        at = value_at + value_chars;
    }
}

}  // namespace

void vr::pboc::forget_information(picc *record) {
    pboc_info *info = table(record, false);
    if (!info) return;
    for (char *pboc_info::*field : {&pboc_info::uuid, &pboc_info::msd2, &pboc_info::name, &pboc_info::identype,
                                     &pboc_info::idennum, &pboc_info::qbocvalue, &pboc_info::nameascii,
                                     &pboc_info::nameasciimask, &pboc_info::idennumascii,
                                     &pboc_info::idennumasciimask, &pboc_info::pan, &pboc_info::panmask,
                                     &pboc_info::validdate})
        std::free(info->*field);
    std::free(info);
    record->info = nullptr;
}

VR_API int pboc_info_set(picc *record, const char *key, const char *value) {
    if (!key) return -1;
    for (const Key &k : kKeys) {
        if (strcasecmp(k.name, key) != 0) continue;
        pboc_info *info = table(record, true);
        if (!info) return record ? vr::fail(vr::kENoMem) : -1;
        char *text = nullptr;
        if (value && !(text = copy_of(value))) return vr::fail(vr::kENoMem);
        replace(info->*k.field, text);
        for (char *pboc_info::*d : k.derived)
            if (d) replace(info->*d, nullptr);
        return 0;
    }
    return -1;
}

VR_API int pboc_info_decode(picc *record, const char *text) {
    if (!record || !text || !*text) return -1;
    decode(record, text, 0);
    return 0;
}

VR_API const char *pboc_info_uuid(picc *record) { return field_of(record, &pboc_info::uuid); }
VR_API const char *pboc_info_msd2(picc *record) { return field_of(record, &pboc_info::msd2); }
VR_API const char *pboc_info_name(picc *record) { return field_of(record, &pboc_info::name); }
VR_API const char *pboc_info_identype(picc *record) { return field_of(record, &pboc_info::identype); }
VR_API const char *pboc_info_idennum(picc *record) { return field_of(record, &pboc_info::idennum); }
VR_API const char *pboc_info_qbocvalue(picc *record) { return field_of(record, &pboc_info::qbocvalue); }

VR_API const char *pboc_info_nameascii(picc *record) {
    return derived(record, &pboc_info::nameascii, [](const pboc_info &i) { return ascii_of(i.name); });
}
VR_API const char *pboc_info_nameasciimask(picc *record) {
    return derived(record, &pboc_info::nameasciimask,
                   [record](const pboc_info &) { return masked(pboc_info_nameascii(record), 1); });
}
VR_API const char *pboc_info_idennumascii(picc *record) {
    return derived(record, &pboc_info::idennumascii, [](const pboc_info &i) { return ascii_of(i.idennum); });
}
VR_API const char *pboc_info_idennumasciimask(picc *record) {
    return derived(record, &pboc_info::idennumasciimask,
                   [record](const pboc_info &) { return masked(pboc_info_idennumascii(record), 4); });
}
VR_API const char *pboc_info_pan(picc *record) {
    return derived(record, &pboc_info::pan, [](const pboc_info &i) { return pan_of(i.msd2); });
}
VR_API const char *pboc_info_panmask(picc *record) {
    return derived(record, &pboc_info::panmask,
                   [record](const pboc_info &) { return masked(pboc_info_pan(record), 4); });
}
VR_API const char *pboc_info_validdate(picc *record) {
    return derived(record, &pboc_info::validdate, [](const pboc_info &i) { return validdate_of(i.msd2); });
}

VR_API const char *pboc_get_msd2(picc *record) { return pboc_info_msd2(record); }
VR_API const char *pboc_get_pan(picc *record) { return pboc_info_pan(record); }
VR_API const char *pboc_get_panmask(picc *record) { return pboc_info_panmask(record); }
VR_API const char *pboc_get_validdate(picc *record) { return pboc_info_validdate(record); }
VR_API const char *pboc_get_name(picc *record) { return pboc_info_name(record); }
VR_API const char *pboc_get_nameascii(picc *record) { return pboc_info_nameascii(record); }
VR_API const char *pboc_get_nameasciimask(picc *record) { return pboc_info_nameasciimask(record); }
VR_API const char *pboc_get_identype(picc *record) { return pboc_info_identype(record); }
VR_API const char *pboc_get_idennum(picc *record) { return pboc_info_idennum(record); }
VR_API const char *pboc_get_idennumascii(picc *record) { return pboc_info_idennumascii(record); }
VR_API const char *pboc_get_idennumasciimask(picc *record) { return pboc_info_idennumasciimask(record); }
