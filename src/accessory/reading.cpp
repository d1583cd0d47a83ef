#include "accessory/reading.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vr::accessory {

namespace {

bool is_blank(uint8_t c) { return c == ' ' || c == '\t'; }
bool is_reply_tail(uint8_t c) { return c == 0 || c == '\r' || c == '\n' || is_blank(c); }
bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// The reply without the NUL, CR, LF and blank bytes that end it.
std::span<const uint8_t> without_tail(std::span<const uint8_t> text) {
    std::size_t n = text.size();
    while (n > 0 && is_reply_tail(text[n - 1])) --n;
    return text.first(n);
}

// Length of the decimal number at the start of text ([sign] digits [. digits]
// [e [sign] digits], at least one mantissa digit); 0 when there is none.
std::size_t decimal_length(std::span<const uint8_t> text) {
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return k < text.size() ? text[k] : uint8_t{0}; };
    if (at(i) == '+' || at(i) == '-') ++i;
    std::size_t digits = 0;
    while (is_digit(at(i))) ++i, ++digits;
    if (at(i) == '.') {
        ++i;
        while (is_digit(at(i))) ++i, ++digits;
    }
    if (digits == 0) return 0;
    if (at(i) == 'e' || at(i) == 'E') {
        std::size_t k = i + 1;
        if (at(k) == '+' || at(k) == '-') ++k;
        if (!is_digit(at(k))) return i;  // "12e" is 12 followed by junk
        while (is_digit(at(k))) ++k;
        i = k;
    }
    return i;
}

}  // namespace

std::optional<float> parse_reading(std::span<const uint8_t> text, ReadingRange range) {
    text = without_tail(text);
    if (text.size() > kReadingMaxChars) return std::nullopt;
    std::size_t b = 0;
    while (b < text.size() && is_blank(text[b])) ++b;
    text = text.subspan(b);
    const std::size_t n = decimal_length(text);
    if (n == 0 || n != text.size()) return std::nullopt;

    // from_chars rounds correctly and ignores the locale; it takes no '+'.
    char digits[kReadingMaxChars + 1];
    std::size_t skip = text[0] == '+' ? 1 : 0;
    std::copy(text.begin() + static_cast<std::ptrdiff_t>(skip), text.end(), digits);
    double value = 0;
    const auto [end, ec] = std::from_chars(digits, digits + (n - skip), value);
    if (ec != std::errc() || end != digits + (n - skip)) return std::nullopt;
    if (!std::isfinite(value) || value < range.low || value > range.high) return std::nullopt;
    return static_cast<float>(value);
}

std::optional<std::size_t> parse_reading_list(std::span<const uint8_t> text,
                                              std::span<const ReadingRange> ranges, std::span<float> out) {
    text = without_tail(text);
    const std::size_t wanted = std::min(ranges.size(), out.size());
    std::size_t stored = 0;
    std::size_t start = 0;
    while (stored < wanted && start < text.size()) {
        const auto comma = std::find(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(), ',');
        const std::size_t end = static_cast<std::size_t>(comma - text.begin());
        const auto value = parse_reading(text.subspan(start, end - start), ranges[stored]);
        if (!value) return std::nullopt;
        out[stored++] = *value;
        start = end + 1;
    }
    return stored;
}

}  // namespace vr::accessory
