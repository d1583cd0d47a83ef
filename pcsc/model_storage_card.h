// A storage card in memory behind the StorageCard interface, for the tests
// and the fuzz target: MIFARE Classic keys per sector (key A only, the
// transport key unless set), an Ultralight's pages, and a switch that
// makes the link fail.
#pragma once

#include <algorithm>
#include <map>
#include <vector>

#include "reader_apdu.h"

namespace vrpcsc {

class ModelStorageCard : public StorageCard {
public:
    explicit ModelStorageCard(CardKind kind)
        : kind_(kind), memory_(unit_count(kind) * unit_size(kind)) {
        for (std::size_t i = 0; i < memory_.size(); ++i) memory_[i] = static_cast<uint8_t>(i);
    }

    Outcome read_unit(unsigned unit, uint8_t *out) override {
        if (link_down) return Outcome::link_failed;
        if (!allowed(unit)) return Outcome::refused;
        std::copy_n(memory_.begin() + static_cast<std::ptrdiff_t>(unit * unit_size(kind_)), unit_size(kind_), out);
        return Outcome::ok;
    }
    Outcome write_unit(unsigned unit, const uint8_t *in) override {
        if (link_down) return Outcome::link_failed;
        if (!allowed(unit)) return Outcome::refused;
        std::copy_n(in, unit_size(kind_), memory_.begin() + static_cast<std::ptrdiff_t>(unit * unit_size(kind_)));
        return Outcome::ok;
    }
    Outcome authenticate(unsigned block, uint8_t key_type, const uint8_t *key) override {
        ++authentications;
        if (link_down) return Outcome::link_failed;
        const Key k = key_of(block);
        if (key_type != 0x60 || !std::equal(k.begin(), k.end(), key)) {
            authenticated_block_ = -1;
            return Outcome::refused;
        }
        authenticated_block_ = static_cast<int>(block);
        return Outcome::ok;
    }

    void set_key(unsigned sector, Key key) { keys_[sector] = key; }
    Bytes bytes(std::size_t at, std::size_t n) const {
        return Bytes(memory_.begin() + static_cast<std::ptrdiff_t>(at), memory_.begin() + static_cast<std::ptrdiff_t>(at + n));
    }

    bool link_down = false;
    unsigned authentications = 0;

private:
    static unsigned sector(unsigned block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }
    Key key_of(unsigned block) const {
        const auto it = keys_.find(sector(block));
        return it == keys_.end() ? Key{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} : it->second;
    }
    // The card itself checks its authentication: a Classic block of
    // another sector than the authenticated one is refused.
    bool allowed(unsigned unit) const {
        if (!is_classic(kind_)) return true;
        return authenticated_block_ >= 0 && sector(static_cast<unsigned>(authenticated_block_)) == sector(unit);
    }

    CardKind kind_;
    Bytes memory_;
    std::map<unsigned, Key> keys_;
    int authenticated_block_ = -1;
};

}  // namespace vrpcsc
