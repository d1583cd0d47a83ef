// Faults the simulated reader can inject into its replies, and the plan
// that decides which reply gets which fault.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace vrsim {

struct Fault {
    enum class Kind {
        drop,      // send no reply (the command still runs)
        delay,     // send the reply after delay_ms
        crc,       // spoil the reply's checksum once; a repeat request
                   // (0x0216) then gets the correct frame
        stale90,   // send `reports` replies with status 0x90 first
        lateping,  // send a late ping answer (status 0, 11 22 33) first
        status,    // answer `status` instead of running the command
        hangup,    // close the link instead of answering
        garbage,   // send line noise instead of the reply (the command
                   // still runs): bytes that start no frame in any protocol
        // Spoil an enciphered reply (head 0x42); other replies go out as
        // they are:
        enc_ragged,    // ciphertext one byte short of its blocks (one byte
                       // over when there is none)
        enc_overlong,  // plain length one more than the ciphertext holds
        wrong_echo,    // a protocol-1 reply repeats the next command code
                       // instead of the request's (the command still runs)
    };
    Kind kind = Kind::drop;
    unsigned delay_ms = 0;
    uint8_t status = 0;
    unsigned reports = 1;  // stale90: how many 0x90 replies go first

    static Fault drop() { return {Kind::drop}; }
    static Fault delay(unsigned ms) { return {Kind::delay, ms}; }
    static Fault crc() { return {Kind::crc}; }
    static Fault stale90(unsigned reports = 1) { return {Kind::stale90, 0, 0, reports}; }
    static Fault lateping() { return {Kind::lateping}; }
    static Fault with_status(uint8_t s) { return {Kind::status, 0, s}; }
    static Fault hangup() { return {Kind::hangup}; }
    static Fault garbage() { return {Kind::garbage}; }
    static Fault enc_ragged() { return {Kind::enc_ragged}; }
    static Fault enc_overlong() { return {Kind::enc_overlong}; }
    static Fault wrong_echo() { return {Kind::wrong_echo}; }

    bool operator==(const Fault&) const = default;
};

// A fault with how often it applies: to the next `count` replies, or, with
// `every` above 0, to every `every`-th reply from now on.
struct FaultOrder {
    Fault fault;
    unsigned count = 1;
    unsigned every = 0;

    bool operator==(const FaultOrder&) const = default;
};

// Parses "KIND [ARG] [xN] [every N]": drop, delay MS, crc, stale90 [N],
// lateping, status BYTE, hangup, garbage, enc_ragged, enc_overlong, wrong_echo; e.g.
// "drop x3", "delay 500", "stale90 10", "status 0x0d", "crc every 10". Separators: blanks, ':' ',' '=' (so
// "delay:500" works as one command-line word). Numbers in decimal or 0x
// hexadecimal. Sets *error and returns nothing on a bad order.
[[nodiscard]] std::optional<FaultOrder> parse_fault_order(std::string_view text,
                                                        std::string* error = nullptr);
[[nodiscard]] std::string describe(const Fault& fault);

// Which fault hits the next reply: queued faults first, in order; the
// periodic fault on every period-th reply. Not thread-safe by itself.
class FaultPlan {
public:
    void add(const Fault& fault, unsigned count = 1);
    void every(const Fault& fault, unsigned period);  // period 0 switches it off
    void apply(const FaultOrder& order);
    void clear();
    [[nodiscard]] size_t queued() const { return queue_.size(); }
    // Called once per reply; counts the replies for the periodic fault.
    [[nodiscard]] std::optional<Fault> next();

private:
    std::deque<Fault> queue_;
    std::optional<Fault> periodic_;
    unsigned period_ = 0;
    uint64_t since_periodic_ = 0;
};

}  // namespace vrsim
