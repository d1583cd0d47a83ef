// The audio link in the tool: opening it (on a real reader at the headset
// jack, or on a simulated reader), and the `modem` commands that choose and
// test its carrier.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio.h"
#include "cli.h"
#include "control.h"
#include "line_port.h"
#include "picc.h"
#include "suart_signal.h"
#include "sys.h"
#include "virt_com.h"

namespace cli {
namespace {

// The simulated reader on the virtual line, when the tool runs it itself.
std::unique_ptr<vrsim::AudioFrontEnd> g_front;

constexpr int kScanTable[] = {1002, 1050, 1102, 1160, 1225, 1297, 1378, 1470, 1575, 1696, 1837,
                              2004, 2205, 2450, 2756, 3150, 3675, 4410, 5000, 5512, 7350, 11025};

bool pulse_chosen() {
    const char *name = std::getenv("VANTEL_RFID_AUDIO");
    return name && std::strcmp(name, "pulse") == 0;
}

// The simulated reader on the library's virtual line, in this process, with
// the options' control lines applied.
bool start_line_reader(const Options &opt) {
    vr::audio::line::Options line;
    line.speed = 2.0;  // lossless, and at most twice as fast as a real line
    g_front = vrsim::start_line_simulator({}, line);
    if (!g_front) {
        std::fprintf(stderr, "could not start the simulated reader\n");
        return false;
    }
    vrsim::Control control(g_front->sim());
    for (const std::string &text : opt.sim_control) {
        const vrsim::ControlReply reply = control.execute(text);
        if (!reply.ok) {
            std::fprintf(stderr, "simulator control \"%s\": %s\n", text.c_str(), reply.text.c_str());
            return false;
        }
    }
    return true;
}

int current_carrier() {
    int info[2] = {};
    picc_ctrl(nullptr, PICC_CTRL_UPLINK_INFO, info);
    return info[1];
}

int modem_scan() {
    // The scan of handshake mode 3, each carrier's result shown as it comes.
    for (int alg : {0, 2}) {
        picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 1, alg);
        std::printf("uplink algorithm %d:", alg);
        std::fflush(stdout);
        int passed = 0;
        for (int f : kScanTable) {
            if (signal_try_communicate_1(f) != 0) continue;
            std::printf(" %d", f);
            std::fflush(stdout);
            ++passed;
        }
        std::printf(passed ? "\n" : " none\n");
    }
    picc_ctrl(nullptr, PICC_CTRL_AUDIO_SETTINGS, 1, 2);
    return 0;
}

int modem_choose() {
    const int rc = picc_ctrl(nullptr, PICC_CTRL_AUDIO_HANDSHAKE, 6);
    if (rc != 0) return report_error("carrier choice", rc < -1 ? rc : errno ? errno : -10);
    std::printf("carrier %d Hz\n", current_carrier());
    return 0;
}

int modem_chantest(const char *kind_name) {
    const std::string name = kind_name ? kind_name : "normal";
    const int kind = name == "fast" ? 0 : name == "normal" ? 1 : name == "full" ? 2 : -1;
    if (kind < 0) {
        std::fprintf(stderr, "usage: modem chantest [fast|normal|full]\n");
        return 2;
    }
    // The test runs in the modem; this thread shows its progress meanwhile.
    int result = 0;
    std::atomic<bool> done{false};
    std::thread test([&] {
        result = signal_chantest(kind, 0);
        done = true;
    });
    int shown = -2;
    while (!done) {
        const int progress = signal_get_process();
        if (progress != shown) {
            std::printf("progress %d%%\n", progress);
            std::fflush(stdout);
            shown = progress;
        }
        sys_delay_nus(200000);
    }
    test.join();
    if (result != 0) return report_error("channel test", result < -1 ? result : -10);
    std::printf("progress %d%%\nbest carrier %d Hz\n", signal_get_process(), signal_best_frequence());
    return 0;
}

int modem_echo(int argc, char **argv) {
    const int n = argc > 2 ? std::atoi(argv[2]) : 16;
    const int count = argc > 3 ? std::atoi(argv[3]) : 1;
    if (n < 0 || n >= 4088 || count < 1) {
        std::fprintf(stderr, "usage: modem echo N [COUNT]   (N below 4088)\n");
        return 2;
    }
    int failed = 0;
    for (int i = 0; i < count; ++i)
        if (signal_send_randoms(n) != 0) ++failed;
    std::printf("echo of %d bytes: %d of %d came back\n", n, count - failed, count);
    return failed ? 1 : 0;
}

}  // namespace

bool open_sound(const Options &opt) {
    if (opt.sim) {
        if (pulse_chosen()) {
            // The simulator program on the sound server; the tool's streams
            // go to the server's default devices.
            if (start_simulator_program(opt).empty()) {
                std::fprintf(stderr, "could not start the simulator on the sound server\n");
                return false;
            }
        } else if (!start_line_reader(opt)) {
            return false;
        }
    }
    picc_regapi(0xAA);
    if (picc_connect("sound", 0, 1, nullptr) != 0) {
        report_error("open sound", errno ? errno : -10);
        return false;
    }
    return true;
}

void close_sound() {
    virt_com_close();
    if (g_front) g_front->stop();
    g_front.reset();
}

int cmd_modem(const Options &, int argc, char **argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (virt_com_status() != VIRT_COM_OPEN || what.empty()) {
        std::fprintf(stderr, "usage: modem scan|choose|chantest [fast|normal|full]|echo N [COUNT]  (with --sound)\n");
        return 2;
    }
    if (what == "scan") return modem_scan();
    if (what == "choose") return modem_choose();
    if (what == "chantest") return modem_chantest(argc > 2 ? argv[2] : nullptr);
    if (what == "echo") return modem_echo(argc, argv);
    std::fprintf(stderr, "unknown modem command: %s\n", what.c_str());
    return 2;
}

}  // namespace cli
