#include "card_file.h"

#include <algorithm>

#include "dumpfile.h"

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

}  // namespace

LoadedCard load_card_file(const std::string& path) {
    vrdump::CardImage image;
    if (const auto status = vrdump::load_file(path, image); !status) return {nullptr, status.error, 0};
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

std::string save_card_file(const Card& card, const std::string& path) {
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
