// vantel-rfid-sim: a simulated reader on a pseudo-terminal. Prints the
// device path, then answers until SIGINT/SIGTERM, "quit" or the end of
// standard input; standard input is a control channel (see sim/README.md).
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "card_file.h"
#include "card_words.h"
#include "control.h"
#include "simulator.h"
#include "words.h"

namespace {

constexpr const char* kUsage =
    "usage: vantel-rfid-sim [--family 1|2] [--protocol 1|2|3|6] [--baud N] [--link PATH]\n"
    "                       [--fault FAULT]... [--seed N] [--no-control]\n"
    "                       [--card TYPE[:UID] | --card-file FILE]\n";

struct Args {
    vrsim::SimOptions options;
    std::vector<vrsim::FaultOrder> faults;
    bool has_seed = false;
    unsigned long long seed = 0;
    bool control = true;
    std::shared_ptr<vrsim::Card> card;  // in the field from the start
};

bool parse_args(int argc, char** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (opt == "--no-control") {
            a.control = false;
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

    vrsim::Simulator sim(args.options);
    if (args.has_seed) sim.firmware().seed_random(args.seed);
    for (const auto& f : args.faults) sim.apply(f);
    if (args.card) sim.field().place(args.card);
    if (!sim.start()) {
        std::fprintf(stderr, "vantel-rfid-sim: cannot start: %s\n", std::strerror(errno));
        return 1;
    }
    say(sim.path());

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
    sim.stop();
    ::close(sfd);
    return 0;
}
