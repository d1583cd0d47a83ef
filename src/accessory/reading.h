// The sensor's readings arrive as decimal text: one number, or several
// separated by commas. Parsing is pure and bounded by the reply it is
// given; a fuzz target runs it (fuzz/fuzz_reading.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vr::accessory {

// The values a property can report; a reading outside them is a bad answer.
struct ReadingRange {
    double low;
    double high;
};

// A field of at most this many characters (the device sends short numbers;
// a longer one is a bad answer).
inline constexpr std::size_t kReadingMaxChars = 9;

// One reading: optional blanks, an optional sign, digits with an optional
// decimal point, an optional exponent, optional blanks; trailing NUL, CR and
// LF bytes of the reply are ignored. Nothing, when the text is not such a
// number, is longer than kReadingMaxChars, or is outside range.
std::optional<float> parse_reading(std::span<const uint8_t> text, ReadingRange range);

// Comma-separated readings: field i (i < out.size()) is parsed with
// ranges[i] into out[i]. A comma that ends the reply ends its last field.
// The number of fields stored (fewer fields leave the rest of out alone),
// or nothing when a field is bad (out may be partly written).
std::optional<std::size_t> parse_reading_list(std::span<const uint8_t> text,
                                              std::span<const ReadingRange> ranges, std::span<float> out);

}  // namespace vr::accessory
