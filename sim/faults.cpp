#include "faults.h"

#include <charconv>
#include <vector>

namespace vrsim {
namespace {

std::vector<std::string_view> split_words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    const auto is_sep = [](char c) {
        return c == ' ' || c == '\t' || c == ':' || c == ',' || c == '=' || c == '\r' || c == '\n';
    };
    while (i < text.size()) {
        while (i < text.size() && is_sep(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !is_sep(text[i])) ++i;
        if (i > start) words.push_back(text.substr(start, i - start));
    }
    return words;
}

std::optional<unsigned long> parse_number(std::string_view w) {
    int base = 10;
    if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) {
        w.remove_prefix(2);
        base = 16;
    }
    unsigned long v = 0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v, base);
    if (ec != std::errc() || end != w.data() + w.size()) return std::nullopt;
    return v;
}

std::optional<FaultOrder> fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return std::nullopt;
}

}  // namespace

std::optional<FaultOrder> parse_fault_order(std::string_view text, std::string* error) {
    const auto words = split_words(text);
    if (words.empty()) return fail(error, "empty fault");
    FaultOrder order;
    size_t i = 1;
    const std::string_view kind = words[0];
    const auto argument = [&](unsigned long max) -> std::optional<unsigned long> {
        if (i >= words.size()) return std::nullopt;
        const auto v = parse_number(words[i]);
        if (!v || *v > max) return std::nullopt;
        ++i;
        return v;
    };
    if (kind == "drop") {
        order.fault = Fault::drop();
    } else if (kind == "delay") {
        const auto ms = argument(600000);
        if (!ms) return fail(error, "delay needs milliseconds (0..600000)");
        order.fault = Fault::delay(static_cast<unsigned>(*ms));
    } else if (kind == "crc") {
        order.fault = Fault::crc();
    } else if (kind == "stale90") {
        order.fault = Fault::stale90();
    } else if (kind == "lateping") {
        order.fault = Fault::lateping();
    } else if (kind == "status") {
        const auto s = argument(0xFF);
        if (!s) return fail(error, "status needs a byte (0..0xFF)");
        order.fault = Fault::with_status(static_cast<uint8_t>(*s));
    } else if (kind == "hangup") {
        order.fault = Fault::hangup();
    } else if (kind == "enc_ragged") {
        order.fault = Fault::enc_ragged();
    } else if (kind == "enc_overlong") {
        order.fault = Fault::enc_overlong();
    } else {
        return fail(error, "unknown fault: " + std::string(kind));
    }
    while (i < words.size()) {
        const std::string_view w = words[i++];
        if (w == "every") {
            const auto n = argument(1000000);
            if (!n || *n == 0) return fail(error, "every needs a period above 0");
            order.every = static_cast<unsigned>(*n);
        } else if (w.size() > 1 && w[0] == 'x') {
            const auto n = parse_number(w.substr(1));
            if (!n || *n == 0 || *n > 1000000) return fail(error, "bad count: " + std::string(w));
            order.count = static_cast<unsigned>(*n);
        } else {
            return fail(error, "unexpected word: " + std::string(w));
        }
    }
    return order;
}

std::string describe(const Fault& f) {
    switch (f.kind) {
    case Fault::Kind::drop: return "drop";
    case Fault::Kind::delay: return "delay " + std::to_string(f.delay_ms);
    case Fault::Kind::crc: return "crc";
    case Fault::Kind::stale90: return "stale90";
    case Fault::Kind::lateping: return "lateping";
    case Fault::Kind::status: {
        static const char digits[] = "0123456789abcdef";
        std::string s = "status 0x";
        s += digits[f.status >> 4];
        s += digits[f.status & 0x0F];
        return s;
    }
    case Fault::Kind::hangup: return "hangup";
    case Fault::Kind::enc_ragged: return "enc_ragged";
    case Fault::Kind::enc_overlong: return "enc_overlong";
    }
    return "?";
}

void FaultPlan::add(const Fault& fault, unsigned count) {
    for (unsigned k = 0; k < count; ++k) queue_.push_back(fault);
}

void FaultPlan::every(const Fault& fault, unsigned period) {
    if (period == 0) {
        periodic_.reset();
        period_ = 0;
        return;
    }
    periodic_ = fault;
    period_ = period;
    since_periodic_ = 0;
}

void FaultPlan::apply(const FaultOrder& order) {
    if (order.every > 0)
        every(order.fault, order.every);
    else
        add(order.fault, order.count);
}

void FaultPlan::clear() {
    queue_.clear();
    every(Fault{}, 0);
}

std::optional<Fault> FaultPlan::next() {
    bool periodic_due = false;
    if (periodic_) periodic_due = ++since_periodic_ % period_ == 0;
    if (!queue_.empty()) {
        const Fault f = queue_.front();
        queue_.pop_front();
        return f;
    }
    if (periodic_due) return periodic_;
    return std::nullopt;
}

}  // namespace vrsim
