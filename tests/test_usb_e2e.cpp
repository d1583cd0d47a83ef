// The USB links end to end: the real libusb against emulated devices of the
// four attachments (tests/support/usb), whose far end is the simulated
// reader. Runs under the umockdev preload.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "card.h"
#include "field.h"
#include "log_capture.h"
#include "pcd.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "thread_count.h"
#include "usb_bed.h"
#include "usbhid.h"
#include "virt_com.h"

namespace vrsim {
void PrintTo(UsbKind kind, std::ostream *os) { *os << usb_identity(kind).name; }
}  // namespace vrsim

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vrsim::UsbKind;

const unsigned char kTransportKey[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::string kind_name(const testing::TestParamInfo<UsbKind> &info) { return vrsim::usb_identity(info.param).name; }

using vrtest::thread_count;

// One emulated device of a kind, the simulated reader of the kind's family
// behind it.
class UsbLink : public ::testing::Test {
protected:
    void plug(UsbKind kind) {
        kind_ = kind;
        vrsim::SimOptions o;
        o.family = second_family() ? 2 : 1;
        sim = vrsim::start_simulator(o);
        ASSERT_TRUE(sim);
        bed = std::make_unique<vrtest::UsbBed>();
        ASSERT_TRUE(bed->ok()) << bed->why();
        dev = bed->plug(kind, sim->path(), sim->protocol());
        ASSERT_TRUE(dev) << bed->why();
    }
    bool second_family() const { return kind_ == UsbKind::pdiusbd12; }
    const char *name() const { return vrsim::usb_identity(kind_).name; }
    int protocol() const { return sim->protocol(); }
    // The port opened over the link, the device found by its ids.
    int open_by_ids() {
        picc_regapi(VR_FAMILY_FIRST);
        return virt_com_open(name(), 0, -1, -1, nullptr);
    }
    // The port opened on a descriptor the host opened.
    int open_by_descriptor() {
        picc_regapi(VR_FAMILY_FIRST);
        fd = dev->open_node();
        return virt_com_open(name(), 0, fd, fd, nullptr);
    }
    void close_descriptor() {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    std::vector<uint16_t> commands() const {
        std::vector<uint16_t> out;
        for (const auto &r : sim->requests()) out.push_back(r.cmd);
        return out;
    }
    void TearDown() override {
        virt_com_close();
        close_descriptor();
        bed.reset();
        sim.reset();
    }

    UsbKind kind_ = UsbKind::hid_reader;
    std::unique_ptr<vrsim::Simulator> sim;
    std::unique_ptr<vrtest::UsbBed> bed;
    vrtest::EmulatedUsb *dev = nullptr;
    int fd = -1;
};

class EveryAttachment : public UsbLink, public ::testing::WithParamInterface<UsbKind> {
protected:
    void SetUp() override { plug(GetParam()); }
};

// The reader echoes `n` bytes: a frame longer than a report both ways.
void expect_echo(int protocol, int n) {
    std::vector<uint8_t> body{0x02, 0x0F};
    for (int i = 0; i < n; ++i) body.push_back(static_cast<uint8_t>(i * 7 + 1));
    ASSERT_EQ(virt_com_flush(3), 0);
    ASSERT_EQ(virt_com_writemsg(body.data(), static_cast<int>(body.size()), protocol), static_cast<int>(body.size()));
    std::vector<uint8_t> reply(VIRT_COM_RSP_MAX);
    const int got = virt_com_readmsg(reply.data(), protocol, 3000);
    ASSERT_EQ(got, n + 1) << errno;
    EXPECT_EQ(reply[0], 0x00);
    EXPECT_TRUE(std::equal(body.begin() + 2, body.end(), reply.begin() + 1));
}

TEST_P(EveryAttachment, OpensOnAHandedInDescriptorAndByIds) {
    for (bool by_descriptor : {true, false}) {
        SCOPED_TRACE(by_descriptor ? "descriptor" : "ids");
        ASSERT_EQ(by_descriptor ? open_by_descriptor() : open_by_ids(), 0) << errno;
        const vrsim::UsbIdentity &id = dev->device().identity();
        EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_USB_VENDOR), id.vendor_id);
        EXPECT_EQ(picc_ctrl(nullptr, PICC_CTRL_USB_PRODUCT), id.product_id);
        EXPECT_TRUE(dev->claimed());
        EXPECT_EQ(virt_com_ping(), 0) << errno;
        expect_echo(protocol(), 250);
        EXPECT_EQ(virt_com_close(), 0);
        EXPECT_FALSE(dev->claimed());
        close_descriptor();
    }
    EXPECT_TRUE(dev->unknown_requests().empty());
}

TEST_P(EveryAttachment, ConnectCodeTakesTheDescriptor) {
    picc_regapi(VR_FAMILY_FIRST);
    fd = dev->open_node();
    ASSERT_EQ(picc_ctrl(nullptr, PICC_CTRL_CONNECT, name(), fd), 0) << errno;
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
    EXPECT_EQ(virt_com_ping(), 0) << errno;
}

INSTANTIATE_TEST_SUITE_P(Usb, EveryAttachment,
                         ::testing::Values(UsbKind::hid_reader, UsbKind::ch340g, UsbKind::ch9326, UsbKind::pdiusbd12),
                         kind_name);

// Readers of the first family behind the three attachments that carry it.
class FirstFamily : public UsbLink, public ::testing::WithParamInterface<UsbKind> {
protected:
    void SetUp() override { plug(GetParam()); }
};

TEST_P(FirstFamily, ReaderInfo) {
    ASSERT_EQ(open_by_descriptor(), 0) << errno;
    unsigned char version[16] = {};
    ASSERT_EQ(pcd_get_firmware_version(version), 0) << errno;
    EXPECT_EQ(std::string(reinterpret_cast<char *>(version), 16), "vantel-sim 1.0.0");
    unsigned char *model = pcd_hard_model();
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(reinterpret_cast<char *>(model), "VR1356-S");
    std::free(model);
    unsigned char mid = 0;
    ASSERT_EQ(pcd_get_mid(&mid), 0);
    EXPECT_EQ(mid, 1);
    EXPECT_EQ(pcd_get_power(nullptr), 75);
    EXPECT_EQ(pcd_set_buzzer(2, 3), 0);
    EXPECT_EQ(sim->firmware().settings().buzzer, (std::array<uint8_t, 2>{2, 3}));
}

// A MIFARE Classic 1K card read out whole and written back, block by block,
// over the link.
TEST_P(FirstFamily, MifareDumpAndRestore) {
    auto card = sim->field().place(vrsim::Card::classic_1k({0x11, 0x22, 0x33, 0x44}));
    for (int b = 1; b < 64; ++b)
        if ((b + 1) % 4 != 0) card->set_block(b, vrsim::Block{static_cast<uint8_t>(b), 0xA5, static_cast<uint8_t>(~b)});
    fd = dev->open_node();
    picc_regapi(VR_FAMILY_FIRST);
    picc *p = picc_open("mifare_s50", name(), 0, PICC_SEARCH_PLAIN, fd);
    ASSERT_NE(p, nullptr) << errno;

    std::vector<vrsim::Block> dump(64);
    for (int b = 0; b < 64; ++b) {
        if (b % 4 == 0) {
            ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, b), 0) << b;
        }
        ASSERT_EQ(picc_read(p, dump[b].data(), b), 0) << b;
        if ((b + 1) % 4 != 0) {
            EXPECT_EQ(dump[b], card->block(b)) << b;
        }
    }
    // Restore a changed image into the data blocks.
    for (int b = 1; b < 64; ++b) {
        if (b == 1 || b % 4 == 0) {
            ASSERT_EQ(picc_auth(p, kTransportKey, 0x60, b), 0) << b;
        }
        if ((b + 1) % 4 == 0) continue;
        vrsim::Block changed = dump[b];
        changed[15] = static_cast<uint8_t>(0x40 + b);
        ASSERT_EQ(picc_write(p, changed.data(), b), 0) << b;
    }
    for (int b = 1; b < 64; ++b) {
        if ((b + 1) % 4 != 0) {
            EXPECT_EQ(card->block(b)[15], 0x40 + b) << b;
        }
    }
    EXPECT_EQ(picc_close(p), 0);
}

// A reply that comes after its command gave up is not taken for the next
// command's reply, whatever reports carry it: the next command first pings
// past it. A 100 ms port time-out makes the command give up long before
// its reply comes.
TEST_P(FirstFamily, LateReplyIsNotTakenForTheNextCommand) {
    ASSERT_EQ(open_by_descriptor(), 0) << errno;
    tessil.s_com.timeout = 100;
    vrtest::LogCapture log;
    sim->inject(vrsim::Fault::delay(700));
    unsigned char mid = 0;
    EXPECT_EQ(pcd_get_mid(&mid), -1);
    unsigned char version[16] = {};
    ASSERT_EQ(pcd_get_firmware_version(version), 0) << errno;
    EXPECT_EQ(std::string(reinterpret_cast<char *>(version), 16), "vantel-sim 1.0.0");
    EXPECT_TRUE(log.contains("late reply dropped"));
    // Back in step: the next command goes without a ping.
    sim->clear_log();
    ASSERT_EQ(pcd_get_mid(&mid), 0);
    EXPECT_EQ(mid, 1);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0601}));
}

INSTANTIATE_TEST_SUITE_P(Usb, FirstFamily, ::testing::Values(UsbKind::hid_reader, UsbKind::ch340g, UsbKind::ch9326),
                         kind_name);

// The second family's own attachment registers that family; its command
// reaches the reader in protocol 6.
TEST_F(UsbLink, PdiusbD12SpeaksTheSecondFamily) {
    plug(UsbKind::pdiusbd12);
    ASSERT_EQ(open_by_ids(), 0) << errno;
    EXPECT_EQ(tessil.family, static_cast<uint32_t>(VR_FAMILY_SECOND));
    EXPECT_EQ(virt_com_get_protocl(), 6);
    ASSERT_EQ(pcd_set_picc_protocol('B'), 0) << errno;
    EXPECT_EQ(sim->firmware().settings().picc_protocol, 'B');
}

// ---------------------------------------------------------------- adapters

struct RateCase {
    int asked;
    unsigned line;  // the rate the adapter's line then runs at
};
constexpr RateCase kRates[] = {{9600, 9600}, {19200, 19200}, {38400, 38400}, {56700, 57600}, {115200, 115200}};

class Adapter : public UsbLink, public ::testing::WithParamInterface<UsbKind> {
protected:
    void SetUp() override { plug(GetParam()); }
    int configure(int baud) { return GetParam() == UsbKind::ch340g ? ch340g_config(baud) : ch9326_config(baud); }
};

// The emulated adapter works out its line rate from the prescaler and
// divisor it is given, as the chip does: a wrong table entry shows.
TEST_P(Adapter, ConfiguredAtEachSupportedRate) {
    ASSERT_EQ(open_by_ids(), 0) << errno;
    // The open set the reader's rate and the start-up settings went through.
    EXPECT_NEAR(dev->device().line_rate(), 115200, 115200 * 0.005);
    EXPECT_EQ(sim->firmware().settings().package_max_size, 31);
    EXPECT_EQ(sim->firmware().settings().uart_delay, 3);
    for (const RateCase &c : kRates) {
        SCOPED_TRACE(c.asked);
        ASSERT_EQ(configure(c.asked), 0) << errno;
        EXPECT_NEAR(dev->device().line_rate(), c.line, c.line * 0.005);
    }
    // At 115200 again the reader answers; at another rate its line is
    // garbled and it does not.
    ASSERT_EQ(configure(9600), 0);
    tessil.s_com.timeout = 100;
    EXPECT_NE(pcd_set_led(1, 1), 0);
    ASSERT_EQ(configure(115200), 0);
    EXPECT_EQ(pcd_set_led(1, 1), 0) << errno;
}

TEST_P(Adapter, OtherRatesAreRefused) {
    ASSERT_EQ(open_by_ids(), 0) << errno;
    const std::string line = GetParam() == UsbKind::ch340g ? "ch340g_config_linux: ch340g baud invalid, baud: "
                                                           : "ch9326_config_linux: ch9326 baud invalid, baud: ";
    for (int baud : {57600, 4800, 230400, 0, -1}) {
        vrtest::LogCapture log;
        const size_t requests = dev->device().class_requests().size();
        errno = 0;
        EXPECT_EQ(configure(baud), -1) << baud;
        EXPECT_EQ(errno, -24);
        EXPECT_TRUE(log.contains(line + std::to_string(baud))) << baud;
        EXPECT_EQ(dev->device().class_requests().size(), requests) << "nothing reaches the adapter";
    }
    EXPECT_NEAR(dev->device().line_rate(), 115200, 115200 * 0.005);
}

INSTANTIATE_TEST_SUITE_P(Usb, Adapter, ::testing::Values(UsbKind::ch340g, UsbKind::ch9326), kind_name);

// ---------------------------------------------------------------- lifecycle

// The system's driver holds interface 0 when the device is plugged in; the
// open takes the interface from it and the close gives it back.
TEST_F(UsbLink, KernelDriverDetachedAndGivenBackAtClose) {
    plug(UsbKind::ch340g);
    EXPECT_EQ(dev->kernel_driver(), "ch341");
    vrtest::LogCapture log;
    ASSERT_EQ(open_by_ids(), 0) << errno;
    EXPECT_TRUE(log.contains("usbhid handler: os driver have calim the interface"));
    EXPECT_TRUE(log.contains("usbhid handler: we detach device driver from kernel"));
    EXPECT_EQ(dev->kernel_driver(), "");
    EXPECT_TRUE(dev->claimed());
    ASSERT_EQ(virt_com_close(), 0);
    EXPECT_FALSE(dev->claimed());
    EXPECT_EQ(dev->kernel_driver(), "ch341");
    // A device whose driver was already gone is not given one at close.
    ASSERT_EQ(open_by_ids(), 0);
    ASSERT_EQ(virt_com_close(), 0);
    EXPECT_EQ(dev->kernel_driver(), "ch341");
}

TEST_F(UsbLink, OpenFailures) {
    plug(UsbKind::hid_reader);
    picc_regapi(VR_FAMILY_FIRST);
    {
        // No such device attached: the ids of another attachment.
        vrtest::LogCapture log;
        EXPECT_EQ(virt_com_open("ch9326", 0, -1, -1, nullptr), -1);
        EXPECT_EQ(errno, -10);
        EXPECT_TRUE(log.contains("usbhid handler: ERR: fail to get device"));
    }
    {
        // A descriptor of another kind of device is not taken for this one.
        fd = dev->open_node();
        vrtest::LogCapture log;
        EXPECT_EQ(virt_com_open("ch340g", 0, fd, fd, nullptr), -1);
        EXPECT_EQ(errno, -10);
        EXPECT_TRUE(log.contains("is a 0108:0100 device, not 1a86:7523"));
        EXPECT_FALSE(dev->claimed());
        EXPECT_EQ(dev->kernel_driver(), "usbhid") << "given back after the failed open";
    }
    {
        // A descriptor that is not a USB device.
        vrtest::LogCapture log;
        EXPECT_EQ(virt_com_open("usbhid", 0, STDERR_FILENO, STDERR_FILENO, nullptr), -1);
        EXPECT_EQ(errno, -10);
        EXPECT_TRUE(log.contains("usbhid handler: ERROR: we cannot find device"));
    }
    EXPECT_EQ(virt_com_status(), VIRT_COM_CLOSED);
}

TEST_F(UsbLink, DriverArgumentsAreChecked) {
    plug(UsbKind::hid_reader);
    ASSERT_EQ(open_by_ids(), 0) << errno;
    uint8_t buf[300] = {};
    errno = 0;
    EXPECT_EQ(usbhid_write_linux(buf, 263), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(usbhid_write_linux(nullptr, 10), -1);
    EXPECT_EQ(usbhid_read_linux(buf, 4097), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(usbhid_flush_linux(4), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(usbhid_drain_linux(), -1);
    EXPECT_EQ(errno, -23);
    EXPECT_EQ(usbhid_ioctl_linux(10, nullptr), -1);
    EXPECT_EQ(errno, -23);
    // Nothing from the reader within the in transfer's time-out.
    EXPECT_EQ(usbhid_read_linux(buf, 1), -1);
    EXPECT_EQ(errno, -14);
}

// The device pulled out while the reader works on a command: the command
// fails at once with the device-removed code, and the port closes cleanly.
class Unplugged : public UsbLink, public ::testing::WithParamInterface<UsbKind> {
protected:
    void SetUp() override { plug(GetParam()); }
};

TEST_P(Unplugged, MidCommandFailsAndClosesCleanly) {
    ASSERT_EQ(open_by_descriptor(), 0) << errno;
    const int threads_open = thread_count();
    sim->clear_log();
    sim->inject(vrsim::Fault::delay(2000));
    std::thread puller([&] {
        if (sim->wait_received(1, 5s)) dev->unplug();
    });
    const auto start = Clock::now();
    unsigned char machine_id = 0;
    // (The second family's get_mid sends nothing: ping instead.)
    const int rc = second_family() ? virt_com_ping() : pcd_get_mid(&machine_id);
    const int code = errno;
    puller.join();
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(code, -80);
    EXPECT_LT(Clock::now() - start, 1500ms) << "the reply's delay was not waited out";
    EXPECT_EQ(virt_com_status(), VIRT_COM_REMOVED);
    EXPECT_EQ(virt_com_close(), 0);
    EXPECT_EQ(virt_com_status(), VIRT_COM_CLOSED);
    EXPECT_EQ(tessil.s_com.attrib.usb.handle, nullptr);
    EXPECT_LT(thread_count(), threads_open) << "the keep-alive thread ended";
}

INSTANTIATE_TEST_SUITE_P(Usb, Unplugged,
                         ::testing::Values(UsbKind::hid_reader, UsbKind::ch340g, UsbKind::ch9326, UsbKind::pdiusbd12),
                         kind_name);

// Open and close many times, alternately on a descriptor and by ids: no
// thread stays behind (and the sanitizer build finds no leak).
TEST_F(UsbLink, HundredOpensAndCloses) {
    plug(UsbKind::hid_reader);
    picc_regapi(VR_FAMILY_FIRST);
    const int threads = thread_count();
    for (int i = 0; i < 100; ++i) {
        const bool by_descriptor = i % 2 == 0;
        if (by_descriptor) fd = dev->open_node();
        ASSERT_EQ(virt_com_open("usbhid", 0, by_descriptor ? fd : -1, by_descriptor ? fd : -1, nullptr), 0)
            << i << " " << errno;
        ASSERT_EQ(virt_com_ping(), 0) << i;
        ASSERT_EQ(virt_com_close(), 0) << i;
        close_descriptor();
    }
    EXPECT_EQ(thread_count(), threads);
    EXPECT_EQ(dev->kernel_driver(), "usbhid");
}

// ---------------------------------------------------------------- keep-alive

bool has_keep_alive(const std::vector<uint16_t> &commands) {
    return std::find(commands.begin(), commands.end(), 0x0601) != commands.end();
}

// The HID reader hears the keep-alive (get machine id) after 3 s without
// traffic, and not while commands keep coming.
TEST_F(UsbLink, KeepAliveAfterThreeSecondsOfSilenceOnly) {
    plug(UsbKind::hid_reader);
    ASSERT_EQ(open_by_descriptor(), 0) << errno;
    vrtest::LogCapture log;
    sim->clear_log();
    const auto traffic_until = Clock::now() + 4s;
    while (Clock::now() < traffic_until) {
        ASSERT_EQ(pcd_set_led(1, 0), 0);
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_FALSE(has_keep_alive(commands())) << "a keep-alive during traffic";

    ASSERT_EQ(pcd_set_led(0, 1), 0);
    const auto silent_from = Clock::now();
    sim->clear_log();
    ASSERT_TRUE(sim->wait_handled(1, 6s)) << "no keep-alive";
    const auto waited = Clock::now() - silent_from;
    EXPECT_TRUE(has_keep_alive(commands()));
    EXPECT_GE(waited, 2900ms);
    EXPECT_LT(waited, 4500ms);
    EXPECT_TRUE(log.wait_for("usbhid handler:  keep-alive packet sended", 1s));
}

// Neither open nor close touches the process's signal handlers or the
// caller's signal mask.
TEST_F(UsbLink, SignalHandlersUnchanged) {
    plug(UsbKind::hid_reader);
    const auto snapshot = [] {
        std::vector<std::pair<void *, int>> handlers;
        for (int sig = 1; sig < SIGRTMAX; ++sig) {
            struct sigaction sa {};
            sigaction(sig, nullptr, &sa);
            handlers.emplace_back(reinterpret_cast<void *>(sa.sa_handler), sa.sa_flags);
        }
        sigset_t mask;
        pthread_sigmask(SIG_BLOCK, nullptr, &mask);
        for (int sig = 1; sig < SIGRTMAX; ++sig) handlers.emplace_back(nullptr, sigismember(&mask, sig));
        return handlers;
    };
    const auto before = snapshot();
    ASSERT_EQ(open_by_descriptor(), 0);
    EXPECT_EQ(snapshot(), before);
    ASSERT_EQ(virt_com_ping(), 0);
    ASSERT_EQ(virt_com_close(), 0);
    EXPECT_EQ(snapshot(), before);
    ASSERT_EQ(open_by_ids(), 0);
    ASSERT_EQ(virt_com_close(), 0);
    EXPECT_EQ(snapshot(), before);
}

}  // namespace
