#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <climits>
#include <cstring>
#include <string>

#include "cli.h"
#include "picc.h"
#include "sys.h"
#include "tessil.h"
#include "uart.h"
#include "virt_com.h"

namespace cli {
namespace {

pid_t g_sim_pid = -1;
// The write end of the simulator's control channel; the tool ends the
// simulator with a signal when it closes the reader.
int g_sim_control = -1;
std::string g_reader_path;

constexpr int kSimReplyTimeoutMs = 5000;

std::string sibling_program(const char *name) {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string("./x");
    dir = dir.substr(0, dir.rfind('/') + 1);
    return dir + name;
}

// One line from the simulator's output; false on its end or a time-out.
bool read_line(int fd, std::string &line) {
    line.clear();
    char c;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kSimReplyTimeoutMs) <= 0) return false;
        if (read(fd, &c, 1) != 1) return false;
        if (c == '\n') return true;
        line.push_back(c);
    }
}

void exec_simulator(const Options &opt, int in[2], int out[2]) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    const std::string program = sibling_program("vantel-rfid-sim");
    std::vector<std::string> args{program, "--family", std::to_string(opt.family)};
    if (opt.sound) args.emplace_back("--audio");
    args.insert(args.end(), opt.sim_args.begin(), opt.sim_args.end());
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Sends each control line and checks its answer ("ok ..." or "error: ...").
bool send_sim_control(const Options &opt, int replies) {
    for (const std::string &line : opt.sim_control) {
        const std::string text = line + "\n";
        std::string answer;
        if (write(g_sim_control, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            !read_line(replies, answer)) {
            std::fprintf(stderr, "simulator control \"%s\": no answer\n", line.c_str());
            return false;
        }
        if (answer.rfind("error", 0) == 0) {
            std::fprintf(stderr, "simulator control \"%s\": %s\n", line.c_str(), answer.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

// Starts the simulator program, reads the pseudo-terminal path it prints on
// its first line and sends it the control lines of the options.
std::string start_simulator_program(const Options &opt) {
    // A simulator that ends early must not end the tool through SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int in[2], out[2];
    if (pipe(in) != 0) return {};
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return {};
    }
    pid_t pid = fork();
    if (pid == 0) exec_simulator(opt, in, out);
    close(in[0]);
    close(out[1]);
    g_sim_pid = pid;
    g_sim_control = in[1];
    std::string path;
    const bool ok = pid > 0 && read_line(out[0], path) && send_sim_control(opt, out[0]);
    close(out[0]);
    return ok ? path : std::string();
}

namespace {

// What to do about a device the system would not open.
std::string open_advice(const std::string &path, int error) {
    switch (error) {
    case ENOENT: return " (vantel-rfid ports lists the serial ports)";
    case EBUSY: return " (another program has it open)";
    case EACCES:
    case EPERM: {
        struct stat st {};
        const group *g = ::stat(path.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
        const std::string name = g ? g->gr_name : "dialout";
        return "; the device belongs to group " + name + ": join it (sudo usermod -aG " + name +
               " $USER) and log in again";
    }
    default: return {};
    }
}

// Opens the device as the serial driver will, to say why it cannot be
// used in the system's words before the library tries it.
bool device_usable(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        std::fprintf(stderr, "cannot open %s: %s%s\n", path.c_str(), std::strerror(error),
                     open_advice(path, error).c_str());
        return false;
    }
    const bool terminal = isatty(fd) == 1;
    ::close(fd);
    if (!terminal) std::fprintf(stderr, "cannot use %s: not a serial device\n", path.c_str());
    return terminal;
}

// --baud and --timeout, once the port is open.
bool apply_line_settings(const Options &opt) {
    if (opt.baud) {
        int baud = opt.baud;
        if (virt_com_ioctl(UART_SET_BAUD, &baud) != 0) {
            report_error(("set the line to " + std::to_string(baud) + " baud").c_str(), errno);
            return false;
        }
    }
    if (opt.timeout_ms) tessil.s_com.timeout = opt.timeout_ms;
    return true;
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

std::optional<long> parse_number(const std::string &text, long min, long max) {
    if (text.empty()) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < min || v > max) return std::nullopt;
    return v;
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

std::string memory_line(int number, std::span<const uint8_t> bytes, bool readable) {
    char head[16];
    std::snprintf(head, sizeof head, "%3d  ", number);
    std::string line = head;
    std::string text;
    for (uint8_t b : bytes) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02X ", b);
        line += readable ? cell : "-- ";
        text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
    }
    return line + (readable ? " |" + text + "|" : " (unreadable)");
}

std::string error_text(int code) {
    errno = code;
    const std::string english = sys_strerror();
    return "error " + std::to_string(code) + ": " + english + " / " + sys_strerror_ch(code);
}

int report_error(const char *what, int code) {
    std::fprintf(stderr, "%s failed: %s\n", what, error_text(code).c_str());
    return 1;
}

namespace {

constexpr const char *kUsbTypes[] = {"usbhid", "ch340g", "ch9326", "pdiusbd12"};

// A reader on USB: found by its ids, or the device behind --usb-fd. The
// PDIUSBD12 attachment registers the second family itself.
// main refuses --usb beside --device or --sim, and --usb-fd without --usb.
bool open_usb_reader(const Options &opt) {
    picc_regapi(0xAA);
    if (opt.family == 2) picc_regapi(0x55);
    if (virt_com_open(opt.usb.c_str(), 0, opt.usb_fd, opt.usb_fd, nullptr) != 0) {
        report_error("open", errno);
        if (opt.usb_fd < 0)
            std::fprintf(stderr, "no %s device could be opened: `vantel-rfid usb list` shows the devices "
                                 "attached and whether you may open them\n",
                         opt.usb.c_str());
        return false;
    }
    // The line speed is the attachment's own business; the time-out is ours.
    if (opt.timeout_ms) tessil.s_com.timeout = opt.timeout_ms;
    return true;
}

}  // namespace

bool usb_type_known(const std::string &type) {
    for (const char *t : kUsbTypes)
        if (type == t) return true;
    return false;
}

bool open_reader(const Options &opt) {
    if (opt.sound) return open_sound(opt);
    if (!opt.usb.empty()) return open_usb_reader(opt);
    std::string path = opt.device;
    if (opt.sim) {
        path = start_simulator_program(opt);
        if (path.empty()) {
            std::fprintf(stderr, "could not start the simulator\n");
            return false;
        }
    }
    if (path.empty()) {
        std::fprintf(stderr, "no reader: give --device PATH (vantel-rfid ports lists the serial ports) or --sim\n");
        return false;
    }
    if (!opt.sim && !device_usable(path)) return false;
    // The serial driver comes with the first family; a second-family reader
    // on a serial line is registered over it.
    picc_regapi(0xAA);
    if (opt.family == 2) picc_regapi(0x55);
    if (virt_com_open("uart", 0, nullptr, path.c_str()) != 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), error_text(errno).c_str());
        return false;
    }
    g_reader_path = path;
    return apply_line_settings(opt);
}

const std::string &reader_path() { return g_reader_path; }

void close_reader() {
    close_sound();
    if (g_sim_control >= 0) {
        close(g_sim_control);
        g_sim_control = -1;
    }
    if (g_sim_pid > 0) {
        kill(g_sim_pid, SIGTERM);
        waitpid(g_sim_pid, nullptr, 0);
        g_sim_pid = -1;
    }
}

}  // namespace cli
