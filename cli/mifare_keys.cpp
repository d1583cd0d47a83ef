#include "mifare_keys.h"

#include <algorithm>

namespace cli {

const char *key_name(uint8_t type) { return type == kKeyB ? "B" : "A"; }

Keyring::Keyring(SectorKey only) : every_sector_{only} {}

Keyring::Keyring(const vrdump::KeyFile &file, uint8_t preferred_type) {
    const uint8_t other = preferred_type == kKeyA ? kKeyB : kKeyA;
    for (const uint8_t type : {preferred_type, other})
        for (const vrdump::Key &key : file.candidates) every_sector_.push_back({key, type});
    for (const vrdump::SectorKeys &keys : file.known) {
        std::vector<SectorKey> sector;
        for (const uint8_t type : {preferred_type, other}) {
            const auto &key = type == kKeyA ? keys.a : keys.b;
            if (key) sector.push_back({*key, type});
        }
        per_sector_.push_back(std::move(sector));
    }
}

std::vector<SectorKey> Keyring::to_try(int sector, std::optional<uint8_t> type) const {
    std::vector<SectorKey> keys;
    if (const auto known = working(sector)) keys.push_back(*known);
    const auto &listed = sector >= 0 && static_cast<std::size_t>(sector) < per_sector_.size()
                             ? per_sector_[static_cast<std::size_t>(sector)]
                             : every_sector_;
    for (const SectorKey &k : listed)
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    if (type) std::erase_if(keys, [&](const SectorKey &k) { return k.type != *type; });
    return keys;
}

bool Keyring::searches() const {
    if (every_sector_.size() > 1) return true;
    return std::any_of(per_sector_.begin(), per_sector_.end(), [](const auto &keys) { return keys.size() > 1; });
}

void Keyring::worked(int sector, const SectorKey &key) { working_[sector] = key; }

std::optional<SectorKey> Keyring::working(int sector) const {
    const auto it = working_.find(sector);
    return it == working_.end() ? std::nullopt : std::optional(it->second);
}

}  // namespace cli
