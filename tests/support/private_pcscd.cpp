#include "private_pcscd.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

extern char **environ;

namespace vrtest {
namespace {

namespace fs = std::filesystem;

// Sanitizer runtimes the driver was built with must be loaded first into
// pcscd, which is not built with them.
#ifdef VR_PCSCD_PRELOAD
constexpr const char *kPreload = VR_PCSCD_PRELOAD;
#else
constexpr const char *kPreload = "";
#endif

// How the script starts pcscd: the runtimes go to pcscd alone (the shell
// and mount may not run with them).
std::string pcscd_command(const std::string &extra_preload = "") {
    std::string command = "exec ";
    // pcscd's own allocations outlive it by design. It is not instrumented,
    // and the thread checker cannot follow its threads (they end inside
    // code it ignores): in that build the driver runs there unchecked, and
    // the tests' own process (simulator, client) is still checked.
    std::string preload = kPreload;
    if (!extra_preload.empty()) preload += (preload.empty() ? "" : ":") + extra_preload;
    if (!preload.empty()) command += "env LD_PRELOAD=" + preload + " ";
    if (*kPreload) {
        command += "ASAN_OPTIONS=detect_leaks=0 ";
        if (std::string_view(kPreload).find("tsan") != std::string_view::npos)
            command += "TSAN_OPTIONS=report_bugs=0:exitcode=0 ";
    }
    return command + "pcscd";
}

bool accepts_connections(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// The client library takes the socket's path once per process: every
// daemon of a process lives in the same directory (one at a time).
std::string process_directory() {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/vr-pcscd-XXXXXX";
        return std::string(::mkdtemp(tmpl) ? tmpl : "");
    }();
    return dir;
}

// Where pcscd looks for bundles (fixed when it was built).
constexpr const char *kDriversDir = "/usr/lib/pcsc/drivers";

}  // namespace

bool PrivatePcscd::make_directory() {
    dir_ = process_directory();
    if (dir_.empty()) {
        error_ = "mkdtemp failed";
        return false;
    }
    fs::create_directories(dir_ + "/run");
    return true;
}

bool PrivatePcscd::start(const std::string &device_name, const std::string &driver) {
    if (!make_directory()) return false;
    const std::string conf = dir_ + "/reader.conf";
    std::ofstream(conf) << "FRIENDLYNAME \"Vantel Test Reader\"\nDEVICENAME " << device_name << "\nLIBPATH " << driver
                        << "\n";
    return spawn("mount -n --bind " + dir_ + "/run /run && " + pcscd_command() +
                 " --foreground --debug --apdu --config " + conf);
}

bool PrivatePcscd::start_hotplug(const std::string &drivers, const std::string &preload) {
    if (!make_directory()) return false;
    // No reader.conf entries: an empty configuration directory.
    fs::create_directories(dir_ + "/conf.d");
    return spawn("mount -n --bind " + dir_ + "/run /run && mkdir -p " + kDriversDir + " && mount -n --bind " + drivers +
                 " " + kDriversDir + " && " +
                 pcscd_command(preload) + " --foreground --debug --apdu --config " + dir_ + "/conf.d");
}

bool PrivatePcscd::spawn(const std::string &script) {
    std::vector<std::string> args{"unshare", "--mount", "--propagation", "private", "sh", "-c", script};
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string log_path = dir_ + "/pcscd.log";
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int rc = ::posix_spawnp(&pid_, "unshare", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        pid_ = -1;
        error_ = "cannot spawn unshare";
        return false;
    }
    const std::string socket = dir_ + "/run/pcscd/pcscd.comm";
    ::setenv("PCSCLITE_CSOCK_NAME", socket.c_str(), 1);
    // Ready once its socket takes connections (about 0.1 s): the file
    // exists a moment before the daemon listens on it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepts_connections(socket)) {
        if (!running() || std::chrono::steady_clock::now() > deadline) {
            error_ = "pcscd did not start:\n" + log();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool PrivatePcscd::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
}

int PrivatePcscd::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGINT);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string PrivatePcscd::log() const {
    std::ifstream in(dir_ + "/pcscd.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

std::size_t count_of(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

}  // namespace

bool PrivatePcscd::driver_closes_returned() const {
    // pcscd logs the first before it closes the driver's channel, the
    // second once the close has returned and it lets the driver go.
    const std::string text = log();
    return count_of(text, "RFUnInitializeReader") == count_of(text, "RFUnloadReader");
}

bool PrivatePcscd::stop_cleanly(std::chrono::milliseconds grace) {
    const int status = stop(grace);
    return status == 0 || status == 1 || (status == -1 && driver_closes_returned());
}

PrivatePcscd::~PrivatePcscd() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
}

}  // namespace vrtest
