// Link traces: the library (VANTEL_RFID_TRACE) and the simulator (its trace
// option) record every frame in pcapng, and tshark decodes them with the
// project's dissector, contrib/wireshark/vantelrfid.lua: directions,
// protocols, command codes, status bytes, the command a reply answers and
// the checksums, a spoiled one included.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pcd.h"
#include "picc.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

namespace fs = std::filesystem;

// One decoded packet: the dissector's fields as tshark prints them.
struct Packet {
    std::string protocol, direction, cmd, status, reply_to, checksum_good, data;
    double time = 0;
    bool operator==(const Packet &o) const {
        return protocol == o.protocol && direction == o.direction && cmd == o.cmd && status == o.status &&
               reply_to == o.reply_to && checksum_good == o.checksum_good && data == o.data;
    }
};

std::ostream &operator<<(std::ostream &out, const Packet &p) {
    return out << "{p" << p.protocol << " dir " << p.direction << " cmd " << p.cmd << " status " << p.status
               << " reply_to " << p.reply_to << " good " << p.checksum_good << " data " << p.data << "}";
}

std::vector<std::string> split(const std::string &line, char separator) {
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) out.push_back(field);
    if (!line.empty() && line.back() == separator) out.emplace_back();
    return out;
}

// Runs tshark over the trace; a missing tshark fails the test (the set-up
// script installs it).
std::vector<Packet> decode(const fs::path &trace) {
    const std::string command =
        "tshark -X lua_script:" VR_SOURCE_DIR "/contrib/wireshark/vantelrfid.lua -r " + trace.string() +
        " -T fields -E separator='|' -e vantelrfid.protocol -e vantelrfid.direction -e vantelrfid.cmd"
        " -e vantelrfid.status -e vantelrfid.reply_to -e vantelrfid.checksum_good -e vantelrfid.data"
        " -e frame.time_epoch 2>&1";
    FILE *p = popen(command.c_str(), "r");
    EXPECT_NE(p, nullptr);
    if (!p) return {};
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "tshark failed:\n" << text;
    std::vector<Packet> packets;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto f = split(line, '|');
        if (f.size() != 8) continue;  // tshark's own remarks (running as root, ...)
        packets.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6], std::atof(f[7].c_str())});
    }
    return packets;
}

class LinkTrace : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vr_trace_" + std::to_string(getpid()));
        fs::create_directories(dir_);
        // Read at the library's first frame.
        setenv("VANTEL_RFID_TRACE", (dir_ / "host.pcapng").c_str(), 1);
    }
    void TearDown() override {
        virt_com_close();
        unsetenv("VANTEL_RFID_TRACE");
        fs::remove_all(dir_);
    }
    // A simulated reader of the family and protocol, recording its own
    // trace, with the library's link opened on it.
    std::unique_ptr<vrsim::Simulator> open(int family, int protocol) {
        vrsim::SimOptions o;
        o.family = family;
        o.protocol = protocol;
        o.trace = (dir_ / ("reader" + std::to_string(protocol) + ".pcapng")).string();
        auto sim = vrsim::start_simulator(o);
        EXPECT_TRUE(sim);
        if (!sim) return sim;
        picc_regapi(VR_FAMILY_FIRST);
        if (family == 2) picc_regapi(VR_FAMILY_SECOND);
        virt_com_set_protocl(protocol);
        EXPECT_EQ(virt_com_open("uart", 0, nullptr, sim->path().c_str()), 0);
        tessil.s_com.timeout = 100;
        return sim;
    }
    fs::path dir_;
};

constexpr const char *kHostToReader = "0", *kReaderToHost = "1";

Packet request(const char *protocol, const char *cmd, const char *data = "") {
    return {protocol, kHostToReader, cmd, "", "", "1", data};
}

Packet reply(const char *protocol, const char *status, const char *to, const char *data = "",
             const char *good = "1") {
    return {protocol, kReaderToHost, "", status, to, good, data};
}

TEST_F(LinkTrace, FramesOfEveryProtocolDecodeOnBothSides) {
    timeval started{};
    gettimeofday(&started, nullptr);
    {
        // Protocol 3: a command, a reply whose checksum the reader spoils
        // (the library asks for it again), a command the reader refuses.
        auto sim = open(1, 3);
        ASSERT_TRUE(sim);
        EXPECT_EQ(pcd_set_buzzer(2, 3), 0);
        sim->inject(vrsim::Fault::crc());
        EXPECT_EQ(pcd_set_led(1, 0), 0);
        sim->inject(vrsim::Fault::with_status(0x0B));
        EXPECT_NE(pcd_set_led(0, 1), 0);
        virt_com_close();
    }
    {
        auto sim = open(1, 1);  // protocol 1: the buzzer again
        ASSERT_TRUE(sim);
        EXPECT_EQ(pcd_set_buzzer(0xAA, 1), 0);  // 0xAA is stuffed on the wire
        virt_com_close();
    }
    {
        auto sim = open(2, 6);  // the second family's protocol: its card protocol command
        ASSERT_TRUE(sim);
        EXPECT_EQ(pcd_set_picc_protocol('A'), 0);
        virt_com_close();
    }

    const std::vector<Packet> expected = {
        request("3", "0x010d", "0203"),
        reply("3", "0x00", "0x010d"),
        request("3", "0x010e", "0100"),
        reply("3", "0x00", "0x010e", "", "0"),
        request("3", "0x0216"),
        reply("3", "0x00", "0x0216"),
        request("3", "0x010e", "0001"),
        reply("3", "0x0b", "0x010e"),
        request("1", "0x010d", "aa01"),
        {"1", kReaderToHost, "", "0x00", "0x010d", "1", ""},
        request("6", "0x0087", "41"),
        reply("6", "0x00", "0x0087"),
    };
    std::vector<Packet> host = decode(dir_ / "host.pcapng");
    ASSERT_EQ(host.size(), expected.size()) << testing::PrintToString(host);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(host[i], expected[i]) << "packet " << i + 1;

    // Microsecond stamps of this run, in order.
    const double start = static_cast<double>(started.tv_sec) + started.tv_usec / 1e6;
    EXPECT_GE(host.front().time, start - 1);
    EXPECT_LT(host.back().time, start + 60);
    for (std::size_t i = 1; i < host.size(); ++i) EXPECT_GE(host[i].time, host[i - 1].time);

    // The reader's own traces hold the same frames (one after the other in
    // one file, so that tshark runs once).
    const fs::path all = dir_ / "reader.pcapng";
    const std::string merge = "mergecap -a -w " + all.string() + " " + (dir_ / "reader3.pcapng").string() + " " +
                              (dir_ / "reader1.pcapng").string() + " " + (dir_ / "reader6.pcapng").string();
    ASSERT_EQ(std::system(merge.c_str()), 0) << merge;
    const std::vector<Packet> reader = decode(all);
    ASSERT_EQ(reader.size(), expected.size()) << testing::PrintToString(reader);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(reader[i], expected[i]) << "reader packet " << i + 1;
}

}  // namespace
