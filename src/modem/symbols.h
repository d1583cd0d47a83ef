// Appending the uplink symbols to the receive ring, with the short-run
// suppression shared by both classifiers.
#pragma once

#include <array>

#include "modem/modem.h"

namespace vr::modem {

// Collects the symbols of one classifier call and appends them to the
// receive ring in batches (one ring lock per batch instead of per symbol).
// After 17 "S" in a row no further "S" is appended until the next "L", so a
// long idle carrier does not flood the ring; the flag lives in the modem
// state and persists across calls, the run count is per call.
class SymbolOut {
public:
    SymbolOut() : suppress_(load(state().short_run_suppress)) {}
    ~SymbolOut() { finish(); }
    SymbolOut(const SymbolOut &) = delete;
    SymbolOut &operator=(const SymbolOut &) = delete;

    // Returns whether the "S" was appended (false while suppressed).
    bool short_lobe() {
        if (suppress_) return false;
        put('S');
        if (run_ >= kRunBeforeSuppress) suppress_ = 1;
        ++run_;
        return true;
    }
    void long_lobe() {
        suppress_ = 0;
        run_ = 0;
        put('L');
    }
    void finish() {
        flush();
        store(state().short_run_suppress, suppress_);
    }

private:
    static constexpr int kRunBeforeSuppress = 16;

    void put(char symbol) {
        buffer_[static_cast<std::size_t>(used_++)] = symbol;
        if (used_ == static_cast<int>(buffer_.size())) flush();
    }
    void flush() {
        if (used_ > 0) append_symbols(buffer_.data(), used_);
        used_ = 0;
    }

    std::array<char, 256> buffer_{};
    int used_ = 0;
    int run_ = 0;
    int32_t suppress_;
};

}  // namespace vr::modem
