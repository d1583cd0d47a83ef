#include "faults.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "words.h"

namespace vrsim {
namespace {

std::optional<FaultOrder> fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return std::nullopt;
}

// Every fault kind by the name orders and descriptions use.
constexpr std::pair<std::string_view, Fault::Kind> kKindNames[] = {
    {"drop", Fault::Kind::drop},
    {"delay", Fault::Kind::delay},
    {"crc", Fault::Kind::crc},
    {"stale90", Fault::Kind::stale90},
    {"lateping", Fault::Kind::lateping},
    {"status", Fault::Kind::status},
    {"hangup", Fault::Kind::hangup},
    {"garbage", Fault::Kind::garbage},
    {"enc_ragged", Fault::Kind::enc_ragged},
    {"enc_overlong", Fault::Kind::enc_overlong},
};

}  // namespace

std::optional<FaultOrder> parse_fault_order(std::string_view text, std::string* error) {
    const auto words = split_words(text, " \t:,=\r\n");
    if (words.empty()) return fail(error, "empty fault");
    FaultOrder order;
    size_t i = 1;
    const std::string_view kind = words[0];
    const auto argument = [&](unsigned long long max) -> std::optional<unsigned long long> {
        if (i >= words.size()) return std::nullopt;
        const auto v = parse_unsigned(words[i]);
        if (!v || *v > max) return std::nullopt;
        ++i;
        return v;
    };
    const auto named = std::ranges::find(kKindNames, kind, &std::pair<std::string_view, Fault::Kind>::first);
    if (named == std::end(kKindNames)) return fail(error, "unknown fault: " + std::string(kind));
    order.fault.kind = named->second;
    if (order.fault.kind == Fault::Kind::delay) {
        const auto ms = argument(600000);
        if (!ms) return fail(error, "delay needs milliseconds (0..600000)");
        order.fault.delay_ms = static_cast<unsigned>(*ms);
    } else if (order.fault.kind == Fault::Kind::stale90 && i < words.size() && parse_unsigned(words[i])) {
        const auto n = argument(1000);
        if (!n || *n == 0) return fail(error, "stale90 takes a count (1..1000)");
        order.fault.reports = static_cast<unsigned>(*n);
    } else if (order.fault.kind == Fault::Kind::status) {
        const auto s = argument(0xFF);
        if (!s) return fail(error, "status needs a byte (0..0xFF)");
        order.fault.status = static_cast<uint8_t>(*s);
    }
    while (i < words.size()) {
        const std::string_view w = words[i++];
        if (w == "every") {
            const auto n = argument(1000000);
            if (!n || *n == 0) return fail(error, "every needs a period above 0");
            order.every = static_cast<unsigned>(*n);
        } else if (w.size() > 1 && w[0] == 'x') {
            const auto n = parse_repeat(w, 1000000);
            if (!n) return fail(error, "bad count: " + std::string(w));
            order.count = *n;
        } else {
            return fail(error, "unexpected word: " + std::string(w));
        }
    }
    return order;
}

std::string describe(const Fault& f) {
    const auto named = std::ranges::find(kKindNames, f.kind, &std::pair<std::string_view, Fault::Kind>::second);
    if (named == std::end(kKindNames)) return "?";
    std::string s(named->first);
    if (f.kind == Fault::Kind::delay) s += " " + std::to_string(f.delay_ms);
    if (f.kind == Fault::Kind::stale90 && f.reports != 1) s += " " + std::to_string(f.reports);
    if (f.kind == Fault::Kind::status) {
        static const char digits[] = "0123456789abcdef";
        s += " 0x";
        s += digits[f.status >> 4];
        s += digits[f.status & 0x0F];
    }
    return s;
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
