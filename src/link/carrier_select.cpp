// Choosing the uplink carrier of the "sound" link: echo tests through the
// reader, moving the reader's carrier and the receiver after it, and the
// handshakes that try and score carriers. Reader traffic, so it sits in
// the link; the modem measures what arrives.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "audio.h"
#include "core/errors.h"
#include "core/int_list.h"
#include "link/link.h"
#include "log.h"
#include "link/audio_link.h"
#include "modem/device.h"
#include "modem/modem.h"
#include "port/port.h"
#include "sys.h"
#include "virt_com.h"

namespace vr::link {

namespace {

// Reader messages of the audio link: echo (0x0F02) and set carrier
// (0x0F01) go as raw bodies, code low byte first; the frequency test
// (0x0F81) goes through the command exchange.
constexpr uint8_t kEchoHead[2] = {0x02, 0x0F};
constexpr uint8_t kSetCarrierHead[2] = {0x01, 0x0F};
constexpr uint16_t kCmdUplinkFreqTest = 0x0F81;
constexpr int kEchoLimit = 4088;  // data bytes of an echo: fewer than this
constexpr int kEchoTimeoutMs = 2000;
constexpr int kCarrierReplyMs = 100;
constexpr int kFreqTestTimeoutMs = 1000;
constexpr unsigned kFreqTestSettleUs = 500000;
constexpr int kChangeTries = 10;
constexpr unsigned kChangeWaitUs = 100000;
constexpr int kRandomBytes = 4087;

constexpr std::array kScanTable = {1002, 1050, 1102, 1160, 1225, 1297, 1378, 1470, 1575, 1696, 1837,
                                   2004, 2205, 2450, 2756, 3150, 3675, 4410, 5000, 5512, 7350, 11025};
constexpr std::array<int, 3> kCandidates = {7350, 5512, 2004};

// Writes an echo body and reads the reader's answer into reply (room for
// the largest reply): the reply body's length (status byte first), or -1.
int echo(const uint8_t *data, int n, uint8_t *reply) {
    if (!data || n < 0 || n >= kEchoLimit) return vr::fail(vr::kEArg);
    std::array<uint8_t, 2 + kEchoLimit> body;
    std::memcpy(body.data(), kEchoHead, sizeof kEchoHead);
    std::memcpy(body.data() + 2, data, static_cast<std::size_t>(n));
    if (virt_com_flush(3) != 0) return vr::fail(vr::kEGeneral);
    const int protocol = virt_com_get_protocl();
    if (virt_com_writemsg(body.data(), n + 2, protocol) < 0) return -1;
    return virt_com_readmsg(reply, protocol, kEchoTimeoutMs);
}

int fill_random(uint8_t *bytes, int n) {
    srand48(static_cast<long>(std::time(nullptr)));
    for (int i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(lrand48() % 256);
    return n;
}

// Echoes of `size` random bytes: how many of `rounds` failed.
int failed_echoes(int rounds, int size) {
    int failed = 0;
    for (int i = 0; i < rounds; ++i)
        if (signal_send_randoms(size) != 0) ++failed;
    return failed;
}

// Opens the link and moves both ends to the supported carrier nearest freq.
bool open_at(int freq) {
    if (open_sound_port() != 0) return false;
    return signal_change_frequence(signal_width2freq(signal_freq2width(freq))) == 0;
}

// Tries every carrier of the scan table with one uplink algorithm; the
// frequencies that pass go to out. Returns their count.
int scan_with(int alg, int *out) {
    vr::modem::set_uplink_alg(alg);
    int n = 0;
    for (int f : kScanTable)
        if (signal_try_communicate_1(f) == 0) out[n++] = f;
    return n;
}

struct ScanResult {
    std::array<int, kScanTable.size()> pattern{};  // uplink algorithm 0
    std::array<int, kScanTable.size()> simple{};   // uplink algorithm 2
    int pattern_count = 0;
    int simple_count = 0;
};

ScanResult scan() {
    log_print(2, "freq scan....");
    ScanResult r;
    const int saved = vr::modem::uplink_alg();
    r.pattern_count = scan_with(0, r.pattern.data());
    r.simple_count = scan_with(2, r.simple.data());
    vr::modem::set_uplink_alg(saved);
    log_print(2, "new alg supported freq:%s", vr::int_list_text(r.pattern.data(), r.pattern_count).c_str());
    log_print(2, "old supported freq:%s", vr::int_list_text(r.simple.data(), r.simple_count).c_str());
    return r;
}

// Mode 1: the scan, then long echo runs on every carrier that passed,
// under the algorithm it passed with.
int scan_and_soak() {
    const ScanResult r = scan();
    const int saved = vr::modem::uplink_alg();
    const auto soak = [](int alg, const int *freqs, int n) {
        vr::modem::set_uplink_alg(alg);
        for (int i = 0; i < n; ++i) {
            const int short_failures = signal_try_communicate_3(freqs[i], 100, 16);
            const int long_failures = signal_try_communicate_3(freqs[i], 20, 128);
            log_print(2, "alg %d freq %d: failures %d (100 x 16), %d (20 x 128)", alg, freqs[i], short_failures,
                      long_failures);
        }
    };
    soak(0, r.pattern.data(), r.pattern_count);
    soak(2, r.simple.data(), r.simple_count);
    vr::modem::set_uplink_alg(saved);
    return 0;
}

// Mode 0: the default carrier, else the low one.
int default_carriers() {
    errno = 0;
    int rc = signal_try_communicate_1(5512);
    if (rc == 0) return 0;
    if (errno == vr::kEOpen) {
        log_print(1, "errno,rc5515:%x, %x", errno, rc);
        return -1;
    }
    errno = 0;
    rc = signal_try_communicate_1(2004);
    if (errno == vr::kEOpen || rc < 0) {
        log_print(1, "errno,rc2004:%x, %x", errno, rc);
        return -1;
    }
    return rc;
}

// Mode 6: score the candidates, keep the best.
int scored_choice() {
    log_print(2, "errno: %x", errno);
    int scores[3] = {-1, -1, -1};
    for (std::size_t i = 0; i < kCandidates.size(); ++i) {
        errno = 0;
        scores[i] = signal_try_communicate_4(kCandidates[i]);
        if (scores[i] == kPerfectScore) {
            // The link stays on this carrier.
            log_print(2, "score11: %d ,%d, %d", scores[0], scores[1], scores[2]);
            return 0;
        }
        if (errno == vr::kEOpen) return -1;
    }
    log_print(2, "score: %d ,%d, %d", scores[0], scores[1], scores[2]);
    const int pick = scored_choice_index(scores);
    log_print(2, "score sel : %d %d", scores[pick], kCandidates[static_cast<std::size_t>(pick)]);
    if ((scores[pick] < kMinScoreSimple && vr::modem::uplink_alg() == 2) || scores[pick] < 0) return -1;
    // The last candidate tried is the carrier in force already.
    if (pick == static_cast<int>(kCandidates.size()) - 1) return 0;
    errno = 0;
    const int rc = signal_try_communicate_1(kCandidates[static_cast<std::size_t>(pick)]);
    return rc == 0 && errno != vr::kEOpen ? 0 : -1;
}

// The port's part of an open, with the driver's arguments as a list.
int open_port(const char *type, int mode, ...) {
    va_list list;
    va_start(list, mode);
    const int rc = vr::port::open_device(type, mode, list);
    va_end(list);
    return rc;
}

}  // namespace

int open_sound_port() {
    const int state = virt_com_status();
    if (state == VIRT_COM_OPEN || state == VIRT_COM_CHECK) return 0;
    encryption_off();
    return open_port("sound", 0);
}

int scored_choice_index(const int scores[3]) {
    int pick = scores[0] < scores[1] ? 1 : 0;
    if (scores[pick] < scores[2]) pick = 2;
    return pick;
}

}  // namespace vr::link

using namespace vr::link;

VR_API int audio_send_data(const unsigned char *data, int n) {
    std::array<uint8_t, VIRT_COM_RSP_MAX> reply;
    const int rc = echo(data, n, reply.data());
    if (rc != n + 1) return -1;
    return std::memcmp(reply.data() + 1, data, static_cast<std::size_t>(n)) == 0 ? 0 : -1;
}

VR_API int audio_echo(const unsigned char *src, unsigned char *dst, int n) {
    if (!dst || n >= kEchoLimit) return vr::fail(vr::kEArg);
    std::array<uint8_t, VIRT_COM_RSP_MAX> reply;
    const int rc = echo(src, n, reply.data());
    if (rc < n + 1) return -1;
    std::memcpy(dst, reply.data() + 1, static_cast<std::size_t>(n));
    return 0;
}

VR_API int audio_change_frequence(int freq) {
    if (freq <= 0 || freq > 0xFFFF) return vr::fail(vr::kEArg);
    const uint8_t body[4] = {kSetCarrierHead[0], kSetCarrierHead[1], static_cast<uint8_t>(freq >> 8),
                             static_cast<uint8_t>(freq & 0xFF)};
    if (virt_com_flush(3) != 0) return -1;
    const int protocol = virt_com_get_protocl();
    if (virt_com_writemsg(body, sizeof body, protocol) < 0) return -1;
    // The reader answers on the old carrier; the answer is not examined.
    std::array<uint8_t, VIRT_COM_RSP_MAX> reply;
    virt_com_readmsg(reply.data(), protocol, kCarrierReplyMs);
    return 0;
}

VR_API int uplink_freq_test(int freq) {
    virt_com_req request{};
    request.cmd = kCmdUplinkFreqTest;
    request.data[0] = static_cast<uint8_t>(freq >> 8);
    request.data[1] = static_cast<uint8_t>(freq & 0xFF);
    request.len = 2;
    auto reply = std::make_unique<virt_com_rsp>();
    const int rc = virt_com_command(&request, reply.get(), kFreqTestTimeoutMs);
    sys_delay_nus(kFreqTestSettleUs);
    // The reply may have been lost while the carrier moved: the next
    // command must not wait for it.
    vr::link::forget_owed_replies();
    if (rc < 0) {
        errno = vr::kERecv;
        return rc;
    }
    return 0;
}

VR_API int audio_comm_test(int param) {
    const int pattern = (param >> 24) & 0xFF;
    const int length = param & 0xFF;
    std::array<uint8_t, kRandomBytes> data;
    if (pattern == 0) {
        for (int i = 0; i < kRandomBytes; ++i) data[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
    } else if (pattern == 1) {
        fill_random(data.data(), kRandomBytes);
    } else {
        data.fill(static_cast<uint8_t>((param >> 8) & 0xFF));
    }
    int rc = audio_send_data(data.data(), length);
    if (rc != 0) {
        log_print(2, "resend");
        rc = audio_send_data(data.data(), length);
    }
    return rc;
}

VR_API int signal_change_frequence(int freq) {
    if (freq != -1 && audio_change_frequence(freq) != 0) return -1;
    for (int attempt = 0; attempt < kChangeTries; ++attempt) {
        sys_delay_nus(kChangeWaitUs);
        if (signal_detect_quick(freq) != freq) continue;
        vr::modem::retune_uplink(freq);
        sys_delay_nus(20);
        return 0;
    }
    log_print(1, "fail to signal_change_frequence");
    return -1;
}

VR_API int signal_send_randoms(int n) {
    std::array<uint8_t, kRandomBytes> data;
    fill_random(data.data(), kRandomBytes);
    return audio_send_data(data.data(), n);
}

VR_API int signal_try_communicate_1(int freq) {
    log_print(2, "signal_try_communicate_1 %d", freq);
    if (!open_at(freq)) return -1;
    return failed_echoes(3, 16) < 2 ? 0 : -1;
}

VR_API int signal_try_communicate_2(void) {
    if (open_sound_port() != 0) return -1;
    int failed = 0;
    for (int i = 0; i < 3; ++i) {
        if (signal_send_randoms(16) == 0) continue;
        log_print(1, "try_communicate failly: %d\n", i);
        ++failed;
    }
    return failed == 0 ? 0 : -1;
}

VR_API int signal_try_communicate_3(int freq, int rounds, int size) {
    if (!open_at(freq)) return -1;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        if (signal_send_randoms(size) != 0) ++failed;
        if (i == 10 && failed > 5) return -failed;
    }
    return failed;
}

VR_API int signal_try_communicate_4(int freq) {
    log_print(2, "signal_try_communicate_1 %d", freq);
    if (!open_at(freq)) return -1;
    const int short_failed = failed_echoes(3, 16);
    if (short_failed > 1) return -1;
    const int long_failed = failed_echoes(3, 128);
    const int score = (3 - short_failed) + 8 * (3 - long_failed);
    log_print(2, "count:%d %d %d", short_failed, long_failed, score);
    return short_failed == 0 && long_failed == 0 ? kPerfectScore : score;
}

VR_API int signal_try_communicate(int mode) {
    switch (mode) {
    case 0: return default_carriers();
    case 1: return scan_and_soak();
    case 2: return signal_try_communicate_2();
    case 3:
        scan();
        return 0;
    case 5: return 0;
    case 6: return scored_choice();
    default: return signal_try_communicate_1(mode);
    }
}

namespace vr::link {

int control_handshake(int mode) {
    const int rc = signal_try_communicate(mode);
    if (rc == -1) virt_com_close();
    return rc < -1 ? -1 : rc;
}

int control_uplink_freq_test(int freq) {
    const int rc = uplink_freq_test(freq);
    if (rc == -1) log_print(1, "uplink_freq_test err");
    return rc < -1 ? -1 : rc;
}

}  // namespace vr::link
