// The audio link's cost, at audio pace (the sample clock is real time):
//  - CPU of the modem's three threads while the link is open and idle, as
//    a share of one core (the reference is the wall time of the same run);
//  - a MIFARE 1K dump over the link: its wall time divided by the line time
//    of the bytes it moved (every request and reply byte's lobes at the
//    carrier in force), measured in the same run.
// Each runs on the virtual line (the simulated reader in this process) and
// on a private PulseAudio server.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include "cpu_clock.h"
#include "audio/backend.h"
#include "audio_front.h"
#include "card.h"
#include "field.h"
#include "line_port.h"
#include "modem/modem.h"
#include "picc.h"
#include "private_pulse.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Clock = std::chrono::steady_clock;

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

enum Backend { kLine = 0, kPulse = 1 };

// The simulated reader on the chosen backend, at audio pace; null when it
// cannot start (the reason in *why).
std::unique_ptr<vrsim::AudioFrontEnd> start_reader(int backend, std::unique_ptr<vrtest::PrivatePulse> &server,
                                                   std::string *why) {
    if (backend == kLine) {
        vr::audio::line::Options line;
        line.virtual_clock = false;
        auto front = vrsim::start_line_simulator({}, line);
        if (!front) *why = "no line";
        return front;
    }
    server = std::make_unique<vrtest::PrivatePulse>();
    if (!server->running()) {
        *why = "private PulseAudio server: " + server->error();
        return nullptr;
    }
    vr::audio::select("pulse");
    auto port = vrsim::open_pulse_port("down.monitor", "up", why);
    if (!port) return nullptr;
    auto front = std::make_unique<vrsim::AudioFrontEnd>(std::move(port));
    if (!front->start()) return nullptr;
    return front;
}

using vrbench::thread_cpu_seconds;

double modem_cpu_seconds() {
    const suart_state &s = vr::modem::state();
    return thread_cpu_seconds(s.thread_send) + thread_cpu_seconds(s.thread_recv) +
           thread_cpu_seconds(s.thread_monitor);
}

void BM_IdleLinkModemCpu(benchmark::State &state) {
    std::unique_ptr<vrtest::PrivatePulse> server;
    std::string why;
    auto front = start_reader(static_cast<int>(state.range(0)), server, &why);
    if (!front) {
        state.SkipWithError(why.c_str());
        return;
    }
    picc_regapi(VR_FAMILY_FIRST);
    if (picc_connect("sound", 0, 1, nullptr) != 0) {
        state.SkipWithError("the link did not open");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
    const double cpu0 = modem_cpu_seconds();
    const suart_state &s = vr::modem::state();
    const double send0 = thread_cpu_seconds(s.thread_send), recv0 = thread_cpu_seconds(s.thread_recv),
                 mon0 = thread_cpu_seconds(s.thread_monitor);
    const auto t0 = Clock::now();
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::seconds(1));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = modem_cpu_seconds() - cpu0;
    state.counters["modem_cpu_percent_of_core"] = 100.0 * cpu / wall;
    state.counters["wall_s"] = wall;
    state.counters["send_pct"] = 100.0 * (thread_cpu_seconds(s.thread_send) - send0) / wall;
    state.counters["recv_pct"] = 100.0 * (thread_cpu_seconds(s.thread_recv) - recv0) / wall;
    state.counters["monitor_pct"] = 100.0 * (thread_cpu_seconds(s.thread_monitor) - mon0) / wall;
    virt_com_close();
    front->stop();
}
BENCHMARK(BM_IdleLinkModemCpu)
    ->ArgName("pulse")
    ->Arg(kLine)
    ->Arg(kPulse)
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// Frames of one byte's lobes at carrier width w: the long start lobe, the
// data lobes (short for a bit equal to the one before, long otherwise) and
// five short stop lobes.
double byte_frames(uint8_t byte, double w) {
    double frames = 2 * w + 5 * w;
    int previous = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const int value = (byte >> bit) & 1;
        frames += value == previous ? w : 2 * w;
        previous = value;
    }
    return frames;
}

bool dump(picc *p) {
    unsigned char block[16];
    for (int sector = 0; sector < 16; ++sector) {
        if (picc_auth(p, kKey, 0x60, 4 * sector) != 0) return false;
        for (int b = 4 * sector; b < 4 * sector + 4; ++b)
            if (picc_read(p, block, b) != 0) return false;
    }
    return true;
}

void BM_CardDumpOverAudio(benchmark::State &state) {
    std::unique_ptr<vrtest::PrivatePulse> server;
    std::string why;
    auto front = start_reader(static_cast<int>(state.range(0)), server, &why);
    if (!front) {
        state.SkipWithError(why.c_str());
        return;
    }
    front->field().place(vrsim::Card::classic_1k({0x01, 0x02, 0x03, 0x04}));
    picc_regapi(VR_FAMILY_FIRST);
    picc *p = picc_open("mifare_s50", "sound", 0, PICC_SEARCH_PLAIN);
    if (!p) {
        state.SkipWithError("the card did not open");
        return;
    }
    double wall = 0.0;
    double line = 0.0;
    int64_t failures = 0;
    const double up_w = 22050.0 / front->uplink_frequency();
    const double down_w = tessil.s_com.suart.down_short_width;
    for (auto _ : state) {
        front->sim().clear_log();
        const auto t0 = Clock::now();
        if (!dump(p)) ++failures;
        wall += std::chrono::duration<double>(Clock::now() - t0).count();
        for (const auto &frame : front->sim().frames_received())
            for (uint8_t b : frame) line += byte_frames(b, down_w) / 44100.0;
        for (const auto &frame : front->sim().frames_sent())
            for (uint8_t b : frame) line += byte_frames(b, up_w) / 44100.0;
    }
    state.counters["dump_s"] = wall / static_cast<double>(state.iterations());
    state.counters["line_s"] = line / static_cast<double>(state.iterations());
    state.counters["time_over_line_time"] = wall / line;
    state.counters["failures"] = static_cast<double>(failures);
    picc_close(p);
    virt_com_close();
    front->stop();
}
BENCHMARK(BM_CardDumpOverAudio)
    ->ArgName("pulse")
    ->Arg(kLine)
    ->Arg(kPulse)
    ->Iterations(2)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
