// vantel-rfid-sim: a simulated reader on a pseudo-terminal, or with
// --audio on a sound server's line. Prints the device path (or the audio
// devices), then answers until SIGINT/SIGTERM/SIGHUP or "quit"; standard
// input is a control channel (see sim/README.md). The end of standard
// input ends only the control channel, so the program also runs in the
// background with no input.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio_front.h"
#include "card_file.h"
#include "card_words.h"
#include "control.h"
#include "pm25_sensor.h"
#include "simulator.h"
#include "words.h"

namespace {

struct Args {
    vrsim::SimOptions options;
    std::vector<vrsim::FaultOrder> faults;
    bool has_seed = false;
    unsigned long long seed = 0;
    bool control = true;
    std::shared_ptr<vrsim::Card> card;  // in the field from the start
    bool pm25 = false;                  // --accessory pm25: a sensor, not a reader
    // --audio: the reader on a sound server instead of a pseudo-terminal.
    bool audio = false;
    std::string audio_source = "down.monitor";
    std::string audio_sink = "up";
    vrsim::AudioOptions audio_options;
};

// Applies an option's value; an error text, empty when it is sound.
using Apply = std::string (*)(Args&, const char* value);

struct SimOption {
    const char* name;
    const char* value;  // the value's name in the help, null for a flag
    const char* help;
    Apply apply;
};

std::optional<unsigned long long> number_in(const char* text, unsigned long long low, unsigned long long high) {
    const auto n = vrsim::parse_unsigned(text);
    return n && *n >= low && *n <= high ? n : std::nullopt;
}

std::string set_family(Args& a, const char* v) {
    const auto n = number_in(v, 1, 2);
    if (!n) return "--family takes 1 or 2";
    a.options.family = static_cast<int>(*n);
    return {};
}

std::string set_protocol(Args& a, const char* v) {
    const auto n = number_in(v, 1, 6);
    if (!n || !vrsim::protocol_supported(static_cast<int>(*n))) return "--protocol takes 1, 2, 3 or 6";
    a.options.protocol = static_cast<int>(*n);
    return {};
}

std::string set_baud(Args& a, const char* v) {
    const auto n = number_in(v, 1, 10'000'000);
    if (!n) return "--baud takes a rate of 1..10000000";
    a.options.baud = static_cast<unsigned>(*n);
    return {};
}

std::string set_seed(Args& a, const char* v) {
    const auto n = vrsim::parse_unsigned(v);
    if (!n) return "--seed takes a number";
    a.has_seed = true;
    a.seed = *n;
    return {};
}

std::string set_accessory(Args& a, const char* v) {
    if (std::strcmp(v, "pm25") != 0) return "--accessory takes pm25";
    a.pm25 = true;
    return {};
}

std::string set_link(Args& a, const char* v) {
    if (!*v) return "--link takes a path";
    a.options.link = v;
    return {};
}

std::string set_trace(Args& a, const char* v) {
    if (!*v) return "--trace takes a file name";
    a.options.trace = v;
    return {};
}

std::string add_fault(Args& a, const char* v) {
    std::string why;
    const auto order = vrsim::parse_fault_order(v, &why);
    if (!order) return "bad fault: " + why;
    a.faults.push_back(*order);
    return {};
}

std::string set_card(Args& a, const char* v) {
    std::string why = "missing";
    a.card = vrsim::make_card_from_option(v, &why);
    return a.card ? std::string() : "bad card: " + why;
}

std::string set_card_file(Args& a, const char* v) {
    vrsim::LoadedCard loaded = vrsim::load_card_file(v);
    if (!loaded.card) return "bad card file: " + loaded.error;
    a.card = std::move(loaded.card);
    return {};
}

// LO:HI or LO:HI:ORDER (Hz; 0 for no edge): the uplink's pass band.
bool parse_band(const char* text, vrsim::ChannelConfig& channel) {
    const std::vector<std::string_view> parts = vrsim::split_words(text, ":");
    if (parts.size() < 2 || parts.size() > 3) return false;
    const auto low = vrsim::parse_unsigned(std::string(parts[0]));
    const auto high = vrsim::parse_unsigned(std::string(parts[1]));
    const auto order =
        parts.size() == 3 ? vrsim::parse_unsigned(std::string(parts[2])) : std::optional<unsigned long long>(8);
    if (!low || !high || !order || *high > 22050 || (*high != 0 && *low >= *high) || *order < 2 || *order > 16)
        return false;
    channel.bandpass_low_hz = static_cast<double>(*low);
    channel.bandpass_high_hz = static_cast<double>(*high);
    channel.bandpass_order = static_cast<int>(*order);
    return true;
}

std::string set_band(Args& a, const char* v) {
    return parse_band(v, a.audio_options.uplink) ? std::string() : "--band takes LO:HI or LO:HI:ORDER (Hz, HI up to 22050, ORDER 2..16)";
}

std::string set_snr(Args& a, const char* v) {
    const auto db = number_in(v, 0, 120);
    if (!db) return "--snr takes 0..120 dB";
    a.audio_options.uplink.snr_db = static_cast<double>(*db);
    a.audio_options.downlink.snr_db = static_cast<double>(*db);
    return {};
}

std::string set_audio(Args& a, const char*) {
    a.audio = true;
    return {};
}

std::string set_audio_source(Args& a, const char* v) {
    if (!*v) return "--audio-source takes a source name";
    a.audio_source = v;
    return {};
}

std::string set_audio_sink(Args& a, const char* v) {
    if (!*v) return "--audio-sink takes a sink name";
    a.audio_sink = v;
    return {};
}

std::string no_control(Args& a, const char*) {
    a.control = false;
    return {};
}

constexpr SimOption kOptions[] = {
    {"family", "1|2", "the reader firmware family (default 1)", set_family},
    {"protocol", "1|2|3|6", "the link protocol (default: the family's own, 3 or 6)", set_protocol},
    {"baud", "N", "pace the line at N baud, 10 bits a byte (default: as fast as the pty goes)", set_baud},
    {"link", "PATH", "also publish the device as a symbolic link at PATH (moved on reconnect, removed at exit)",
     set_link},
    {"card", "TYPE[:UID]", "start with that card in the field (types as for the control command card place)",
     set_card},
    {"card-file", "FILE", "start with a MIFARE Classic card loaded from a dump file (.mfd/.bin, .eml, .json)",
     set_card_file},
    {"fault", "FAULT", "queue a fault before the first request (repeatable; e.g. delay:500, crc x3, drop every 10)",
     add_fault},
    {"seed", "N", "make the reader's random bytes (and a sensor's readings) reproducible", set_seed},
    {"accessory", "pm25", "the device is a PM2.5 sensor accessory instead of a card reader", set_accessory},
    {"trace", "FILE", "record every frame of the line in a pcapng file (contrib/wireshark decodes it)", set_trace},
    {"audio", nullptr, "the reader on the sound server's line instead of a pseudo-terminal", set_audio},
    {"audio-source", "NAME", "with --audio: the source it hears the host on (default down.monitor)",
     set_audio_source},
    {"audio-sink", "NAME", "with --audio: the sink it answers on (default up)", set_audio_sink},
    {"band", "LO:HI[:ORDER]", "with --audio: the uplink's pass band in Hz (0 for no edge)", set_band},
    {"snr", "DB", "with --audio: noise on both directions at this signal-to-noise ratio", set_snr},
    {"no-control", nullptr, "ignore standard input (no control channel)", no_control},
};

void print_help(std::FILE* out) {
    std::fputs("usage: vantel-rfid-sim [OPTION]...\n"
               "A simulated card reader on a pseudo-terminal. Prints the device path as its first line,\n"
               "then answers the reader protocol until SIGINT, SIGTERM, SIGHUP or the control command\n"
               "quit. Standard input is a control channel, one command a line, each answered with one\n"
               "line (\"ok ...\" or \"error: ...\"); its end leaves the reader running.\n\n"
               "options:\n",
               out);
    for (const SimOption& o : kOptions) {
        std::string head = std::string("--") + o.name + (o.value ? std::string(" ") + o.value : "");
        std::fprintf(out, "  %-22s %s\n", head.c_str(), o.help);
    }
    std::fputs("  --help                 print this help and exit\n\ncontrol commands:\n", out);
    vrsim::Simulator idle;
    vrsim::Control control(idle);
    for (const std::string& usage : control.usages()) std::fprintf(out, "  %s\n", usage.c_str());
}

enum class Parsed { run, help, bad };

Parsed parse_args(int argc, char** argv, Args& a) {
    constexpr int kHelp = 'h';
    std::vector<option> longs;
    for (const SimOption& o : kOptions)
        longs.push_back({o.name, o.value ? required_argument : no_argument, nullptr,
                         static_cast<int>(&o - kOptions) + 256});
    longs.push_back({"help", no_argument, nullptr, kHelp});
    longs.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;
    for (;;) {
        int index = -1;
        const int c = getopt_long(argc, argv, "+:h", longs.data(), &index);
        if (c == -1) break;
        if (c == kHelp) return Parsed::help;
        if (c == '?' || c == ':') {
            std::fprintf(stderr, "vantel-rfid-sim: %s: %s\n", argv[optind - 1],
                         c == ':' ? "needs a value" : "unknown option");
            return Parsed::bad;
        }
        const SimOption& o = kOptions[c - 256];
        if (const std::string why = o.apply(a, optarg ? optarg : ""); !why.empty()) {
            std::fprintf(stderr, "vantel-rfid-sim: %s\n", why.c_str());
            return Parsed::bad;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "vantel-rfid-sim: unexpected argument %s\n", argv[optind]);
        return Parsed::bad;
    }
    return Parsed::run;
}

void say(const std::string& line) {
    if (line.empty()) return;
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Runs the control lines in buf; true after quit.
bool run_control_lines(vrsim::Control& control, std::string& buf) {
    size_t nl;
    while ((nl = buf.find('\n')) != std::string::npos) {
        const std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        const vrsim::ControlReply r = control.execute(line);
        say(r.text);
        if (r.quit) return true;
    }
    return false;
}

// Serves until a signal or quit. The end of standard input (or an error
// reading it, such as a background process's read from its terminal) only
// stops the control channel.
void serve(vrsim::Simulator& sim, int signals, bool with_control) {
    vrsim::Control control(sim);
    std::string buf;
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, with_control ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) return;
        if (!with_control || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char chunk[512];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            buf += '\n';  // a last line without its newline still counts
            if (run_control_lines(control, buf)) return;
            with_control = false;
            continue;
        }
        buf.append(chunk, static_cast<size_t>(got));
        if (run_control_lines(control, buf)) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    switch (parse_args(argc, argv, args)) {
    case Parsed::help:
        print_help(stdout);
        return 0;
    case Parsed::bad:
        std::fputs("(vantel-rfid-sim --help lists the options)\n", stderr);
        return 2;
    case Parsed::run:
        break;
    }

    // The signals are taken through a descriptor; block them first so the
    // simulator's thread inherits the mask. A background job's read from
    // its terminal then fails instead of stopping the program.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);
    const int sfd = signalfd(-1, &mask, SFD_CLOEXEC);
    if (sfd < 0) {
        std::perror("vantel-rfid-sim: signalfd");
        return 1;
    }

    // The reader: on a pseudo-terminal, or behind the audio front end (whose
    // firmware talks to it over an internal one).
    std::unique_ptr<vrsim::Simulator> own;
    std::unique_ptr<vrsim::AudioFrontEnd> front;
    if (args.audio) {
        if (args.options.family != 1 || (args.options.protocol != 0 && args.options.protocol != 3)) {
            std::fputs("vantel-rfid-sim: the audio link carries the first family's protocol 3\n", stderr);
            return 2;
        }
        std::string why;
        auto port = vrsim::open_pulse_port(args.audio_source.c_str(), args.audio_sink.c_str(), &why);
        if (!port) {
            std::fprintf(stderr, "vantel-rfid-sim: sound server: %s\n", why.c_str());
            return 1;
        }
        args.audio_options.firmware.link = args.options.link;
        front = std::make_unique<vrsim::AudioFrontEnd>(std::move(port), args.audio_options);
    } else {
        own = std::make_unique<vrsim::Simulator>(args.options);
    }
    vrsim::Simulator& sim = front ? front->sim() : *own;
    if (args.has_seed) sim.firmware().seed_random(args.seed);
    if (args.pm25)
        vrsim::install_pm25_commands(sim.firmware(), std::make_shared<vrsim::Pm25Sensor>(args.has_seed ? args.seed : 1));
    for (const auto& f : args.faults) sim.apply(f);
    if (args.card) sim.field().place(args.card);
    if (front ? !front->start() : !sim.start()) {
        std::fprintf(stderr, "vantel-rfid-sim: cannot start: %s\n", std::strerror(errno));
        return 1;
    }
    say(front ? "audio " + args.audio_source + " " + args.audio_sink : sim.path());
    serve(sim, sfd, args.control);
    if (front)
        front->stop();
    else
        sim.stop();
    ::close(sfd);
    return 0;
}
