// The `modem` command's captures: see modem_capture.h.
#include "modem_capture.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <vector>

#include "audio.h"
#include "cli.h"
#include "modem/capture.h"
#include "modem/device.h"
#include "suart.h"
#include "suart_signal.h"
#include "wav.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;

// The first channel of a WAV file as 16-bit samples.
std::optional<std::vector<int16_t>> read_capture(const std::string &path) {
    wav_header h;
    const int fd = wav_file_open(path.c_str(), &h);
    if (fd < 0) {
        std::fprintf(stderr, "%s: not a WAV file the tool reads (%s)\n", path.c_str(), error_text(errno).c_str());
        return std::nullopt;
    }
    const auto channels = static_cast<std::size_t>(wav_file_get_channels(&h));
    const auto bits = wav_file_get_precision(&h);
    std::vector<uint8_t> data(static_cast<std::size_t>(wav_file_get_dsize(&h)));
    const ssize_t got = read(fd, data.data(), data.size());
    close(fd);
    if (got != static_cast<ssize_t>(data.size()) || wav_file_get_rate(&h) != kRate) {
        std::fprintf(stderr, "%s: needs %d Hz samples, whole\n", path.c_str(), kRate);
        return std::nullopt;
    }
    const std::size_t frame = channels * static_cast<std::size_t>(bits / 8);
    std::vector<int16_t> samples(data.size() / frame);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const uint8_t *p = &data[i * frame];
        samples[i] = bits == 8 ? static_cast<int16_t>((p[0] - 128) * 256) : static_cast<int16_t>(p[0] | p[1] << 8);
    }
    return samples;
}

std::string hex(const std::vector<uint8_t> &bytes) {
    std::string s;
    char b[4];
    for (uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%02X ", v);
        s += b;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

// A lobe as the display slices it: where it starts and ends (samples) and
// its symbol.
struct Pulse {
    std::size_t start, end;
    char symbol;
};

// Half-cycles of the filtered signal around its mean, each named short or
// long by the calibrated widths; the display's view, not the decoder's.
std::vector<Pulse> pulses(const std::vector<int16_t> &filtered, int short_width, int long_width) {
    std::vector<Pulse> out;
    if (filtered.empty()) return out;
    const double mean = std::accumulate(filtered.begin(), filtered.end(), 0.0) / static_cast<double>(filtered.size());
    const double split = (short_width + long_width) / 2.0;
    bool high = filtered[0] > mean;
    std::size_t start = 0;
    for (std::size_t i = 1; i < filtered.size(); ++i) {
        if ((filtered[i] > mean) == high) continue;
        const auto width = static_cast<double>(i - start);
        out.push_back({start, i, width > split ? 'L' : 'S'});
        start = i;
        high = !high;
    }
    return out;
}

bool write_file(const fs::path &path, const std::string &text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}

// Runs gnuplot on a script; 0 when it drew the picture.
int run_gnuplot(const fs::path &script, const std::string &png) {
    const std::string command = "gnuplot " + script.string();
    if (std::system(command.c_str()) != 0 || !fs::exists(png)) {
        std::fprintf(stderr, "gnuplot could not draw %s (is gnuplot installed?)\n", png.c_str());
        return 1;
    }
    std::printf("%s\n", png.c_str());
    return 0;
}

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vantel-plot-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    [[nodiscard]] const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

std::string ms(std::size_t sample) { return std::to_string(1000.0 * static_cast<double>(sample) / kRate); }

}  // namespace

int modem_record(const std::string &path, int seconds) {
    if (android_record_file(path.c_str(), 0, seconds, 0) != 0) {
        std::fprintf(stderr, "cannot record %s\n", path.c_str());
        return 1;
    }
    std::printf("%s: %d s recorded\n", path.c_str(), seconds);
    return 0;
}

int modem_play(const std::string &path) {
    if (android_play_file(path.c_str(), 0, 0) != 0) {
        std::fprintf(stderr, "cannot play %s\n", path.c_str());
        return 1;
    }
    return 0;
}

// The capture at path and what the demodulator makes of it; nothing (said
// on standard error) when it cannot be read or holds no carrier to
// calibrate on.
std::optional<std::vector<int16_t>> decoded_capture(const std::string &path, vr::modem::CaptureDecode &d) {
    auto samples = read_capture(path);
    if (!samples) return std::nullopt;
    suart_init(0);
    if (!vr::modem::decode_capture(samples->data(), samples->size(), d)) {
        std::fprintf(stderr, "%s: too short, or no carrier to calibrate on\n", path.c_str());
        return std::nullopt;
    }
    return samples;
}

int modem_decode(const std::string &path) {
    vr::modem::CaptureDecode d;
    const auto samples = decoded_capture(path, d);
    if (!samples) return 1;
    const auto longs = std::count(d.symbols.begin(), d.symbols.end(), 'L');
    std::printf("samples %zu (%.3f s)\nlevel %d, lobe widths %d / %d samples\n", samples->size(),
                static_cast<double>(samples->size()) / kRate, d.level_mid, d.short_width, d.long_width);
    std::printf("symbols %zu: %zu short, %ld long\n", d.symbols.size(), d.symbols.size() - static_cast<std::size_t>(longs),
                static_cast<long>(longs));
    std::printf("bytes %zu: %s\n", d.bytes.size(), hex(d.bytes).c_str());
    return 0;
}

int modem_plot(const std::string &path, const std::string &png) {
    vr::modem::CaptureDecode d;
    const auto samples = decoded_capture(path, d);
    if (!samples) return 1;
    std::vector<int16_t> filtered = *samples;
    signal_band_filter(filtered.data(), static_cast<int>(filtered.size()));
    const auto found = pulses(filtered, d.short_width, d.long_width);

    TempDir dir;
    if (dir.path().empty()) return 1;
    std::string signal, shorts, longs, labels;
    for (std::size_t i = 0; i < samples->size(); ++i)
        signal += ms(i) + " " + std::to_string((*samples)[i]) + " " + std::to_string(filtered[i]) + "\n";
    for (const Pulse &p : found) {
        const std::string line = ms(p.start) + " " + ms(p.end) + "\n";
        (p.symbol == 'L' ? longs : shorts) += line;
    }
    // The decoded bytes, each written over the start lobe of a byte as the
    // display's own framing finds it.
    std::string symbols;
    for (const Pulse &p : found) symbols += p.symbol;
    std::size_t at = 0, byte = 0;
    while (at + 8 < symbols.size() && byte < d.bytes.size()) {
        if (symbols[at] != 'L') {
            ++at;
            continue;
        }
        char text[8];
        std::snprintf(text, sizeof text, "%02X", d.bytes[byte++]);
        labels += "set label \"" + std::string(text) + "\" at " + ms(found[at].start) +
                  ", graph 0.95 center font \",8\"\n";
        at += 9;
    }
    const fs::path script = dir.path() / "plot.gp";
    const std::string gp =
        "set terminal png size 1600,600\nset output '" + png + "'\n" +
        "set title \"" + path + ": " + std::to_string(d.bytes.size()) + " bytes decoded\"\n"
        "set xlabel 'time (ms)'\nset ylabel 'sample'\nset key outside right\n" + labels +
        "plot '" + (dir.path() / "signal.dat").string() + "' using 1:2 with lines lc 'grey' title 'capture', \\\n"
        "  '' using 1:3 with lines lc 'black' title 'filtered', \\\n"
        "  '" + (dir.path() / "short.dat").string() + "' using 1:(-3000):1:2:(-3000):(-3000) with xyerrorbars"
        " lc 'blue' pt -1 title 'short lobe', \\\n"
        "  '" + (dir.path() / "long.dat").string() + "' using 1:(-4000):1:2:(-4000):(-4000) with xyerrorbars"
        " lc 'red' pt -1 title 'long lobe'\n";
    if (!write_file(dir.path() / "signal.dat", signal) || !write_file(dir.path() / "short.dat", shorts + "\n") ||
        !write_file(dir.path() / "long.dat", longs + "\n") || !write_file(script, gp))
        return 1;
    return run_gnuplot(script, png);
}

int modem_plot_spectrum(const std::string &png) {
    int spectrum[SUART_WIDTH_MAX + 1] = {};
    if (signal_system_function(spectrum) != 0) {
        std::fprintf(stderr, "the uplink spectrum could not be measured\n");
        return 1;
    }
    int start = 0, end = 0;
    vr::modem::band_of_spectrum(spectrum, start, end);
    const int chosen = signal_carrier_freq(start, end);
    TempDir dir;
    if (dir.path().empty()) return 1;
    std::string data;
    for (int i = 0; i <= SUART_WIDTH_MAX - SUART_WIDTH_MIN; ++i)
        data += std::to_string(signal_width2freq(SUART_WIDTH_MAX - i)) + " " + std::to_string(spectrum[i]) + "\n";
    const fs::path script = dir.path() / "spectrum.gp";
    std::string gp = "set terminal png size 1000,500\nset output '" + png + "'\n"
                     "set title 'uplink spectrum'\nset xlabel 'carrier (Hz)'\nset ylabel 'feature'\nset logscale x\n"
                     "set xrange [900:12000]\n";
    if (start > 0 && end > 0)
        gp += "set object 1 rect from " + std::to_string(std::min(start, end)) + ", graph 0 to " +
              std::to_string(std::max(start, end)) + ", graph 1 fc rgb '#ddeeff' behind\n";
    if (chosen > 0)
        gp += "set arrow from " + std::to_string(chosen) + ", graph 0 to " + std::to_string(chosen) +
              ", graph 1 nohead lc 'red'\nset label 'chosen " + std::to_string(chosen) + " Hz' at " +
              std::to_string(chosen) + ", graph 0.95\n";
    gp += "plot '" + (dir.path() / "spectrum.dat").string() + "' using 1:2 with linespoints title 'measured'\n";
    if (!write_file(dir.path() / "spectrum.dat", data) || !write_file(script, gp)) return 1;
    return run_gnuplot(script, png);
}

}  // namespace cli
