// Captures the library's log lines for assertions.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/platform.h"
#include "log.h"

namespace vrtest {

// While it lives, lines up to the level (information by default, what the
// Android log carries) are enabled and collected.
class LogCapture {
public:
    explicit LogCapture(int level = LOG_LEVEL_I) : level_before_(log_set_level(level)) {
        vr::platform::set_log_sink([this](std::string_view line) {
            std::lock_guard<std::mutex> g(m_);
            lines_.emplace_back(line);
            added_.notify_all();
        });
    }
    ~LogCapture() {
        vr::platform::set_log_sink(nullptr);
        log_set_level(level_before_);
    }

    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> g(m_);
        return lines_;
    }
    // True when some line contains text.
    bool contains(const std::string &text) const {
        std::lock_guard<std::mutex> g(m_);
        return contains_locked(text);
    }
    // For a line logged from another thread: true once some line contains
    // text, false when none has after `limit`.
    bool wait_for(const std::string &text, std::chrono::milliseconds limit) const {
        std::unique_lock<std::mutex> g(m_);
        return added_.wait_for(g, limit, [&] { return contains_locked(text); });
    }
    int count(const std::string &text) const {
        int n = 0;
        for (const auto &l : lines())
            if (l.find(text) != std::string::npos) ++n;
        return n;
    }

private:
    bool contains_locked(const std::string &text) const {
        for (const auto &l : lines_)
            if (l.find(text) != std::string::npos) return true;
        return false;
    }

    const int level_before_;
    mutable std::mutex m_;
    mutable std::condition_variable added_;
    std::vector<std::string> lines_;
};

}  // namespace vrtest
