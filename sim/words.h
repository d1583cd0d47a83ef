// Words and numbers in the simulator's text inputs: control lines, fault
// orders, command-line options and card descriptions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vrsim {

// The words of `text` between any of the `separators` (runs of separators
// count as one; no word is empty).
[[nodiscard]] std::vector<std::string_view> split_words(std::string_view text, std::string_view separators);

// words[from..] joined with single blanks.
[[nodiscard]] std::string join_words(const std::vector<std::string_view>& words, size_t from);

// A whole word as an unsigned number, decimal or 0x hexadecimal; nothing
// when anything else is in it.
[[nodiscard]] std::optional<unsigned long long> parse_unsigned(std::string_view word);

// A repeat count of a fault order, "xN" with N from 1 to `most`; nothing
// for any other word.
[[nodiscard]] std::optional<unsigned> parse_repeat(std::string_view word, unsigned most);

}  // namespace vrsim
