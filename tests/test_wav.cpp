// WAV files: the header record's bytes in both layouts, reading hostile
// files, and playing and recording files through the audio layer (the
// virtual line, whose far end stands for the headset).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/backend.h"
#include "audio/line.h"
#include "wav.h"

namespace {

using Bytes = std::vector<uint8_t>;

void le16(Bytes &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(Bytes &b, uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
void tag(Bytes &b, const char *t) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(t[i]));
}

// A file built chunk by chunk, so that each case can spoil one field.
struct FileShape {
    uint32_t riff_extra = 0;   // added to the true RIFF size
    uint16_t format = 1;
    uint16_t channels = 2;
    uint16_t bits = 16;
    uint32_t fmt_size = 16;
    bool fact = false;
    bool list_chunk = false;   // an unknown chunk before the data
    uint32_t data_extra = 0;   // added to the true data size
    std::size_t data_bytes = 8;
    bool data_chunk = true;
};

Bytes build(const FileShape &f) {
    Bytes b;
    tag(b, "RIFF");
    le32(b, 0);
    tag(b, "WAVE");
    tag(b, "fmt ");
    le32(b, f.fmt_size);
    le16(b, f.format);
    le16(b, f.channels);
    le32(b, 44100);
    le32(b, 44100u * f.channels * f.bits / 8);
    le16(b, static_cast<uint16_t>(f.channels * f.bits / 8));
    le16(b, f.bits);
    // Extra format bytes, unless the size is a lie the file does not back.
    if (f.fmt_size > 16 && f.fmt_size < 64) b.resize(b.size() + f.fmt_size - 16, 0xEE);
    if (f.fact) {
        tag(b, "fact");
        le32(b, 4);
        le32(b, 2);
    }
    if (f.list_chunk) {
        tag(b, "LIST");
        le32(b, 3);  // odd: a pad byte follows
        b.insert(b.end(), {'a', 'b', 'c', 0});
    }
    if (f.data_chunk) {
        tag(b, "data");
        le32(b, static_cast<uint32_t>(f.data_bytes) + f.data_extra);
        for (std::size_t i = 0; i < f.data_bytes; ++i) b.push_back(static_cast<uint8_t>(i + 1));
    }
    const uint32_t riff = static_cast<uint32_t>(b.size() - 8) + f.riff_extra;
    std::memcpy(&b[4], &riff, 4);
    return b;
}

class WavFiles : public testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("vr_wav_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string put(const Bytes &bytes, const char *name = "f.wav") {
        const std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static Bytes contents(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir;
};

wav_header filled(int layout) {
    wav_header h;
    wav_file_init_header(&h, layout);
    EXPECT_EQ(wav_file_set_channels(&h, 2), 0);
    EXPECT_EQ(wav_file_set_rate(&h, 44100), 0);
    EXPECT_EQ(wav_file_set_bps(&h, 176400), 0);
    EXPECT_EQ(wav_file_set_ssize(&h, 4), 0);
    EXPECT_EQ(wav_file_set_precision(&h, 16), 0);
    EXPECT_EQ(wav_file_set_dsize(&h, 0x01020304), 0);
    EXPECT_EQ(wav_file_set_fsize(&h, 0x01020304 + 44), 0);
    return h;
}

}  // namespace

TEST_F(WavFiles, HeadersOfBothLayoutsAreWrittenByteForByte) {
    const Bytes format = {'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0,
                          0x10, 0xB1, 2, 0, 4, 0, 16, 0};
    const Bytes riff = {'R', 'I', 'F', 'F', 0x28, 0x03, 0x02, 0x01, 'W', 'A', 'V', 'E'};
    const Bytes data_head = {'d', 'a', 't', 'a', 0x04, 0x03, 0x02, 0x01};
    Bytes plain = riff;
    plain.insert(plain.end(), format.begin(), format.end());
    plain.insert(plain.end(), data_head.begin(), data_head.end());
    Bytes fact = riff;
    fact.insert(fact.end(), format.begin(), format.end());
    fact.insert(fact.end(), {'f', 'a', 'c', 't', 4, 0, 0, 0, 0, 0, 0, 0});
    fact.insert(fact.end(), data_head.begin(), data_head.end());

    for (const auto &[layout, expected] : {std::pair{WAV_LAYOUT_PLAIN, plain}, std::pair{WAV_LAYOUT_FACT, fact}}) {
        SCOPED_TRACE(layout);
        const wav_header h = filled(layout);
        ASSERT_EQ(wav_file_header_size(&h), static_cast<int>(expected.size()));
        const std::string path = (dir / "h.wav").string();
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(wav_file_set_header(fd, &h), 0);
        close(fd);
        EXPECT_EQ(contents(path), expected);
        EXPECT_EQ(wav_file_get_fsize(&h), 0x01020304 + 44);
        EXPECT_EQ(wav_file_get_dsize(&h), 0x01020304);
        EXPECT_EQ(wav_file_get_rate(&h), 44100);
        EXPECT_EQ(wav_file_get_bps(&h), 176400);
        EXPECT_EQ(wav_file_get_ssize(&h), 4);
        EXPECT_EQ(wav_file_get_precision(&h), 16);
        EXPECT_EQ(wav_file_get_channels(&h), 2);
    }
}

TEST_F(WavFiles, AnUnknownLayoutWordRefusesEveryField) {
    wav_header h = filled(WAV_LAYOUT_PLAIN);
    h.layout = 2;
    EXPECT_EQ(wav_file_header_size(&h), -1);
    EXPECT_EQ(wav_file_set_dsize(&h, 1), -1);
    EXPECT_EQ(wav_file_set_rate(&h, 1), -1);
    EXPECT_EQ(wav_file_get_fsize(&h), -1);
    EXPECT_EQ(wav_file_get_dsize(&h), -1);
    EXPECT_EQ(wav_file_get_channels(&h), -1);
    EXPECT_EQ(wav_file_set_header(0, &h), -1);
}

TEST_F(WavFiles, ReadsWhatItWritesAndFilesOfOtherWriters) {
    struct Case {
        const char *name;
        FileShape shape;
        int layout;
    };
    const Case cases[] = {
        {"plain", {}, WAV_LAYOUT_PLAIN},
        {"fact chunk", {.fact = true}, WAV_LAYOUT_FACT},
        {"long format chunk", {.fmt_size = 18}, WAV_LAYOUT_PLAIN},
        {"unknown chunk before the data", {.list_chunk = true}, WAV_LAYOUT_PLAIN},
        {"8-bit mono", {.channels = 1, .bits = 8}, WAV_LAYOUT_PLAIN},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file = build(c.shape);
        wav_header h;
        const int fd = wav_file_open(put(file).c_str(), &h);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(h.layout, c.layout);
        EXPECT_EQ(wav_file_get_dsize(&h), 8);
        EXPECT_EQ(wav_file_get_fsize(&h), static_cast<int64_t>(file.size()));
        EXPECT_EQ(wav_file_get_channels(&h), c.shape.channels);
        EXPECT_EQ(wav_file_get_precision(&h), c.shape.bits);
        // The descriptor stands at the first sample.
        uint8_t first = 0;
        EXPECT_EQ(read(fd, &first, 1), 1);
        EXPECT_EQ(first, 1);
        close(fd);
    }
}

TEST_F(WavFiles, RefusesFilesItCannotTrust) {
    struct Case {
        const char *name;
        Bytes file;
    };
    Bytes not_riff = build({});
    not_riff[0] = 'X';
    Bytes not_wave = build({});
    not_wave[8] = 'X';
    const Case cases[] = {
        {"not RIFF", not_riff},
        {"not WAVE", not_wave},
        {"too short for a head", Bytes{'R', 'I', 'F', 'F', 4, 0}},
        {"RIFF size beyond the file", build({.riff_extra = 1})},
        {"data size beyond the file", build({.data_extra = 1})},
        {"data size near 4 GiB", build({.data_extra = 0xFFFFFFF0u})},
        {"format chunk size beyond the file", build({.fmt_size = 0x7FFFFFF0u, .data_chunk = false})},
        {"format chunk too short", build({.fmt_size = 14})},
        {"not PCM", build({.format = 3})},
        {"24-bit samples", build({.bits = 24})},
        {"no channels", build({.channels = 0})},
        {"no data chunk", build({.data_chunk = false})},
        {"empty file", Bytes{}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        wav_header h;
        errno = 0;
        EXPECT_EQ(wav_file_open(put(c.file).c_str(), &h), -1);
        EXPECT_EQ(errno, -41);
    }
}

// ---- playing and recording through the virtual line

class WavOnTheLine : public WavFiles {
protected:
    void SetUp() override {
        WavFiles::SetUp();
        ASSERT_TRUE(vr::audio::select("line"));
        ASSERT_TRUE(vr::audio::line::attach({}));
    }
    void TearDown() override {
        vr::audio::line::detach();
        WavFiles::TearDown();
    }
};

TEST_F(WavOnTheLine, PlaysEverySampleOfAFileInOrder) {
    // 2000 stereo frames: not a whole number of the player's chunks.
    constexpr int kFrames = 2000;
    FileShape shape{.data_bytes = 0};
    Bytes file = build(shape);
    file.resize(file.size() - 8);  // rebuild the data chunk by hand
    tag(file, "data");
    le32(file, kFrames * 4);
    for (int i = 0; i < kFrames * 2; ++i) le16(file, static_cast<uint16_t>(i * 3 + 1));
    const uint32_t riff = static_cast<uint32_t>(file.size() - 8);
    std::memcpy(&file[4], &riff, 4);
    const std::string path = put(file);

    std::vector<int16_t> heard;
    std::atomic<bool> done{false};
    std::thread far([&] {
        int16_t chunk[2 * 256];
        while (!done) {
            if (vr::audio::line::far_read(chunk, 256) < 0) return;
            heard.insert(heard.end(), chunk, chunk + 2 * 256);
        }
    });
    EXPECT_EQ(android_play_wav(path.c_str()), 0);
    // The rest drains while the far end goes on.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    done = true;
    vr::audio::line::detach();
    far.join();
    const auto start = std::find_if(heard.begin(), heard.end(), [](int16_t s) { return s != 0; });
    ASSERT_GE(heard.end() - start, kFrames * 2);
    for (int i = 0; i < kFrames * 2; ++i)
        ASSERT_EQ(static_cast<uint16_t>(start[i]), static_cast<uint16_t>(i * 3 + 1)) << "sample " << i;
}

TEST_F(WavOnTheLine, RecordsAnUnbrokenStretchAndAHeaderThatCountsIt) {
    std::atomic<bool> done{false};
    std::thread far([&] {
        // A counting signal: any lost or repeated sample breaks the count.
        int16_t chunk[441];
        uint16_t next = 0;
        while (!done) {
            for (int16_t &s : chunk) s = static_cast<int16_t>(next++);
            if (vr::audio::line::far_write(chunk, 441) < 0) return;
        }
    });
    const std::string path = (dir / "rec.wav").string();
    EXPECT_EQ(android_record_file(path.c_str(), 0, 1, 0), 0);
    done = true;
    vr::audio::line::detach();
    far.join();

    wav_header h;
    const int fd = wav_file_open(path.c_str(), &h);
    ASSERT_GE(fd, 0);
    close(fd);
    const Bytes file = contents(path);
    EXPECT_EQ(wav_file_get_fsize(&h), static_cast<int64_t>(file.size()));
    EXPECT_EQ(wav_file_get_dsize(&h), static_cast<int64_t>(file.size()) - 44);
    EXPECT_EQ(wav_file_get_rate(&h), 44100);
    EXPECT_EQ(wav_file_get_channels(&h), 1);
    ASSERT_GT(file.size(), 44u + 2 * 4410);  // a second's recording, loosely
    for (std::size_t at = 46; at + 1 < file.size(); at += 2) {
        const auto previous = static_cast<uint16_t>(file[at - 2] | file[at - 1] << 8);
        const auto current = static_cast<uint16_t>(file[at] | file[at + 1] << 8);
        ASSERT_EQ(current, static_cast<uint16_t>(previous + 1)) << "at byte " << at;
    }
}

TEST_F(WavFiles, RefusesOtherFileTypesAndUnwritablePaths) {
    const std::string path = put(build({}));
    EXPECT_EQ(android_play_file(path.c_str(), 1, 0), -1);
    EXPECT_EQ(android_record_file((dir / "x.wav").c_str(), 0x101, 1, 0), -1);
    ASSERT_TRUE(vr::audio::select("line"));
    EXPECT_EQ(android_record_file((dir / "no" / "such" / "dir.wav").c_str(), 0, 1, 0), -1);
}
