// Runs one command function of the command-line tool in the test's own
// process, as the tool's dispatcher calls it, with its standard output and
// error captured.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace vrtest {

struct Outcome {
    int status;
    std::string out, err;
};

// argv[0] is the command's name, the arguments (texts) follow.
template <typename Text>
Outcome run_command(int (*command)(int argc, char **argv), const char *name, std::initializer_list<Text> args) {
    std::vector<std::string> storage{name};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &s : storage) argv.push_back(s.data());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = command(static_cast<int>(argv.size()), argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return {status, out, err};
}

}  // namespace vrtest
