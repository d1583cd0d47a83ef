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

constexpr std::string_view kUsbPrefix = "usb:";
constexpr std::string_view kUdevNodePrefix = "/dev/bus/usb/";
constexpr int kMaxBus = 255, kMaxAddress = 127, kMaxInterface = 255;

std::optional<uint16_t> usb_id(std::string_view text) {
    unsigned value = 0;
    if (text.empty() || text.size() > 4) return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// The next field up to a colon (all that is left without one).
std::string_view take_field(std::string_view &rest) {
    const auto colon = rest.find(':');
    const std::string_view field = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
    return field;
}

// A usbfs node /dev/bus/usb/BBB/AAA gives bus and address; another node
// leaves them open.
bool apply_node(std::string_view node, UsbDeviceName &out) {
    if (node.empty() || node.front() != '/') return false;
    if (node.substr(0, kUdevNodePrefix.size()) != kUdevNodePrefix) return true;
    std::string_view rest = node.substr(kUdevNodePrefix.size());
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos) return true;
    const auto bus = number_in(rest.substr(0, slash), 0, kMaxBus);
    const auto address = number_in(rest.substr(slash + 1), 0, kMaxAddress);
    if (bus && address) {
        out.bus = *bus;
        out.address = *address;
    }
    return true;
}

std::optional<DeviceOptions> parse_usb_name(std::string_view rest) {
    UsbDeviceName usb;
    const std::string_view ids = take_field(rest);
    const auto slash = ids.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const auto vendor = usb_id(ids.substr(0, slash)), product = usb_id(ids.substr(slash + 1));
    if (!vendor || !product) return std::nullopt;
    usb.vendor_id = *vendor;
    usb.product_id = *product;
    if (!rest.empty()) {
        const std::string_view how = take_field(rest);
        if (how == "libudev") {
            // The interface, then the node, whose path may hold no colon.
            if (!number_in(take_field(rest), 0, kMaxInterface) || !apply_node(rest, usb)) return std::nullopt;
        } else if (how == "libusb-1.0") {
            const auto bus = number_in(take_field(rest), 0, kMaxBus);
            const auto address = number_in(take_field(rest), 0, kMaxAddress);
            if (!bus || !address) return std::nullopt;
            if (!rest.empty() && !number_in(take_field(rest), 0, kMaxInterface)) return std::nullopt;
            if (!rest.empty()) return std::nullopt;
            usb.bus = *bus;
            usb.address = *address;
        } else {
            return std::nullopt;
        }
    }
    DeviceOptions out;
    out.usb = usb;
    return out;
}

}  // namespace

std::optional<DeviceOptions> parse_device_name(std::string_view text) {
    if (text.substr(0, kUsbPrefix.size()) == kUsbPrefix) return parse_usb_name(text.substr(kUsbPrefix.size()));
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
