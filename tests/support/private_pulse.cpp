#include "private_pulse.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vrtest {

namespace {

std::string script() { return std::string(VR_SOURCE_DIR) + "/scripts/pulse-private.sh"; }

}  // namespace

PrivatePulse::PrivatePulse() {
    char dir[] = "/tmp/vr-pulse-XXXXXX";
    if (!mkdtemp(dir)) {
        error_ = "no temporary directory";
        return;
    }
    dir_ = dir;
    // The server goes with this process even when it never reaches the
    // destructor (a test killed on its time-out).
    const std::string command = "sh " + script() + " start " + dir_ + " " + std::to_string(getpid()) + " 2>&1";
    FILE *out = popen(command.c_str(), "r");
    if (!out) {
        error_ = "cannot run the script";
        return;
    }
    char line[512];
    int settings = 0;
    while (std::fgets(line, sizeof line, out)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const auto eq = text.find('=');
        const bool setting =
            text.rfind("PULSE", 0) == 0 || text.rfind("XDG", 0) == 0 || text.rfind("HOME", 0) == 0;
        if (eq == std::string::npos || !setting) {
            error_ += text + "\n";
            continue;
        }
        setenv(text.substr(0, eq).c_str(), text.substr(eq + 1).c_str(), 1);
        ++settings;
    }
    running_ = pclose(out) == 0 && settings > 0;
}

PrivatePulse::~PrivatePulse() {
    if (dir_.empty()) return;
    const std::string command = "sh " + script() + " stop " + dir_;
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "private pulse: stop failed\n");
}

}  // namespace vrtest
