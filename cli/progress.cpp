#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace cli {

Progress::Progress(std::string what) : what_(std::move(what)), shown_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
    if (shown_ && width_) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
}

void Progress::update(int done, int total, const std::string &detail) {
    if (!shown_) return;
    std::string line = what_ + ": " + std::to_string(done) + "/" + std::to_string(total);
    if (!detail.empty()) line += " " + detail;
    // Pad over what a longer line before left on the terminal.
    if (line.size() < width_) line.append(width_ - line.size(), ' ');
    width_ = line.size();
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

}  // namespace cli
