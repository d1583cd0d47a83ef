// Byte strings in tests: joined from parts, and shown as the library's
// hexadecimal text so that a mismatch reads as the card's bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "pboc_text.h"

namespace vrtest {

// `a` followed by the bytes of `b` (a byte vector, array or view).
inline std::vector<uint8_t> cat(std::vector<uint8_t> a, const auto &b) {
    a.insert(a.end(), std::begin(b), std::end(b));
    return a;
}

// Upper-case hexadecimal text, two digits a byte.
inline std::string hex(const std::vector<uint8_t> &b) {
    char *text = pboc_data2str(b.data(), static_cast<int>(b.size()));
    std::string out = text ? text : "";
    std::free(text);
    return out;
}

}  // namespace vrtest
