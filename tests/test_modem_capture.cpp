// Decoding recorded uplinks offline: the receive side's calibration and
// demodulator over captured samples give back the bytes the reader sent,
// whether the samples come straight from the reader's encoder or through a
// WAV file recorded from the line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/backend.h"
#include "audio/line.h"
#include "line_code.h"
#include "modem/capture.h"
#include "suart.h"
#include "wav.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The reader's uplink: idle carrier, the bytes, idle carrier again.
std::vector<int16_t> uplink(const Bytes &bytes, double lead_seconds = 0.2) {
    vrsim::LineEncoder encoder;
    std::vector<int16_t> samples(static_cast<std::size_t>(44100 * lead_seconds));
    encoder.render(samples);
    encoder.queue(bytes);
    std::vector<int16_t> rest(static_cast<std::size_t>(bytes.size() * 14 * 8 + 44100 / 10));
    encoder.render(rest);
    samples.insert(samples.end(), rest.begin(), rest.end());
    return samples;
}

}  // namespace

TEST(ModemCapture, DecodesTheBytesOfAnEncodedUplink) {
    ASSERT_EQ(suart_init(0), 0);
    const Bytes cases[] = {
        {0x02, 0x00, 0x05, 0x0F, 0x02, 0xA5},
        {0x00, 0xFF, 0x55, 0xAA, 0x80, 0x01},
        Bytes(200, 0x3C),
    };
    for (const Bytes &sent : cases) {
        SCOPED_TRACE(sent.size());
        const auto samples = uplink(sent);
        vr::modem::CaptureDecode d;
        ASSERT_TRUE(vr::modem::decode_capture(samples.data(), samples.size(), d));
        EXPECT_EQ(d.bytes, sent) << d.symbols.size() << " symbols, level " << d.level_mid << " widths " << d.short_width << "/" << d.long_width << " " << d.symbols.substr(0, 80);
        EXPECT_GT(d.long_width, d.short_width);
    }
}

TEST(ModemCapture, TooShortACaptureCannotBeCalibrated) {
    ASSERT_EQ(suart_init(0), 0);
    const std::vector<int16_t> samples(1000, 0);
    vr::modem::CaptureDecode d;
    EXPECT_FALSE(vr::modem::decode_capture(samples.data(), samples.size(), d));
}

TEST(ModemCapture, FramesBytesAsTheReceiveSideDoes) {
    // Short symbols before a start are noise; a start without eight data
    // symbols after it is an unfinished byte.
    EXPECT_EQ(vr::modem::bytes_from_symbols("SSSL" "SSSSSSSS" "SSL" "LSSSSSSS"), (Bytes{0x00, 0xFF}));
    EXPECT_EQ(vr::modem::bytes_from_symbols("SSLSSS"), Bytes{});
}

TEST(ModemCapture, ARecordingOfTheLineDecodesToTheBytesSent) {
    ASSERT_EQ(suart_init(0), 0);
    ASSERT_TRUE(vr::audio::select("line"));
    ASSERT_TRUE(vr::audio::line::attach({}));
    const Bytes sent = {0x02, 0x00, 0x10, 0x0F, 0x02, 'c', 'a', 'p', 't', 'u', 'r', 'e'};
    std::atomic<bool> done{false};
    std::thread far([&] {
        // The reader repeats its message with idle carrier between.
        vrsim::LineEncoder encoder;
        int16_t chunk[441];
        int until_next = 0;
        while (!done) {
            if (until_next-- <= 0) {
                encoder.queue(sent);
                until_next = 20;
            }
            encoder.render(chunk);
            if (vr::audio::line::far_write(chunk, 441) < 0) return;
        }
    });
    const auto path = std::filesystem::temp_directory_path() / ("vr_capture_" + std::to_string(getpid()) + ".wav");
    const int rc = android_record_file(path.c_str(), 0, 1, 0);
    done = true;
    vr::audio::line::detach();
    far.join();
    ASSERT_EQ(rc, 0);

    wav_header h;
    const int fd = wav_file_open(path.c_str(), &h);
    ASSERT_GE(fd, 0);
    std::vector<int16_t> samples(static_cast<std::size_t>(wav_file_get_dsize(&h) / 2));
    ASSERT_EQ(read(fd, samples.data(), samples.size() * 2), static_cast<ssize_t>(samples.size() * 2));
    close(fd);
    std::filesystem::remove(path);

    vr::modem::CaptureDecode d;
    ASSERT_TRUE(vr::modem::decode_capture(samples.data(), samples.size(), d));
    // The recording starts and ends anywhere in the repeats: whole copies of
    // the message are found in the middle.
    const auto found = std::search(d.bytes.begin(), d.bytes.end(), sent.begin(), sent.end());
    ASSERT_NE(found, d.bytes.end()) << "decoded " << d.bytes.size() << " bytes";
    EXPECT_NE(std::search(found + 1, d.bytes.end(), sent.begin(), sent.end()), d.bytes.end());
}
