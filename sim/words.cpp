#include "words.h"

#include <charconv>

namespace vrsim {

std::vector<std::string_view> split_words(std::string_view text, std::string_view separators) {
    const auto is_sep = [&](char c) { return separators.find(c) != std::string_view::npos; };
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_sep(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !is_sep(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::string join_words(const std::vector<std::string_view>& words, size_t from) {
    std::string s;
    for (size_t i = from; i < words.size(); ++i) {
        if (!s.empty()) s += ' ';
        s += words[i];
    }
    return s;
}

std::optional<unsigned long long> parse_unsigned(std::string_view w) {
    int base = 10;
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
        w.remove_prefix(2);
        base = 16;
    }
    unsigned long long v = 0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v, base);
    if (ec != std::errc() || end != w.data() + w.size()) return std::nullopt;
    return v;
}

std::optional<unsigned> parse_repeat(std::string_view word, unsigned most) {
    if (word.size() < 2 || word[0] != 'x') return std::nullopt;
    const auto n = parse_unsigned(word.substr(1));
    if (!n || *n == 0 || *n > most) return std::nullopt;
    return static_cast<unsigned>(*n);
}

}  // namespace vrsim
