#include "json_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace vrdump {
namespace {

// Nesting limit of the JSON reader, so a hostile file cannot exhaust the
// stack.
constexpr int kMaxJsonDepth = 32;

Status fail(std::string text) { return Status{std::move(text)}; }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A strict reader of one JSON text (RFC 8259): no comments, no trailing
// commas, nothing after the value but white space.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : s_(text) {}

    Status read(Json &root) {
        skip_space();
        if (!value(root, 0)) return fail(error_);
        skip_space();
        if (pos_ != s_.size()) return fail(where() + "unexpected text after the end");
        return {};
    }

private:
    std::string where() const { return "bad JSON at byte " + std::to_string(pos_) + ": "; }
    bool error(const std::string &what) {
        if (error_.empty()) error_ = where() + what;
        return false;
    }
    bool at_end() const { return pos_ >= s_.size(); }
    char peek() const { return at_end() ? '\0' : s_[pos_]; }

    void skip_space() {
        while (!at_end() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }

    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return error("unknown literal");
        pos_ += word.size();
        return true;
    }

    bool value(Json &out, int depth) {
        if (depth > kMaxJsonDepth) return error("nested too deeply");
        switch (peek()) {
        case '{': return object(out, depth);
        case '[': return array(out, depth);
        case '"': out.type = Json::Type::string; return string(out.text);
        case 't': out.type = Json::Type::boolean; out.text = "true"; return literal("true");
        case 'f': out.type = Json::Type::boolean; out.text = "false"; return literal("false");
        case 'n': out.type = Json::Type::null; return literal("null");
        default: return number(out);
        }
    }

    bool object(Json &out, int depth) {
        out.type = Json::Type::object;
        ++pos_;
        skip_space();
        if (peek() == '}') return ++pos_, true;
        for (;;) {
            skip_space();
            if (peek() != '"') return error("expected a member name");
            std::string key;
            if (!string(key)) return false;
            skip_space();
            if (peek() != ':') return error("expected ':'");
            ++pos_;
            skip_space();
            Json member;
            if (!value(member, depth + 1)) return false;
            out.keys.push_back(std::move(key));
            out.items.push_back(std::move(member));
            skip_space();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') return ++pos_, true;
            return error("expected ',' or '}'");
        }
    }

    bool array(Json &out, int depth) {
        out.type = Json::Type::array;
        ++pos_;
        skip_space();
        if (peek() == ']') return ++pos_, true;
        for (;;) {
            skip_space();
            Json item;
            if (!value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            skip_space();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') return ++pos_, true;
            return error("expected ',' or ']'");
        }
    }

    bool number(Json &out) {
        const std::size_t start = pos_;
        if (peek() == '-') ++pos_;
        if (!std::isdigit(static_cast<unsigned char>(peek()))) return error("expected a value");
        while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        if (peek() == '.') {
            ++pos_;
            if (!std::isdigit(static_cast<unsigned char>(peek()))) return error("bad number");
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            if (peek() == '+' || peek() == '-') ++pos_;
            if (!std::isdigit(static_cast<unsigned char>(peek()))) return error("bad number");
            while (std::isdigit(static_cast<unsigned char>(peek()))) ++pos_;
        }
        out.type = Json::Type::number;
        out.text = std::string(s_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(unsigned &code) {
        if (pos_ + 4 > s_.size()) return error("short \\u escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const int d = hex_digit(s_[pos_++]);
            if (d < 0) return error("bad \\u escape");
            code = code << 4 | static_cast<unsigned>(d);
        }
        return true;
    }

    static void append_utf8(std::string &out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | code >> 6);
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | code >> 12);
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | code >> 18);
            out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool escape(std::string &out) {
        if (at_end()) return error("unterminated string");
        const char c = s_[pos_++];
        switch (c) {
        case '"': case '\\': case '/': out += c; return true;
        case 'b': out += '\b'; return true;
        case 'f': out += '\f'; return true;
        case 'n': out += '\n'; return true;
        case 'r': out += '\r'; return true;
        case 't': out += '\t'; return true;
        case 'u': break;
        default: return error("bad escape");
        }
        unsigned code = 0;
        if (!hex4(code)) return false;
        // A high surrogate followed by a low one encodes one code point;
        // a lone surrogate is kept as the replacement character.
        if (code >= 0xD800 && code < 0xDC00 && s_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            unsigned low = 0;
            if (!hex4(low)) return false;
            code = (low >= 0xDC00 && low < 0xE000) ? 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00)
                                                    : 0xFFFD;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        append_utf8(out, code);
        return true;
    }

    bool string(std::string &out) {
        ++pos_;  // opening quote
        for (;;) {
            if (at_end()) return error("unterminated string");
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return error("control character in a string");
            if (c != '\\') {
                out += c;
            } else if (!escape(out)) {
                return false;
            }
        }
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    std::string error_;
};

}  // namespace

const Json *Json::member(std::string_view name) const {
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == name) return &items[i];
    return nullptr;
}

Status parse_json(std::string_view text, Json &root) { return JsonReader(text).read(root); }

std::string json_quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", static_cast<unsigned>(c));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::optional<std::vector<uint8_t>> unhex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hex_digit(text[i]), lo = hex_digit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

Status read_file(const std::string &path, std::size_t max_size, const char *what, std::vector<uint8_t> &bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(path + ": cannot open: " + std::strerror(errno));
    bytes.clear();
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
        if (bytes.size() > max_size) return fail(path + ": too large for " + what);
    }
    if (in.bad()) return fail(path + ": read error");
    return {};
}

}  // namespace vrdump
