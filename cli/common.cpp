#include <cerrno>
#include <cstdio>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "cli.h"
#include "picc.h"
#include "sys.h"
#include "virt_com.h"

namespace cli {
namespace {

pid_t g_sim_pid = -1;

std::string sibling_program(const char *name) {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string("./x");
    dir = dir.substr(0, dir.rfind('/') + 1);
    return dir + name;
}

// Starts the simulator program and reads the pseudo-terminal path it
// prints on its first line.
std::string start_simulator(const Options &opt) {
    int out[2];
    if (pipe(out) != 0) return {};
    const std::string program = sibling_program("vantel-rfid-sim");
    pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        // The simulator reads control commands from its standard input; the
        // tool keeps it running on its own, so that input is switched off.
        std::vector<std::string> args{program, "--no-control", "--family", std::to_string(opt.family)};
        args.insert(args.end(), opt.sim_args.begin(), opt.sim_args.end());
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    g_sim_pid = pid;
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);
    return line;
}

}  // namespace

std::optional<std::vector<uint8_t>> parse_hex(const std::string &text) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char ch : text) {
        if (ch == ' ' || ch == ':' || ch == '-') continue;
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

std::string to_hex(const uint8_t *bytes, std::size_t n, const char *sep) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        if (i) s += sep;
        std::snprintf(b, sizeof b, "%02X", bytes[i]);
        s += b;
    }
    return s;
}

int report_error(const char *what, int code) {
    errno = code;
    std::fprintf(stderr, "%s failed: error %d: %s / %s\n", what, code, sys_strerror(), sys_strerror_ch(code));
    return 1;
}

bool open_reader(const Options &opt) {
    std::string path = opt.device;
    if (opt.sim) {
        path = start_simulator(opt);
        if (path.empty()) {
            std::fprintf(stderr, "could not start the simulator\n");
            return false;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "no reader: give --device PATH or --sim\n");
        return false;
    }
    // The serial driver comes with the first family; a second-family reader
    // on a serial line is registered over it.
    picc_regapi(0xAA);
    if (opt.family == 2) picc_regapi(0x55);
    if (virt_com_open("uart", 0, nullptr, path.c_str()) != 0) {
        report_error("open", errno);
        return false;
    }
    return true;
}

void close_reader() {
    virt_com_close();
    if (g_sim_pid > 0) {
        kill(g_sim_pid, SIGTERM);
        waitpid(g_sim_pid, nullptr, 0);
        g_sim_pid = -1;
    }
}

}  // namespace cli
