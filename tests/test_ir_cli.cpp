// The "ir" command of the command-line tool, called as the tool's
// dispatcher calls it, on waveform files in a scratch directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "../cli/cmd_ir.cpp"
#include "command_capture.h"

namespace {

namespace fs = std::filesystem;

using vrtest::Outcome;

Outcome run_ir(std::initializer_list<std::string> args) { return vrtest::run_command(cli_cmd_ir, "ir", args); }

class IrCli : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vr-ir-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string &name, const std::string &content) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    std::string read(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::string big_endian(std::initializer_list<unsigned> values) {
        std::string s;
        for (unsigned v : values) {
            s += static_cast<char>(v >> 8);
            s += static_cast<char>(v & 0xFF);
        }
        return s;
    }

    fs::path dir_;
};

TEST_F(IrCli, ConvertsBinaryAndTextWaveforms) {
    const std::string wave = big_endian({560, 565, 1690, 1680, 0});
    const std::string out_path = (dir_ / "out.bin").string();
    const Outcome binary = run_ir({"convert", file("wave.bin", wave), out_path});
    EXPECT_EQ(binary.status, 0) << binary.err;
    EXPECT_EQ(binary.out, "15154040\n");
    EXPECT_EQ(read(out_path), std::string("\x15\x15\x40\x40"));

    const Outcome text = run_ir({"convert", file("wave.txt", "560, 565\n1690 1680\t0\n")});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "15154040\n");

    const Outcome odd = run_ir({"convert", file("odd.bin", wave + "\x42")});
    EXPECT_EQ(odd.status, 0);
    EXPECT_EQ(odd.out, "15154040\n");
    EXPECT_NE(odd.err.find("odd byte count"), std::string::npos);
}

TEST_F(IrCli, ConvertRefusals) {
    std::string distinct;
    double d = 100;
    for (int i = 0; i < 33; ++i, d *= 1.2) distinct += std::to_string(static_cast<int>(d)) + " ";
    const struct {
        std::string content;
        const char *message;
    } cases[] = {
        {distinct, "more than 32 clusters"},
        {std::string(2050, '\0'), "the reader takes at most 1024"},
        {"560 70000", "exceeds 65535"},
        {[] {
             std::string s;
             for (int i = 0; i < 683; ++i) s += "10000 ";
             return s;
         }(),
         "the reader takes 2048"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const Outcome r = run_ir({"convert", file("bad" + std::to_string(n++), c.content)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(run_ir({"convert", (dir_ / "missing").string()}).status, 1);
}

TEST_F(IrCli, DecompressShowsValues) {
    const Outcome hex = run_ir({"decompress", "15FFFFFF012C"});
    EXPECT_EQ(hex.status, 0);
    EXPECT_EQ(hex.out, "21 255 300\n");
    EXPECT_EQ(hex.err, "");

    const Outcome raw = run_ir({"decompress", file("stream.bin", "\x15\xFF\xFF\xFF\x01\x2C")});
    EXPECT_EQ(raw.out, "21 255 300\n");
    const Outcome text = run_ir({"decompress", file("stream.txt", "15 ff ff\nff 01 2c\n")});
    EXPECT_EQ(text.out, "21 255 300\n");

    // What convert hands the reader lacks the last byte of the stream.
    const Outcome cut = run_ir({"decompress", "15FFFFFF01"});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.out, "21 255\n");
    EXPECT_NE(cut.err.find("last 2 byte(s)"), std::string::npos) << cut.err;
}

TEST_F(IrCli, UsageErrors) {
    for (auto args : {std::initializer_list<std::string>{}, {"convert"}, {"zip", "x"},
                      {"decompress"}, {"decompress", "not-hex"}}) {
        const Outcome r = run_ir(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
