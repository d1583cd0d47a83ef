// Progress of a long card operation (a dump, a restore, a key search) on
// standard error: one line rewritten in place, and only when standard error
// is a terminal, so that logs and pipes get none of it.
#pragma once

#include <string>

namespace cli {

class Progress {
public:
    explicit Progress(std::string what);
    ~Progress();  // clears the line
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    // "what: done/total detail".
    void update(int done, int total, const std::string &detail = {});

private:
    std::string what_;
    bool shown_;
    std::size_t width_ = 0;
};

}  // namespace cli
