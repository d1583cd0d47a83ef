// The tool's sensor command, run as a program against the simulated sensor
// it starts itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tool_runner.h"

namespace {

using vrtest::ProgramOutcome;
using vrtest::ScratchDir;

ProgramOutcome sensor(std::vector<std::string> args, const ScratchDir &scratch) {
    args.insert(args.begin(), {"--sim", "sensor"});
    return vrtest::run_tool(args, scratch);
}

TEST(SensorCli, InfoDrawsTheTree) {
    ScratchDir scratch;
    const ProgramOutcome r = sensor({"info"}, scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *text : {"PM2.5 Sensor: dravimo,shenzhen, PM2.5/10 Sensor", "type 257, version 258, state 1",
                             "uid 50 4D 32 35 00 00 00 01", "├─ Monitor Service (id 1)",
                             "│  └─ 0x0009 PM1.0 particle Agronomist (id 278)", "└─ Control Service (id 2)",
                             "   └─ 0x0102 State (id 515), settable"})
        EXPECT_TRUE(r.has_out(text)) << text << "\n" << r.out;
}

TEST(SensorCli, ReadPrintsOneLinePerReadingWithItsUnit) {
    ScratchDir scratch;
    const ProgramOutcome all = sensor({"read"}, scratch);
    ASSERT_EQ(all.status, 0) << all.err;
    for (const char *line : {"temperature ", "humidity ", "pm1.0 ", "pm2.5 ", "pm10 ", "pm10-particles "})
        EXPECT_TRUE(all.has_out(line)) << line << "\n" << all.out;
    EXPECT_TRUE(all.has_out(" µg/m³\n")) << all.out;
    EXPECT_TRUE(all.has_out(" °C\n")) << all.out;

    const ProgramOutcome some =
        vrtest::run_tool({"--sim", "--sim-control", "sensor spoil 03 41.5", "sensor", "read", "pm2.5", "adc"},
                         scratch);
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_TRUE(some.has_out("pm2.5            41.5 µg/m³\n")) << some.out;
    EXPECT_TRUE(some.has_out("adc ")) << some.out;
}

TEST(SensorCli, FailuresAndRefusals) {
    ScratchDir scratch;
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *err;
    };
    const Case cases[] = {
        {{"--sim", "--sim-control", "sensor spoil 03 lots", "sensor", "read", "pm2.5"}, 1, "error -16"},
        {{"--sim", "sensor", "read", "dust"}, 2, "unknown property dust"},
        {{"--sim", "sensor", "set", "pm2.5", "3"}, 2, "pm2.5 cannot be set"},
        {{"--sim", "sensor", "set", "state", "9"}, 1, "error -24"},
        {{"--sim", "sensor", "mode", "300"}, 2, "a work mode is 0..255"},
        {{"--sim", "sensor", "read", "--count", "2"}, 2, "belong to watch"},
        {{"--sim", "sensor", "watch", "--plot", "out.svg"}, 2, "--plot takes a FILE.png"},
        {{"--sim", "sensor"}, 2, "a subcommand is missing"},
    };
    for (const Case &c : cases) {
        std::string joined;
        for (const auto &a : c.args) joined += a + " ";
        SCOPED_TRACE(joined);
        const ProgramOutcome r = vrtest::run_tool(c.args, scratch);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(r.has_err(c.err)) << r.err;
    }
}

TEST(SensorCli, SetAndModeChangeTheSettings) {
    ScratchDir scratch;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"set", "transform-time", "300"}, {"mode", "2"}, {"mode", "sleep"}, {"mode"}}) {
        const ProgramOutcome r = sensor(args, scratch);
        EXPECT_EQ(r.status, 0) << args[0] << "\n" << r.err;
    }
    EXPECT_TRUE(sensor({"mode"}, scratch).has_out("work mode 0, state 1"));
}

TEST(SensorCli, WatchWritesEverySampleAndPlotsThem) {
    ScratchDir scratch;
    const std::string csv = scratch / "samples.csv";
    const std::string png = scratch / "samples.png";
    const ProgramOutcome r =
        sensor({"watch", "--interval", "0.05", "--count", "4", "--csv", csv, "--plot", png}, scratch);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(vrtest::slurp(csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "seconds,pm1.0,pm2.5,pm10,temperature,humidity,pm1.0_particles,pm2.5_particles,pm10_particles");
    int rows = 0;
    while (std::getline(lines, line)) {
        ++rows;
        std::istringstream fields(line);
        std::vector<double> v;
        for (std::string f; std::getline(fields, f, ',');) v.push_back(std::strtod(f.c_str(), nullptr));
        ASSERT_EQ(v.size(), 9u) << line;
        EXPECT_LE(v[1], v[2]) << "PM1.0 above PM2.5: " << line;
        EXPECT_LE(v[2], v[3]) << "PM2.5 above PM10: " << line;
    }
    EXPECT_EQ(rows, 4);
    const std::string image = vrtest::slurp(png);
    ASSERT_GT(image.size(), 8u);
    EXPECT_EQ(image.substr(1, 3), "PNG");
}

}  // namespace
