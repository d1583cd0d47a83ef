#include "device_name.h"

#include <charconv>

namespace vrpcsc {
namespace {

constexpr int kMinTimeoutMs = 20;
constexpr int kMaxTimeoutMs = 10000;

std::optional<int> number_in(std::string_view text, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

bool apply_option(std::string_view option, DeviceOptions &out) {
    const auto equals = option.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view key = option.substr(0, equals), value = option.substr(equals + 1);
    std::optional<int> n;
    if (key == "family" && (n = number_in(value, 1, 2))) {
        out.family = *n;
        return true;
    }
    if (key == "timeout" && (n = number_in(value, kMinTimeoutMs, kMaxTimeoutMs))) {
        out.timeout_ms = *n;
        return true;
    }
    if (key == "log" && (n = number_in(value, 0, 3))) {
        out.log_level = *n;
        return true;
    }
    return false;
}

}  // namespace

std::optional<DeviceOptions> parse_device_name(std::string_view text) {
    DeviceOptions out;
    const auto colon = text.find(':');
    out.path = std::string(text.substr(0, colon));
    if (out.path.empty()) return std::nullopt;
    if (colon == std::string_view::npos) return out;
    std::string_view rest = text.substr(colon + 1);
    while (true) {
        const auto comma = rest.find(',');
        if (!apply_option(rest.substr(0, comma), out)) return std::nullopt;
        if (comma == std::string_view::npos) return out;
        rest = rest.substr(comma + 1);
    }
}

}  // namespace vrpcsc
