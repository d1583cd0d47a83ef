// Soak: thousands of MIFARE Classic operations against the simulated reader
// with a random fault on a fraction of the exchanges. Checks, for every
// operation: it ends within the longest time the exchange's rules allow,
// a failure carries one of the codes those rules produce, a write that
// reports success is on the card, and no block is ever left holding
// anything but its old or its new contents.
//
//   vantel-rfid-soak [--ops N] [--fault-percent P] [--seed S]
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "card.h"
#include "field.h"
#include "mifare.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using Clock = std::chrono::steady_clock;
using vrsim::Block;
using vrsim::Fault;

constexpr int kTimeoutMs = 100;
// The longest an operation may take: when the port is left to be checked,
// two pings, each reading past up to ten frames with a head search of twice
// the time-out; then two sends, each with as many reads and two repeat
// requests of 2 s.
constexpr int kReadsMs = 10 * 2 * kTimeoutMs;
constexpr auto kLongestOperation = std::chrono::milliseconds(2 * kReadsMs + 2 * (kReadsMs + 2 * 2000));

const unsigned char kKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// Data blocks the soak works on: sectors 1..4, trailers excluded.
constexpr int kBlocks[] = {4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18};

// Codes a failed operation may report under injected faults.
const std::set<int> kAllowedCodes = {-10, -13, -14, -16, -19, -21, -30, -32, -34, -35, -36,
                                     -37, -80, -81, -111, -112, -113, -114};

struct Options {
    int ops = 2000;
    int fault_percent = 10;
    unsigned seed = 1;
};

struct Stats {
    int ops = 0, ok = 0, failed = 0, faults = 0, reconnects = 0, violations = 0;
    std::map<int, int> codes;
    std::map<std::string, int> fault_kinds;
    Clock::duration longest{};
};

Options parse(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--ops") o.ops = std::atoi(argv[i + 1]);
        else if (a == "--fault-percent") o.fault_percent = std::atoi(argv[i + 1]);
        else if (a == "--seed") o.seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
    }
    return o;
}

class Soak {
public:
    explicit Soak(const Options &o) : opt_(o), rng_(o.seed) {}

    bool start() {
        link_ = "/tmp/vantel-soak-" + std::to_string(getpid());
        vrsim::SimOptions so;
        so.link = link_;
        sim_ = vrsim::start_simulator(so);
        if (!sim_) return false;
        card_ = sim_->field().place(vrsim::Card::classic_1k({0x50, 0x0A, 0x4B, 0x01}));
        for (int b : kBlocks) model_[b] = card_->block(b);
        picc_regapi(VR_FAMILY_FIRST);
        return open_card();
    }

    void run() {
        for (int i = 0; i < opt_.ops; ++i) one_operation();
        sim_->clear_faults();
    }

    int report() const {
        std::printf("operations %d: succeeded %d, failed %d; faults injected %d; reconnects %d\n", stats_.ops,
                    stats_.ok, stats_.failed, stats_.faults, stats_.reconnects);
        std::printf("faults:");
        for (auto [k, n] : stats_.fault_kinds) std::printf(" %s=%d", k.c_str(), n);
        std::printf("\nfailure codes:");
        for (auto [c, n] : stats_.codes) std::printf(" %d=%d", c, n);
        std::printf("\nlongest operation: %lld ms (allowed %lld ms)\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(stats_.longest).count()),
                    static_cast<long long>(kLongestOperation.count()));
        std::printf("violations: %d\n", stats_.violations);
        return stats_.violations == 0 ? 0 : 1;
    }

private:
    bool open_card() {
        record_ = picc_open("mifare_s50", "uart", 0, PICC_SEARCH_PLAIN, link_.c_str());
        if (!record_) return false;
        tessil.s_com.timeout = kTimeoutMs;
        return true;
    }

    // The line was hung up: the reader comes back on a new pty behind the
    // same path, and the application opens the card again.
    bool recover() {
        const int state = virt_com_status();
        if (sim_->connected() && (state == VIRT_COM_OPEN || state == VIRT_COM_CHECK)) return true;
        ++stats_.reconnects;
        if (!sim_->connected() && !sim_->reconnect()) return false;
        virt_com_close();
        piccs_list_delall(&tessil.piccs);
        return open_card();
    }

    void maybe_inject() {
        std::uniform_int_distribution<int> pct(0, 99);
        if (pct(rng_) >= opt_.fault_percent) return;
        static const std::pair<const char *, Fault> kinds[] = {
            {"drop", Fault::drop()},       {"delay_short", Fault::delay(30)}, {"delay_long", Fault::delay(450)},
            {"delay_past_marker", Fault::delay(900)},
            {"crc", Fault::crc()},         {"stale90", Fault::stale90()},     {"lateping", Fault::lateping()},
            {"status_read", Fault::with_status(0x17)}, {"hangup", Fault::hangup()},
            {"garbage", Fault::garbage()}, {"ten_reports", Fault::stale90(10)},
        };
        std::uniform_int_distribution<std::size_t> pick(0, std::size(kinds) - 1);
        const auto &[name, fault] = kinds[pick(rng_)];
        sim_->inject(fault);
        ++stats_.faults;
        ++stats_.fault_kinds[name];
    }

    void violation(const char *what, int block, int rc) {
        ++stats_.violations;
        std::fprintf(stderr, "VIOLATION op %d: %s (block %d, result %d, errno %d)\n", stats_.ops, what, block, rc,
                     errno);
    }

    void check_code(int rc, int block) {
        if (rc == 0) {
            ++stats_.ok;
            return;
        }
        ++stats_.failed;
        const int code = rc < -1 ? rc : errno;
        ++stats_.codes[code];
        if (!kAllowedCodes.count(code)) violation("unexpected failure code", block, rc);
    }

    void one_operation() {
        if (!recover()) {
            violation("could not reconnect", -1, -1);
            return;
        }
        sim_->clear_faults();
        maybe_inject();
        std::uniform_int_distribution<std::size_t> pick(0, std::size(kBlocks) - 1);
        const int block = kBlocks[pick(rng_)];
        std::uniform_int_distribution<int> kind(0, 2);
        const auto start = Clock::now();
        switch (kind(rng_)) {
        case 0: read_block(block); break;
        case 1: write_block(block); break;
        default: write_value(block); break;
        }
        const auto took = Clock::now() - start;
        if (took > stats_.longest) stats_.longest = took;
        if (took > kLongestOperation) violation("operation took too long", block, 0);
        ++stats_.ops;
    }

    int authenticate(int block) { return picc_auth(record_, kKey, 0x60, static_cast<uint8_t>(block)); }

    void read_block(int block) {
        int rc = authenticate(block);
        unsigned char out[16];
        if (rc == 0) rc = picc_read(record_, out, static_cast<uint8_t>(block));
        check_code(rc, block);
        if (rc == 0 && std::memcmp(out, model_[block].data(), 16) != 0) violation("read returned wrong data", block, rc);
    }

    void write_block(int block) {
        Block next;
        for (auto &b : next) b = static_cast<uint8_t>(rng_());
        int rc = authenticate(block);
        if (rc == 0) rc = picc_write(record_, next.data(), static_cast<uint8_t>(block));
        check_code(rc, block);
        settle(block, rc, next);
    }

    void write_value(int block) {
        const int32_t v = static_cast<int32_t>(rng_() % 100000);
        const Block next = vrsim::classic::value_block(v, static_cast<uint8_t>(block));
        unsigned char bytes[4];
        std::memcpy(bytes, &v, 4);
        int rc = authenticate(block);
        if (rc == 0) rc = picc_wrval(record_, bytes, static_cast<uint8_t>(block));
        check_code(rc, block);
        settle(block, rc, next);
    }

    // After a write: success means the card holds the new contents; a
    // failure may have reached the card or not, but the block is whole.
    void settle(int block, int rc, const Block &next) {
        const Block now = card_->block(block);
        if (rc == 0) {
            if (now != next) violation("successful write is not on the card", block, rc);
        } else if (now != next && now != model_[block]) {
            violation("failed write left the block half-written", block, rc);
        }
        model_[block] = now;
    }

    Options opt_;
    std::mt19937 rng_;
    std::string link_;
    std::unique_ptr<vrsim::Simulator> sim_;
    std::shared_ptr<vrsim::Card> card_;
    std::map<int, Block> model_;
    picc *record_ = nullptr;
    Stats stats_;
};

}  // namespace

int main(int argc, char **argv) {
    const Options opt = parse(argc, argv);
    Soak soak(opt);
    if (!soak.start()) {
        std::fprintf(stderr, "soak: the simulated reader or the card did not start\n");
        return 2;
    }
    soak.run();
    const int rc = soak.report();
    virt_com_close();
    return rc;
}
