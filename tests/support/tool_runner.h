// Running the command-line tool as a program in tests: its outcome
// (status, standard output and error), a scratch directory for its files,
// and the simulator program with its control channel on a pipe, so that a
// test places cards, runs the tool against the simulator's device and
// looks at the card afterwards.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

extern char **environ;

namespace vrtest {

inline const std::string kTool = std::string(VR_BINARY_DIR) + "/bin/vantel-rfid";
inline const std::string kSimulator = std::string(VR_BINARY_DIR) + "/bin/vantel-rfid-sim";

struct ProgramOutcome {
    int status = -1;
    std::string out, err;
    bool has_out(const std::string &piece) const { return out.find(piece) != std::string::npos; }
    bool has_err(const std::string &piece) const { return err.find(piece) != std::string::npos; }
};

inline std::string slurp(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A scratch directory for dump files and captured output.
class ScratchDir {
public:
    ScratchDir() {
        dir_ = std::filesystem::temp_directory_path() /
               ("vr_cli_" + std::to_string(getpid()) + "_" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
    }
    ~ScratchDir() { std::filesystem::remove_all(dir_); }
    std::string operator/(const std::string &name) const { return (dir_ / name).string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path dir_;
};

// Runs the program `command[0]` (searched on the PATH when it has no
// slash) with the environment `envp`; standard output and error are
// captured in the scratch directory. With `terminal`, standard error goes to
// that terminal instead; standard input comes from the file `input`.
inline ProgramOutcome run_program(std::vector<std::string> command, char *const *envp, const ScratchDir &scratch,
                                  const std::string &terminal = {}, const std::string &input = "/dev/null") {
    const std::string out = scratch / "stdout", err = terminal.empty() ? scratch / "stderr" : terminal;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char *> argv;
    for (auto &a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ProgramOutcome o;
    if (posix_spawnp(&pid, command[0].c_str(), &fa, nullptr, argv.data(), envp) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&fa);
    o.out = slurp(out);
    if (terminal.empty()) o.err = slurp(err);
    return o;
}

// Runs the tool with the arguments in this process's environment (see
// run_program).
inline ProgramOutcome run_tool(const std::vector<std::string> &args, const ScratchDir &scratch,
                               const std::string &terminal = {}, const std::string &input = "/dev/null") {
    std::vector<std::string> command{kTool};
    command.insert(command.end(), args.begin(), args.end());
    return run_program(std::move(command), environ, scratch, terminal, input);
}

// The simulator program with its control channel on a pipe; its first
// line is the path of the reader's line.
class SimProgram {
public:
    bool start() {
        if (!child_.start(kSimulator)) return false;
        const auto first = child_.line(std::chrono::seconds(5));
        if (!first) return false;
        path_ = *first;
        return true;
    }

    const std::string &path() const { return path_; }

    // Sends one control line; its one-line answer.
    std::string ask(const std::string &command) {
        return child_.ask(command, std::chrono::seconds(5)).value_or("error: no answer");
    }

private:
    ChildProcess child_;
    std::string path_;
};

}  // namespace vrtest
