// The audio link in the tool: opening it (on a real reader at the headset
// jack, or on a simulated reader), and the `modem` commands that choose and
// test its carrier.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio.h"
#include "cli.h"
#include "command.h"
#include "control.h"
#include "line_port.h"
#include "modem_capture.h"
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

int modem_chantest(int kind) {
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

int modem_echo(int n, int count) {
    int failed = 0;
    for (int i = 0; i < count; ++i)
        if (signal_send_randoms(n) != 0) ++failed;
    std::printf("echo of %d bytes: %d of %d came back\n", n, count - failed, count);
    return failed ? 1 : 0;
}

// ------------------------------------------------------------ the command

struct ModemArgs : CommandArgs {
    std::string what;
    int chantest_kind = 1;  // fast 0, normal 1, full 2
    int echo_bytes = 16;
    int echo_count = 1;
    std::string file;       // record, play, decode, plot
    int seconds = 5;        // record
    std::string plot;       // --plot / --output: the picture to draw
};

constexpr const char *kModemSynopsis =
    "scan | choose | chantest [fast|normal|full] [--plot FILE.png] | echo N [COUNT] | record FILE.wav [SECONDS] "
    "| play FILE.wav | decode FILE.wav | plot FILE.wav --output FILE.png";

// Captures and their pictures need no link to the reader: the audio
// device (record, play) or the file alone (decode, plot).
bool capture_command(const std::string &what) {
    return what == "record" || what == "play" || what == "decode" || what == "plot";
}

std::string check_capture(ModemArgs &a) {
    const std::vector<std::string> &w = a.operands;
    if (w.size() < 2) return a.what + " needs a WAV file";
    a.file = w[1];
    a.needs_reader = false;
    if (a.what == "record" && w.size() <= 3) {
        if (w.size() == 3) {
            const auto seconds = parse_number(w[2], 1, 3600);
            if (!seconds) return "record FILE.wav [SECONDS]: 1 to 3600 seconds";
            a.seconds = static_cast<int>(*seconds);
        }
        return {};
    }
    if (w.size() != 2) return a.what + " takes one WAV file";
    if (a.what == "plot" && a.plot.empty()) return "plot needs --output FILE.png";
    return {};
}

constexpr const char *kChantestKinds[] = {"fast", "normal", "full"};

std::string check_modem(ModemArgs &a) {
    const std::vector<std::string> &w = a.operands;
    if (w.empty()) return kModemSynopsis;
    a.what = w[0];
    if (capture_command(a.what)) return check_capture(a);
    if ((a.what == "scan" || a.what == "choose") && w.size() == 1) return {};
    if (a.what == "chantest" && w.size() <= 2) {
        if (w.size() == 1) return {};
        for (int kind = 0; kind < 3; ++kind)
            if (w[1] == kChantestKinds[kind]) {
                a.chantest_kind = kind;
                return {};
            }
        return "chantest takes fast, normal or full";
    }
    if (a.what == "echo" && w.size() >= 2 && w.size() <= 3) {
        const auto n = parse_number(w[1], 0, 4087);
        const auto count = w.size() == 3 ? parse_number(w[2], 1, 100000) : std::optional<long>(1);
        if (!n || !count) return "echo N [COUNT]: N below 4088, COUNT at least 1";
        a.echo_bytes = static_cast<int>(*n);
        a.echo_count = static_cast<int>(*count);
        return {};
    }
    return "unknown or malformed modem command: " + a.what;
}

int run_modem(const Options &opt, ModemArgs &a) {
    if (a.what == "decode") return modem_decode(a.file);
    if (a.what == "plot") return modem_plot(a.file, a.plot);
    if (a.what == "record" || a.what == "play") {
        // The simulated reader on the line idles its carrier for the
        // microphone and hears what is played.
        if (opt.sim && !start_line_reader(opt)) return 1;
        const int rc = a.what == "record" ? modem_record(a.file, a.seconds) : modem_play(a.file);
        close_sound();
        return rc;
    }
    if (a.what == "scan") return modem_scan();
    if (a.what == "choose") return modem_choose();
    if (a.what == "chantest") {
        // The spectrum is measured over the open link; the test closes the
        // link when it ends, so the picture comes first.
        if (!a.plot.empty() && modem_plot_spectrum(a.plot) != 0) return 1;
        return modem_chantest(a.chantest_kind);
    }
    return modem_echo(a.echo_bytes, a.echo_count);
}

void list_modem_subcommands(std::FILE *out) {
    std::fprintf(out,
                 "subcommands:\n"
                 "  scan                   try every uplink carrier with both algorithms\n"
                 "  choose                 choose the carrier (handshake mode 6)\n"
                 "  chantest [KIND]        the channel test: fast, normal (default) or full\n"
                 "  echo N [COUNT]         send N random bytes COUNT times and check the echo\n"
                 "  record FILE.wav [S]    record the uplink for S seconds (default 5) into a WAV file\n"
                 "  play FILE.wav          play a WAV file to the reader\n"
                 "  decode FILE.wav        demodulate a capture: its bytes and symbol statistics\n"
                 "  plot FILE.wav          draw a capture (--output FILE.png): the signal, the filtered\n"
                 "                         signal, the lobes by symbol and the decoded bytes\n"
                 "chantest --plot FILE.png also draws the uplink spectrum, its pass band and the carrier.\n"
                 "decode and plot need no reader; record and play use the audio device only.\n");
}

std::string apply_plot(ModemArgs &a, const char *value) {
    a.plot = value;
    return {};
}

constexpr Option<ModemArgs> kModemOptions[] = {
    {"plot", "FILE.png", "chantest: draw the measured uplink spectrum (gnuplot)", apply_plot},
    {"output", "FILE.png", "plot: the picture to write (gnuplot)", apply_plot},
};

constexpr Command<ModemArgs> kModem = {
    "modem",
    "the audio link's carrier choice and tests (with --sound)",
    kModemSynopsis,
    "Chooses and tests the uplink carrier of the audio link (with --sound), and records,\n"
    "plays, decodes and draws captures of the headset's signal.\n",
    list_modem_subcommands,
    kModemOptions,
    check_modem,
    run_modem,
};

// The modem commands mean nothing on another link: refused before any
// reader is opened.
int modem_main(const Options &opt, int argc, char **argv) {
    const bool help = std::any_of(argv + 1, argv + argc, [](const char *a) {
        return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0;
    });
    const bool file_only = argc > 1 && (std::strcmp(argv[1], "decode") == 0 || std::strcmp(argv[1], "plot") == 0);
    if (!opt.sound && !help && !file_only)
        return command_usage_error("modem", "the modem commands need the audio link (--sound)");
    return run_command(kModem, opt, argc, argv);
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

constinit const CommandEntry kModemCommand = {kModem.name, kModem.summary, modem_main,
                                                [](std::FILE *out) { print_help(out, kModem); }};

}  // namespace cli
