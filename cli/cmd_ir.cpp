// "ir convert" and "ir decompress": the infrared waveform conversion of the
// library from the command line. convert applies the same stages and the
// same size limits as the reader's IR control code, so what it writes is
// exactly what the reader is handed.
#include "cmd_tlv_ir.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "ir.h"
#include "tlv.h"

namespace {

// The reader's work buffers: 2048 bytes of samples in (1024 durations) and
// 2048 bytes of compressed stream out.
constexpr std::size_t kMaxSampleBytes = 2048;
constexpr std::size_t kMaxStreamBytes = 2048;
// Anything far beyond the reader's limit is not a waveform worth reading.
constexpr std::size_t kMaxFileBytes = 1 << 20;

void usage() {
    std::fprintf(stderr,
                 "usage: vantel-rfid ir convert FILE [OUT]\n"
                 "       vantel-rfid ir decompress FILE|HEX\n"
                 "FILE holds 16-bit big-endian durations in microseconds, or a text\n"
                 "list of decimal microsecond values.\n");
}

std::optional<std::string> read_file(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string data;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        data.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (data.size() > kMaxFileBytes) return std::nullopt;
    }
    return data;
}

bool is_regular_file(const char *path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool is_separator(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ';';
}

// A text list is decimal digits and separators only, with at least one digit.
bool looks_like_decimal_list(const std::string &data) {
    bool digit = false;
    for (const char c : data) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digit = true;
        } else if (!is_separator(c)) {
            return false;
        }
    }
    return digit;
}

std::optional<std::vector<uint16_t>> parse_decimal_list(const std::string &data) {
    std::vector<uint16_t> values;
    std::size_t i = 0;
    while (i < data.size()) {
        if (is_separator(data[i])) {
            ++i;
            continue;
        }
        unsigned long v = 0;
        while (i < data.size() && std::isdigit(static_cast<unsigned char>(data[i]))) {
            v = v * 10 + static_cast<unsigned long>(data[i] - '0');
            if (v > 0xFFFF) return std::nullopt;
            ++i;
        }
        values.push_back(static_cast<uint16_t>(v));
    }
    return values;
}

std::vector<uint16_t> parse_big_endian(const std::string &data) {
    std::vector<uint16_t> values(data.size() / 2);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<uint16_t>(static_cast<uint8_t>(data[2 * i]) << 8 |
                                          static_cast<uint8_t>(data[2 * i + 1]));
    }
    return values;
}

std::optional<std::vector<uint8_t>> parse_hex(const std::string &text) {
    std::string digits;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += c;
    }
    if (digits.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

int convert(const char *path, const char *out_path) {
    const auto data = read_file(path);
    if (!data) {
        std::fprintf(stderr, "ir: cannot read %s (missing, or larger than %zu bytes)\n", path,
                     kMaxFileBytes);
        return 1;
    }
    std::vector<uint16_t> durations;
    if (looks_like_decimal_list(*data)) {
        auto parsed = parse_decimal_list(*data);
        if (!parsed) {
            std::fprintf(stderr, "ir: %s: a duration exceeds 65535 us\n", path);
            return 1;
        }
        durations = std::move(*parsed);
    } else {
        if (data->size() % 2 != 0) {
            std::fprintf(stderr, "ir: %s: odd byte count, the last byte is ignored\n", path);
        }
        durations = parse_big_endian(*data);
    }
    if (durations.size() * 2 > kMaxSampleBytes) {
        std::fprintf(stderr, "ir: %zu durations; the reader takes at most %zu\n",
                     durations.size(), kMaxSampleBytes / 2);
        return 1;
    }

    const int count = static_cast<int>(durations.size());
    if (ir_data_adjustment(durations.data(), count) != 0) {
        std::fprintf(stderr, "ir: the durations need more than 32 clusters\n");
        return 1;
    }
    ir_data_analyzer(durations.data(), count);
    std::vector<uint8_t> stream(3 * durations.size() + 1);
    uint16_t reported = 0;
    if (ir_data_zip(durations.data(), count, stream.data(), &reported) < 0) {
        std::fprintf(stderr, "ir: compression failed\n");
        return 1;
    }
    const std::size_t written = count == 0 ? 0 : std::size_t{reported} + 1;
    if (written > kMaxStreamBytes) {
        std::fprintf(stderr, "ir: the compressed form needs %zu bytes; the reader takes %zu\n",
                     written, kMaxStreamBytes);
        return 1;
    }

    // The reader is handed the reported length: every byte but the last.
    std::vector<char> hex(2 * std::size_t{reported} + 1);
    get_hex(stream.data(), reported, hex.data());
    std::printf("%s\n", hex.data());
    std::fprintf(stderr, "ir: %d durations, %u bytes for the reader\n", count, reported);
    if (out_path) {
        std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(stream.data()), reported);
        if (!out) {
            std::fprintf(stderr, "ir: cannot write %s\n", out_path);
            return 1;
        }
    }
    return 0;
}

int decompress(int argc, char **argv) {
    std::vector<uint8_t> bytes;
    if (argc == 1 && is_regular_file(argv[0])) {
        const auto data = read_file(argv[0]);
        if (!data) {
            std::fprintf(stderr, "ir: cannot read %s\n", argv[0]);
            return 1;
        }
        auto hex = parse_hex(*data);
        bytes = hex ? std::move(*hex) : std::vector<uint8_t>(data->begin(), data->end());
    } else {
        std::string text;
        for (int i = 0; i < argc; ++i) text += argv[i];
        auto hex = parse_hex(text);
        if (!hex) {
            std::fprintf(stderr, "ir: %s is neither a file nor hexadecimal bytes\n", argv[0]);
            return 2;
        }
        bytes = std::move(*hex);
    }

    std::vector<uint16_t> values(bytes.size());
    const int n = ir_data_unzip(bytes.data(), static_cast<int>(bytes.size()), values.data(),
                                nullptr);
    if (n < 0) {
        std::fprintf(stderr, "ir: cannot decompress\n");
        return 1;
    }
    for (int i = 0; i < n; ++i) std::printf(i ? " %u" : "%u", values[static_cast<std::size_t>(i)]);
    std::printf("\n");

    // Compressing the values again tells how many bytes they used; the rest
    // is an escape cut short at the end of the stream.
    std::vector<uint8_t> again(3 * static_cast<std::size_t>(n) + 1);
    uint16_t reported = 0;
    const bool sized = ir_data_zip(values.data(), n, again.data(), &reported) >= 0;
    const std::size_t used = n == 0 ? 0 : std::size_t{reported} + 1;
    if (sized && used < bytes.size()) {
        std::fprintf(stderr, "ir: the last %zu byte(s) do not form a complete value\n",
                     bytes.size() - used);
    }
    return 0;
}

}  // namespace

int cli_cmd_ir(int argc, char **argv) {
    if (argc >= 3 && argc <= 4 && std::strcmp(argv[1], "convert") == 0) {
        return convert(argv[2], argc == 4 ? argv[3] : nullptr);
    }
    if (argc >= 3 && std::strcmp(argv[1], "decompress") == 0) {
        return decompress(argc - 2, argv + 2);
    }
    usage();
    return 2;
}
