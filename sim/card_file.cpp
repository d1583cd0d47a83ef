#include "card_file.h"

#include <algorithm>

#include "dumpfile.h"
#include "identity_card.h"
#include "json_text.h"
#include "ultralight_card.h"
#include "ultralight_dump.h"

namespace vrsim {
namespace {

std::shared_ptr<Card> card_of_kind(vrdump::Kind kind) {
    switch (kind) {
    case vrdump::Kind::classic_mini: return Card::classic_mini();
    case vrdump::Kind::classic_1k: return Card::classic_1k();
    case vrdump::Kind::classic_4k: return Card::classic_4k();
    }
    return Card::classic_1k();
}

std::optional<vrdump::Kind> image_kind(CardKind kind) {
    switch (kind) {
    case CardKind::classic_mini: return vrdump::Kind::classic_mini;
    case CardKind::classic_1k: return vrdump::Kind::classic_1k;
    case CardKind::classic_4k: return vrdump::Kind::classic_4k;
    default: return std::nullopt;
    }
}

std::shared_ptr<Card> new_card(const vrdump::CardImage& image) {
    auto card = card_of_kind(image.kind);
    if (image.uid.empty()) return card;
    // A file without ATQA or SAK (zeros: no MIFARE Classic card sends
    // those) keeps the kind's own.
    const auto atqa = static_cast<uint16_t>(image.atqa[0] | image.atqa[1] << 8);
    return std::make_shared<Card>(card->kind(), card->name(), atqa != 0 ? atqa : card->atqa(),
                                  image.sak != 0 ? image.sak : card->sak(), image.uid);
}

constexpr size_t kMaxCardFile = 1 << 20;

// An Ultralight from its dump: the file's UID (a random one when it names
// none) and every readable page but the UID's own.
LoadedCard ultralight_card(const vrdump::UlImage& image) {
    std::string error;
    auto card = UltralightCard::make(image.kind == vrdump::UlKind::ultralight_c, image.uid, 0x0044, 0x00, &error);
    if (!card) return {nullptr, error, 0};
    LoadedCard out{card, {}, 0};
    for (int p = 2; p < card->page_count(); ++p) {
        const auto i = static_cast<size_t>(p);
        if (!image.readable[i]) {
            ++out.unknown_blocks;
            continue;
        }
        card->set_page(p, image.pages[i]);
    }
    return out;
}

// An identity card described in JSON: {"FileType": "prc-id", "Identifier":
// "16 hex digits", "Text": {"name": ..., "sex": ..., "nation": ...,
// "birth date": ..., "address": ..., "number": ..., "authority": ...,
// "valid from": ..., "valid to": ...}, "Fingerprint": false}. Members left
// out keep the made-up card's own.
std::optional<LoadedCard> identity_card(std::string_view text) {
    vrdump::Json root;
    if (!vrdump::parse_json(text, root) || root.type != vrdump::Json::Type::object) return std::nullopt;
    const vrdump::Json* type = root.member("FileType");
    if (!type || type->type != vrdump::Json::Type::string || type->text != "prc-id") return std::nullopt;
    Bytes identifier;
    if (const vrdump::Json* id = root.member("Identifier")) {
        const auto bytes = id->type == vrdump::Json::Type::string ? vrdump::unhex(id->text) : std::nullopt;
        if (!bytes) return LoadedCard{nullptr, "\"Identifier\" must be hexadecimal", 0};
        identifier = *bytes;
    }
    std::string error;
    auto card = IdentityCard::make(identifier, &error);
    if (!card) return LoadedCard{nullptr, error, 0};
    if (const vrdump::Json* fields = root.member("Text")) {
        if (fields->type != vrdump::Json::Type::object) return LoadedCard{nullptr, "\"Text\" must be an object", 0};
        vrdump::IdText t = card->text();
        for (const vrdump::IdField& f : vrdump::kIdFields) {
            const vrdump::Json* v = fields->member(f.label);
            if (!v) continue;
            if (v->type != vrdump::Json::Type::string) return LoadedCard{nullptr, std::string("\"") + f.label + "\" must be a string", 0};
            t.*f.member = v->text;
        }
        if (!card->set_text(t)) return LoadedCard{nullptr, "a text field does not fit its width", 0};
    }
    if (const vrdump::Json* finger = root.member("Fingerprint"); finger && finger->text == "false")
        card->set_fingerprint({});
    return LoadedCard{card, {}, 0};
}

}  // namespace

LoadedCard load_card_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (const auto status = vrdump::read_file(path, kMaxCardFile, "a card file", bytes); !status)
        return {nullptr, status.error, 0};
    if (const auto format = vrdump::ul_format_for_path(path); format && vrdump::is_ultralight_dump(*format, bytes)) {
        vrdump::UlImage image;
        if (const auto status = vrdump::decode_ultralight(*format, bytes, image); !status)
            return {nullptr, path + ": " + status.error, 0};
        return ultralight_card(image);
    }
    if (vrdump::format_for_path(path) == vrdump::Format::json) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (auto loaded = identity_card(text)) {
            if (!loaded->card) loaded->error = path + ": " + loaded->error;
            return std::move(*loaded);
        }
    }
    const auto format = vrdump::format_for_path(path);
    if (!format) return {nullptr, path + ": unknown card file format (use .mfd, .bin, .eml or .json)", 0};
    vrdump::CardImage image;
    if (const auto status = vrdump::decode(*format, bytes, image); !status)
        return {nullptr, path + ": " + status.error, 0};
    if (image.uid.empty()) vrdump::identity_from_block0(image);
    LoadedCard out{new_card(image), {}, 0};
    Card& card = *out.card;
    if (static_cast<int>(image.blocks.size()) != card.block_count() ||
        image.readable.size() != image.blocks.size())
        return {nullptr, path + ": the image does not hold the card's blocks", 0};

    for (int n = 0; n < card.block_count(); ++n) {
        const auto i = static_cast<size_t>(n);
        if (image.readable[i]) {
            Block b{};
            std::ranges::copy(image.blocks[i], b.begin());
            card.set_block(n, b);
        } else {
            ++out.unknown_blocks;
        }
    }
    // Keys the dump knows go into the trailers (a readable trailer carries
    // them already unless the reader hid them).
    for (int s = 0; s < card.sector_count() && s < static_cast<int>(image.keys.size()); ++s) {
        const auto& known = image.keys[static_cast<size_t>(s)];
        Key a = card.key_a(s), b = card.key_b(s);
        if (known.a) std::ranges::copy(*known.a, a.begin());
        if (known.b) std::ranges::copy(*known.b, b.begin());
        card.set_keys(s, a, b);
    }
    return out;
}

namespace {

// An Ultralight is saved whole: the model reads even the C's key pages,
// which card load then puts back.
std::string save_ultralight_card(const UltralightCard& card, const std::string& path) {
    vrdump::UlImage image = vrdump::UlImage::empty(card.model_c() ? vrdump::UlKind::ultralight_c
                                                                  : vrdump::UlKind::ultralight);
    image.uid = card.uid();
    for (int p = 0; p < card.page_count(); ++p) {
        const auto i = static_cast<size_t>(p);
        std::ranges::copy(card.page(p), image.pages[i].begin());
        image.readable[i] = 1;
    }
    const vrdump::Status saved = vrdump::save_ultralight(path, image, {}, true);
    return saved ? std::string() : saved.error;
}

}  // namespace

std::string save_card_file(const Card& card, const std::string& path) {
    if (const auto* ul = dynamic_cast<const UltralightCard*>(&card)) return save_ultralight_card(*ul, path);
    const auto kind = image_kind(card.kind());
    if (!kind) return card.name() + " has no memory in this model";
    vrdump::CardImage image = vrdump::CardImage::empty(*kind);
    image.uid = card.uid();
    image.atqa = {static_cast<uint8_t>(card.atqa() & 0xFF), static_cast<uint8_t>(card.atqa() >> 8)};
    image.sak = card.sak();
    for (int n = 0; n < card.block_count(); ++n) {
        const auto i = static_cast<size_t>(n);
        std::ranges::copy(card.block(n), image.blocks[i].begin());
        image.readable[i] = 1;
    }
    // The model knows every key: the file carries them, as the trailers do.
    vrdump::keys_from_trailers(image);
    const vrdump::Status saved = vrdump::save_file(path, image, {}, true);
    return saved ? std::string() : saved.error;
}

}  // namespace vrsim
