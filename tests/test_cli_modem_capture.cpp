// The tool's captures: `modem record`, `play`, `decode` and `plot` through
// the program itself, on files it writes and on a capture of a known
// uplink. The program under test is bin/vantel-rfid (see tool_runner.h).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "line_code.h"
#include "tool_runner.h"
#include "wav.h"

namespace {

using vrtest::run_tool;
using vrtest::ScratchDir;

// A mono WAV file of the reader's uplink carrying bytes.
void write_uplink(const std::string &path, const std::vector<uint8_t> &bytes) {
    vrsim::LineEncoder encoder;
    std::vector<int16_t> samples(44100 / 5);
    encoder.render(samples);
    encoder.queue(bytes);
    std::vector<int16_t> rest(bytes.size() * 14 * 8 + 4410);
    encoder.render(rest);
    samples.insert(samples.end(), rest.begin(), rest.end());

    wav_header h;
    wav_file_init_header(&h, WAV_LAYOUT_PLAIN);
    const auto data = static_cast<uint32_t>(samples.size() * 2);
    wav_file_set_channels(&h, 1);
    wav_file_set_rate(&h, 44100);
    wav_file_set_bps(&h, 88200);
    wav_file_set_ssize(&h, 2);
    wav_file_set_precision(&h, 16);
    wav_file_set_dsize(&h, data);
    wav_file_set_fsize(&h, 44 + data);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(wav_file_set_header(fd, &h), 0);
    ASSERT_EQ(write(fd, samples.data(), data), static_cast<ssize_t>(data));
    close(fd);
}

}  // namespace

TEST(CliModemCapture, DecodeShowsTheBytesAndPlotDrawsThem) {
    ScratchDir scratch;
    const std::string wav = scratch / "uplink.wav", png = scratch / "uplink.png";
    write_uplink(wav, {0x02, 0x00, 0x05, 0x0F, 0x02, 0xA5});
    const auto decoded = run_tool({"modem", "decode", wav}, scratch);
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_TRUE(decoded.has_out("bytes 6: 02 00 05 0F 02 A5")) << decoded.out;
    EXPECT_TRUE(decoded.has_out("lobe widths 4 / 8 samples")) << decoded.out;

    const auto plotted = run_tool({"modem", "plot", wav, "--output", png}, scratch);
    ASSERT_EQ(plotted.status, 0) << plotted.err;
    EXPECT_EQ(vrtest::slurp(png).substr(1, 3), "PNG");
}

TEST(CliModemCapture, RecordsAndPlaysOnTheSimulatedReader) {
    ScratchDir scratch;
    const std::string wav = scratch / "idle.wav";
    const auto recorded = run_tool({"--sound", "--sim", "modem", "record", wav, "1"}, scratch);
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    wav_header h;
    const int fd = wav_file_open(wav.c_str(), &h);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(wav_file_get_rate(&h), 44100);
    EXPECT_GT(wav_file_get_dsize(&h), 44100);  // a second at least of the idle carrier
    const auto played = run_tool({"--sound", "--sim", "modem", "play", wav}, scratch);
    EXPECT_EQ(played.status, 0) << played.err;
}

TEST(CliModemCapture, RefusesWhatItCannotUse) {
    ScratchDir scratch;
    const std::string junk = scratch / "junk.wav";
    {
        const int fd = open(junk.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_EQ(write(fd, "RIFF\x04\0\0\0WAVE", 12), 12);
        close(fd);
    }
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {{"modem", "decode", junk}, 1, "not a WAV file"},
        {{"modem", "decode", scratch / "missing.wav"}, 1, "not a WAV file"},
        {{"modem", "plot", junk}, 2, "--output"},
        {{"modem", "decode"}, 2, "needs a WAV file"},
        {{"--sound", "modem", "record", junk, "0"}, 2, "1 to 3600 seconds"},
        {{"modem", "record", junk}, 2, "--sound"},
    };
    for (const Case &c : cases) {
        const auto r = run_tool(c.args, scratch);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_TRUE(r.has_err(c.says)) << r.err;
    }
}

TEST(CliModemCapture, TheChannelTestDrawsTheSpectrumItMeasured) {
    ScratchDir scratch;
    const std::string png = scratch / "spectrum.png";
    const auto r = run_tool({"--sound", "--sim", "modem", "chantest", "fast", "--plot", png}, scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.has_out("best carrier")) << r.out;
    EXPECT_EQ(vrtest::slurp(png).substr(1, 3), "PNG");
}
