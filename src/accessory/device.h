// The accessory's device commands: reader command 0x0F24 reads an item and
// 0x0F25 writes one; the first two data bytes name the item and its group.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "link/reader_command.h"

namespace vr::accessory {

inline constexpr uint16_t kReadItem = 0x0F24;
inline constexpr uint16_t kWriteItem = 0x0F25;

// Item groups.
inline constexpr uint8_t kGroupMeasurement = 0x01;
inline constexpr uint8_t kGroupControl = 0x02;
inline constexpr uint8_t kGroupIdentity = 0x03;

// Reads an item into c (its reply in c.reply()); 0, or the exchange's
// failure result (-1 with errno).
inline int read_item(ReaderCommand &c, uint8_t item, uint8_t group) {
    c.append({item, group});
    return c.send();
}

// Writes an item: the exchange's result.
inline int write_item(uint8_t item, uint8_t group, std::initializer_list<uint8_t> value) {
    ReaderCommand c(kWriteItem, {item, group});
    c.append(value);
    return c.send();
}

}  // namespace vr::accessory
