// Texts between the library (UTF-8, from cards, readers and callers, so
// not always well formed) and Java (UTF-16).
#pragma once

#include <cstddef>
#include <string>

namespace vr::bridge {

// Decodes UTF-8 into UTF-16 code units. Every malformed, truncated or
// overlong sequence, encoded surrogate and code point above U+10FFFF
// becomes one U+FFFD per offending byte run, so any byte string gives a
// valid Java text. Reads exactly n bytes.
std::u16string utf8_to_utf16(const char *bytes, std::size_t n);

}  // namespace vr::bridge
