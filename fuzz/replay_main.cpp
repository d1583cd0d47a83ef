// Runs a fuzz target's entry function over files, without libFuzzer: the
// normal and sanitizer builds replay the seed corpus and the regression
// inputs this way. Arguments are files or directories (every regular file
// in them, in name order). Exit status 0 when every input ran; a crash or
// a sanitizer report ends the process as it would under the fuzzer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> inputs_of(const fs::path &arg) {
    std::vector<fs::path> files;
    if (fs::is_directory(arg)) {
        for (const auto &entry : fs::directory_iterator(arg))
            // Dot files (.gitkeep of an empty regression directory) are not inputs.
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(arg);
    }
    return files;
}

}  // namespace

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    int ran = 0;
    for (int i = 1; i < argc; ++i) {
        if (!fs::exists(argv[i])) {
            std::fprintf(stderr, "replay: no such input: %s\n", argv[i]);
            return 2;
        }
        for (const fs::path &file : inputs_of(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            // A private heap copy of exactly the input's size, so that any
            // read past its end is seen by the address sanitizer.
            auto *copy = new uint8_t[bytes.size()];
            std::copy(bytes.begin(), bytes.end(), copy);
            LLVMFuzzerTestOneInput(copy, bytes.size());
            delete[] copy;
            ++ran;
        }
    }
    std::printf("replay: %d inputs\n", ran);
    return ran > 0 ? 0 : 1;
}
