#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace vrtest {

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in[0]);
    ::close(out[1]);
    to_.reset(in[1]);
    from_.reset(out[0]);
    if (rc != 0) pid_ = -1;
    return rc == 0;
}

std::optional<std::string> ChildProcess::line(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto nl = buffered_.find('\n'); nl != std::string::npos) {
            std::string l = buffered_.substr(0, nl);
            buffered_.erase(0, nl + 1);
            return l;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{from_.get(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
        char chunk[256];
        const ssize_t n = ::read(from_.get(), chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffered_.append(chunk, static_cast<size_t>(n));
    }
}

std::optional<std::string> ChildProcess::ask(const std::string &command, std::chrono::milliseconds timeout) {
    const std::string l = command + "\n";
    if (::write(to_.get(), l.data(), l.size()) != static_cast<ssize_t>(l.size())) return std::nullopt;
    return line(timeout);
}

void ChildProcess::close_input() { to_.reset(); }

void ChildProcess::signal(int sig) { ::kill(pid_, sig); }

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        // The child's end shows as end-of-file on its output pipe.
        pollfd p{from_.get(), POLLIN, 0};
        ::poll(&p, 1, 20);
        char sink[256];
        if (p.revents & POLLIN) (void)!::read(from_.get(), sink, sizeof sink);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vrtest
