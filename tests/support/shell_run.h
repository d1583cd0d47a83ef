// Runs a command line through the shell with its standard output and error
// gathered into one text, as a user at a terminal sees them.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vrtest {

struct ShellRun {
    int status = -1;  // -1 when the command did not end by itself
    std::string output;
};

inline ShellRun run_shell(const std::string &command) {
    ShellRun r;
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace vrtest
