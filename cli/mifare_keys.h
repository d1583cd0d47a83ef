// The keys the mifare commands unlock sectors with: one given key, the key
// stored in the reader, the keys of a key file, or the default key
// FFFFFFFFFFFF (a new card's).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "dumpfile.h"

namespace cli {

constexpr uint8_t kKeyA = 0x60, kKeyB = 0x61;
constexpr vrdump::Key kDefaultKey = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

struct SectorKey {
    std::optional<vrdump::Key> key;  // none: the key stored in the reader
    uint8_t type = kKeyA;            // kKeyA or kKeyB
    bool operator==(const SectorKey &) const = default;
};

const char *key_name(uint8_t type);  // "A" or "B"

class Keyring {
public:
    Keyring() = default;
    // One key (or the reader's stored key) of one type for every sector.
    explicit Keyring(SectorKey only);
    // A dictionary's keys are tried on every sector as either key, the
    // preferred type first; a binary key file's keys serve their own
    // sectors.
    Keyring(const vrdump::KeyFile &file, uint8_t preferred_type);

    // The keys to try on a sector, the one that worked there before first;
    // of one type only when asked.
    [[nodiscard]] std::vector<SectorKey> to_try(int sector, std::optional<uint8_t> type = std::nullopt) const;
    // More than one key may be tried on a sector: a key search.
    [[nodiscard]] bool searches() const;
    void worked(int sector, const SectorKey &key);
    // The key that last opened the sector.
    [[nodiscard]] std::optional<SectorKey> working(int sector) const;

private:
    std::vector<SectorKey> every_sector_;
    std::vector<std::vector<SectorKey>> per_sector_;
    std::map<int, SectorKey> working_;
};

}  // namespace cli
