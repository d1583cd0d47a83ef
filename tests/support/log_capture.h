// Captures the library's log lines for assertions.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/platform.h"

namespace vrtest {

class LogCapture {
public:
    LogCapture() {
        vr::platform::set_log_sink([this](std::string_view line) {
            std::lock_guard<std::mutex> g(m_);
            lines_.emplace_back(line);
        });
    }
    ~LogCapture() { vr::platform::set_log_sink(nullptr); }

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> g(m_);
        return lines_;
    }
    // True when some line contains text.
    bool contains(const std::string &text) const {
        for (const auto &l : lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    int count(const std::string &text) const {
        int n = 0;
        for (const auto &l : lines())
            if (l.find(text) != std::string::npos) ++n;
        return n;
    }

private:
    mutable std::mutex m_;
    std::vector<std::string> lines_;
};

}  // namespace vrtest
