// vantel-rfid-sim: a simulated reader on a pseudo-terminal, or with
// --audio on a sound server's line. Prints the device path (or the audio
// devices), then answers until SIGINT/SIGTERM, "quit" or the end of
// standard input; standard input is a control channel (see sim/README.md).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio_front.h"
#include "card_file.h"
#include "card_words.h"
#include "control.h"
#include "simulator.h"
#include "words.h"

namespace {

constexpr const char* kUsage =
    "usage: vantel-rfid-sim [--family 1|2] [--protocol 1|2|3|6] [--baud N] [--link PATH]\n"
    "                       [--fault FAULT]... [--seed N] [--no-control]\n"
    "                       [--card TYPE[:UID] | --card-file FILE]\n"
    "                       [--audio [--audio-source NAME] [--audio-sink NAME]\n"
    "                        [--band LO:HI[:ORDER]] [--snr DB]]\n";

struct Args {
    vrsim::SimOptions options;
    std::vector<vrsim::FaultOrder> faults;
    bool has_seed = false;
    unsigned long long seed = 0;
    bool control = true;
    std::shared_ptr<vrsim::Card> card;  // in the field from the start
    // --audio: the reader on a sound server instead of a pseudo-terminal.
    bool audio = false;
    std::string audio_source = "down.monitor";
    std::string audio_sink = "up";
    vrsim::AudioOptions audio_options;
};

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

bool parse_args(int argc, char** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (opt == "--no-control") {
            a.control = false;
        } else if (opt == "--audio") {
            a.audio = true;
        } else if (opt == "--audio-source" || opt == "--audio-sink") {
            const char* v = value();
            if (!v || !*v) return false;
            (opt == "--audio-source" ? a.audio_source : a.audio_sink) = v;
        } else if (opt == "--band") {
            const char* v = value();
            if (!v || !parse_band(v, a.audio_options.uplink)) return false;
        } else if (opt == "--snr") {
            const char* v = value();
            const auto db = v ? vrsim::parse_unsigned(v) : std::nullopt;
            if (!db || *db > 120) return false;
            a.audio_options.uplink.snr_db = static_cast<double>(*db);
            a.audio_options.downlink.snr_db = static_cast<double>(*db);
        } else if (opt == "--link") {
            const char* v = value();
            if (!v) return false;
            a.options.link = v;
        } else if (opt == "--card") {
            const char* v = value();
            std::string why = "missing";
            a.card = v ? vrsim::make_card_from_option(v, &why) : nullptr;
            if (!a.card) {
                std::fprintf(stderr, "vantel-rfid-sim: bad card: %s\n", why.c_str());
                return false;
            }
        } else if (opt == "--card-file") {
            const char* v = value();
            if (!v) return false;
            const vrsim::LoadedCard loaded = vrsim::load_card_file(v);
            if (!loaded.card) {
                std::fprintf(stderr, "vantel-rfid-sim: bad card file: %s\n", loaded.error.c_str());
                return false;
            }
            a.card = loaded.card;
        } else if (opt == "--fault") {
            const char* v = value();
            std::string why;
            const auto order = v ? vrsim::parse_fault_order(v, &why) : std::nullopt;
            if (!order) {
                std::fprintf(stderr, "vantel-rfid-sim: bad fault: %s\n", v ? why.c_str() : "missing");
                return false;
            }
            a.faults.push_back(*order);
        } else if (opt == "--family" || opt == "--protocol" || opt == "--baud" || opt == "--seed") {
            const char* v = value();
            const auto number = v ? vrsim::parse_unsigned(v) : std::nullopt;
            if (!number) return false;
            const unsigned long long n = *number;
            if (opt == "--family") {
                if (n != 1 && n != 2) return false;
                a.options.family = static_cast<int>(n);
            } else if (opt == "--protocol") {
                if (!vrsim::protocol_supported(static_cast<int>(n)) || n > 6) return false;
                a.options.protocol = static_cast<int>(n);
            } else if (opt == "--baud") {
                if (n == 0 || n > 10'000'000) return false;
                a.options.baud = static_cast<unsigned>(n);
            } else {
                a.has_seed = true;
                a.seed = n;
            }
        } else {
            return false;
        }
    }
    return true;
}

void say(const std::string& line) {
    if (line.empty()) return;
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // The signals are taken through a descriptor; block them first so the
    // simulator's thread inherits the mask.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
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
    for (const auto& f : args.faults) sim.apply(f);
    if (args.card) sim.field().place(args.card);
    if (front ? !front->start() : !sim.start()) {
        std::fprintf(stderr, "vantel-rfid-sim: cannot start: %s\n", std::strerror(errno));
        return 1;
    }
    say(front ? "audio " + args.audio_source + " " + args.audio_sink : sim.path());

    vrsim::Control control(sim);
    std::string line_buf;
    bool done = false;
    while (!done) {
        pollfd fds[2] = {{sfd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t n = args.control ? 2 : 1;
        if (::poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) break;
        if (n == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[512];
            const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
            if (got <= 0) break;  // end of standard input ends the simulator
            line_buf.append(buf, static_cast<size_t>(got));
            size_t nl;
            while (!done && (nl = line_buf.find('\n')) != std::string::npos) {
                const std::string line = line_buf.substr(0, nl);
                line_buf.erase(0, nl + 1);
                const vrsim::ControlReply r = control.execute(line);
                say(r.text);
                done = r.quit;
            }
        }
    }
    if (front)
        front->stop();
    else
        sim.stop();
    ::close(sfd);
    return 0;
}
