// The sensor's decimal readings: one reading, or comma-separated readings,
// over any bytes. What is accepted must be the number strtod finds in the
// text, inside the range, and never longer than a field may be. Input: a
// mode byte (bit 0: a list; bits 1..2: the range), then the answer.
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "accessory/reading.h"
#include "fuzz_support.h"

namespace {

using vr::accessory::ReadingRange;

constexpr ReadingRange kRanges[] = {{-40, 125}, {0, 100}, {0, 1000}, {0, 65535}};

// The reading strtod makes of the field (the field without the bytes that
// end a reply).
double reference(std::span<const uint8_t> field) {
    const std::string text(field.begin(), field.end());
    return std::strtod(text.c_str(), nullptr);
}

void check_single(std::span<const uint8_t> answer, ReadingRange range) {
    const auto value = vr::accessory::parse_reading(answer, range);
    if (!value) return;
    vrfuzz::check(std::isfinite(*value), "finite");
    vrfuzz::check(*value >= static_cast<float>(range.low) && *value <= static_cast<float>(range.high), "in range");
    std::size_t n = answer.size();
    while (n > 0 && (answer[n - 1] == 0 || std::strchr(" \t\r\n", answer[n - 1]))) --n;
    vrfuzz::check(n <= vr::accessory::kReadingMaxChars, "field length");
    vrfuzz::check(*value == static_cast<float>(reference(answer.first(n))), "the number strtod reads");
}

void check_list(std::span<const uint8_t> answer, ReadingRange range) {
    const ReadingRange ranges[5] = {range, range, range, range, range};
    float out[5] = {};
    const auto stored = vr::accessory::parse_reading_list(answer, ranges, out);
    if (!stored) return;
    vrfuzz::check(*stored <= 5, "fields stored");
    for (std::size_t i = 0; i < *stored; ++i)
        vrfuzz::check(std::isfinite(out[i]) && out[i] >= static_cast<float>(range.low) &&
                          out[i] <= static_cast<float>(range.high),
                      "field in range");
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    static const bool c_locale = std::setlocale(LC_NUMERIC, "C") != nullptr;
    (void)c_locale;
    const uint8_t mode = in.byte();
    const auto answer = in.rest();
    const ReadingRange range = kRanges[(mode >> 1) & 3];
    if (mode & 1)
        check_list(answer, range);
    else
        check_single(answer, range);
}
