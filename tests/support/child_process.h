// A program run as a child process with pipes on its standard input and
// output: lines are sent and read back with time-outs, and the child is
// killed and reaped when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "pty.h"

namespace vrtest {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts program with the arguments; false when it cannot be spawned.
    bool start(const std::string &program, const std::vector<std::string> &args = {});

    // The next line the child writes (without its newline), or nothing when
    // none comes within the time-out or the child's output ends.
    std::optional<std::string> line(std::chrono::milliseconds timeout = std::chrono::seconds(3));
    // Sends one line and returns the child's one-line answer.
    std::optional<std::string> ask(const std::string &command,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(3));

    void close_input();
    void signal(int sig);
    // The exit status (128 + the signal number for a child a signal ended),
    // or -1 when the child is still running after the time-out.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    pid_t pid_ = -1;
    vrsim::UniqueFd to_, from_;
    std::string buffered_;
};

}  // namespace vrtest
