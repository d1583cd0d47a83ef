// The PM2.5 sensor end to end: the library's accessory calls over a serial
// link to the simulated sensor on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accessory.h"
#include "link/link.h"
#include "pm25.h"
#include "pm25_sensor.h"
#include "sim_harness.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using vrsim::Pm25Sensor;
using Bytes = std::vector<uint8_t>;

constexpr int kTestTimeoutMs = 100;

class Sensor : public ::testing::Test {
protected:
    void SetUp() override {
        sim = vrsim::start_simulator();
        ASSERT_TRUE(sim);
        sensor = std::make_shared<Pm25Sensor>(7);
        vrsim::install_pm25_commands(sim->firmware(), sensor);
        vr::link::reset_exchange_state();
        acc = accessory_open("uart", sim->path().c_str());
        ASSERT_NE(acc, nullptr) << "errno " << errno;
        tessil.s_com.timeout = kTestTimeoutMs;
        sim->clear_log();
    }
    void TearDown() override {
        if (acc) accessory_close(acc, nullptr, nullptr);
        virt_com_close();
        sim.reset();
    }
    property *ppe(int service_id, int property_id) { return accessory_getppe(acc, service_id, property_id); }
    property *all() { return ppe(PM25_SERVICE_MONITOR, PM25_ALL); }
    // Requests the sensor received since the last clear, as (item, group).
    std::vector<Bytes> items() const {
        std::vector<Bytes> out;
        for (const auto &r : sim->requests())
            if (r.cmd == 0x0F24 || r.cmd == 0x0F25) out.push_back(r.data);
        return out;
    }
    // Reads a value; errno after the read in *code.
    float read(property *p, int *code) {
        const float v = property_getval(p);
        *code = errno;
        return v;
    }

    std::unique_ptr<vrsim::Simulator> sim;
    std::shared_ptr<Pm25Sensor> sensor;
    accessory *acc = nullptr;
};

TEST_F(Sensor, OpenReadsIdentityBuildsTheTreeAndRestarts) {
    EXPECT_STREQ(accessory_vendor(acc), "dravimo,shenzhen");
    EXPECT_STREQ(accessory_product(acc), "PM2.5/10 Sensor");
    EXPECT_STREQ(accessory_name(acc), "PM2.5 Sensor");
    EXPECT_EQ(accessory_type(acc), 257);
    EXPECT_EQ(accessory_version(acc), Pm25Sensor::kVersion);
    EXPECT_EQ(accessory_state(acc), ACCESSORY_STATE_READY);
    ASSERT_EQ(accessory_uidlen(acc), 8);
    EXPECT_EQ(0, std::memcmp(accessory_uid(acc), sensor->uid.data(), 8));

    ASSERT_EQ(accessory_svccnt(acc), 2);
    EXPECT_STREQ(service_name(accessory_getsvcbyid(acc, 0)), "Monitor Service");
    EXPECT_STREQ(service_name(accessory_getsvcbyid(acc, 1)), "Control Service");
    EXPECT_EQ(accessory_ppecnt(acc, PM25_SERVICE_MONITOR), 10);
    EXPECT_EQ(accessory_ppecnt(acc, PM25_SERVICE_CONTROL), 3);
    struct Where {
        int combined;
        int id;
        const char *name;
    };
    const Where where[] = {
        {0x0000, PM25_TEMPERATURE, "Temperature"},
        {0x0006, PM25_ALL, "all Agronomist"},
        {0x0009, PM25_PM1_PARTICLES, "PM1.0 particle Agronomist"},
        {0x0100, PM25_TRANSFORM_TIME, "Transform Time"},
        {0x0102, PM25_STATE, "State"},
    };
    for (const Where &w : where) {
        SCOPED_TRACE(w.name);
        property *p = accessory_getppebyid(acc, w.combined);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(property_type(p), w.id);
        EXPECT_STREQ(property_name(p), w.name);
        EXPECT_EQ(accessory_ppeid(acc, p), w.combined);
    }
    // The open restarted the sensor.
    EXPECT_EQ(sensor->power(), Pm25Sensor::Power::running);
}

TEST_F(Sensor, OpenSendsIdentityThenRestartAndCloseHalts) {
    // A second accessory on the same live link: no port traffic to connect.
    accessory *second = accessory_open("uart", "/nonexistent");
    ASSERT_NE(second, nullptr) << errno;
    const std::vector<Bytes> expected = {{0x01, 0x03}, {0x02, 0x03}, {0x03, 0x03}, {0x03, 0x02, 0x02}};
    EXPECT_EQ(items(), expected);
    sim->clear_log();
    EXPECT_EQ(accessory_close(second, nullptr, nullptr), 0);
    EXPECT_EQ(items(), (std::vector<Bytes>{{0x03, 0x02, 0x03}}));
    EXPECT_EQ(sensor->power(), Pm25Sensor::Power::halted);
}

TEST_F(Sensor, ConnectWhileMarkedTouchesNothing) {
    EXPECT_EQ(accessory_connect("uart", 0, 0, nullptr), 0);
    EXPECT_EQ(accessory_connect("bluetooth", 0, 0, nullptr), 0);
    EXPECT_TRUE(sim->requests().empty());
    EXPECT_EQ(accessory_connect(nullptr, 0, 0, nullptr), -24);
}

TEST_F(Sensor, ReadingsArePlausibleAndMatchTheDevice) {
    int code = 0;
    const float pm25 = read(ppe(1, PM25_PM25), &code);
    ASSERT_EQ(code, 0);
    const float pm10 = read(ppe(1, PM25_PM10), &code);
    ASSERT_EQ(code, 0);
    const float temperature = read(ppe(1, PM25_TEMPERATURE), &code);
    ASSERT_EQ(code, 0);
    const float humidity = read(ppe(1, PM25_HUMIDITY), &code);
    ASSERT_EQ(code, 0);
    EXPECT_GT(pm25, 0);
    EXPECT_LE(pm10, 1000);
    EXPECT_GE(temperature, 10);
    EXPECT_LE(humidity, 100);

    ASSERT_EQ(property_getval(all()), 0.0f);
    ASSERT_EQ(errno, 0);
    const pm25_cache *c = static_cast<const pm25_cache *>(all()->cache);
    EXPECT_LE(c->slot[PM25_SLOT_PM1], c->slot[PM25_SLOT_PM25]);
    EXPECT_LE(c->slot[PM25_SLOT_PM25], c->slot[PM25_SLOT_PM10]);
    EXPECT_LE(c->slot[PM25_SLOT_PM1_PARTICLES], c->slot[PM25_SLOT_PM25_PARTICLES]);
    EXPECT_LE(c->slot[PM25_SLOT_PM25_PARTICLES], c->slot[PM25_SLOT_PM10_PARTICLES]);
    EXPECT_GT(c->slot[PM25_SLOT_PM1_PARTICLES], 0);
}

TEST_F(Sensor, CacheAnswersWithinItsValidityAndAsksAfterIt) {
    ASSERT_EQ(property_getval(all()), 0.0f);
    EXPECT_EQ(items(), (std::vector<Bytes>{{0x0A, 0x01}, {0x1A, 0x01}}));
    const auto *cache = static_cast<const pm25_cache *>(all()->cache);
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->validity_ms, 1000u);

    sim->clear_log();
    EXPECT_EQ(property_getval(all()), 0.0f);
    EXPECT_EQ(property_getval(ppe(1, PM25_PM25)), cache->slot[PM25_SLOT_PM25]);
    EXPECT_EQ(property_getval(ppe(1, PM25_PM10_PARTICLES)), cache->slot[PM25_SLOT_PM10_PARTICLES]);
    EXPECT_TRUE(items().empty()) << "a fresh cache answered by the device";

    // The ADC value is no cached reading: always asked.
    int code = 0;
    read(ppe(1, PM25_ADC), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(items(), (std::vector<Bytes>{{0x05, 0x01}}));

    // A short validity ends the freshness; the next readings ask the device
    // and the next refresh keeps the validity.
    ASSERT_EQ(all()->ctrl(all(), PM25_CACHE_VALIDITY, 20u), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    sim->clear_log();
    read(ppe(1, PM25_HUMIDITY), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(items(), (std::vector<Bytes>{{0x02, 0x01}}));
    ASSERT_EQ(property_getval(all()), 0.0f);
    EXPECT_EQ(static_cast<const pm25_cache *>(all()->cache)->validity_ms, 20u);
    EXPECT_EQ(all()->ctrl(all(), 2, 0u), -1);
    EXPECT_EQ(errno, -22);
}

TEST_F(Sensor, RefreshTakesTemperatureAndHumidityFromTheParticleAnswer) {
    sensor->spoil(0x0A, "12.5,3,4,20.1,55", 1);
    sensor->spoil(0x1A, "100,200,300,21.5,60", 1);
    ASSERT_EQ(property_getval(all()), 0.0f);
    const auto *c = static_cast<const pm25_cache *>(all()->cache);
    EXPECT_FLOAT_EQ(c->slot[PM25_SLOT_PM1], 12.5f);
    EXPECT_FLOAT_EQ(c->slot[PM25_SLOT_PM25], 3);
    EXPECT_FLOAT_EQ(c->slot[PM25_SLOT_PM10], 4);
    EXPECT_FLOAT_EQ(c->slot[PM25_SLOT_PM1_PARTICLES], 100);
    EXPECT_FLOAT_EQ(c->slot[PM25_SLOT_PM25_PARTICLES], 200);
    EXPECT_FLOAT_EQ(c->slot[PM25_SLOT_PM10_PARTICLES], 300);
    EXPECT_FLOAT_EQ(property_getval(ppe(1, PM25_TEMPERATURE)), 21.5f);
    EXPECT_FLOAT_EQ(property_getval(ppe(1, PM25_HUMIDITY)), 60);
    EXPECT_EQ(c->slot[5], 0.0f);
}

TEST_F(Sensor, ShortAnswersFillTheirSlotsAndLeaveTheRestZero) {
    sensor->spoil(0x0A, "1,2,3", 1);
    sensor->spoil(0x1A, "7,8,", 1);  // a trailing comma ends the last field
    ASSERT_EQ(property_getval(all()), 0.0f);
    const auto *c = static_cast<const pm25_cache *>(all()->cache);
    const float expected[PM25_SLOTS] = {0, 0, 2, 3, 1, 0, 8, 0, 7};
    for (int i = 0; i < PM25_SLOTS; ++i) EXPECT_EQ(c->slot[i], expected[i]) << "slot " << i;
}

TEST_F(Sensor, BadReadingsFailWithTheMessageCode) {
    struct Case {
        std::string text;
        bool good;
        float value;
    };
    const Case cases[] = {
        {"12.5", true, 12.5f},     {" 12.5\r\n", true, 12.5f}, {"+3", true, 3},
        {"1e2", true, 100},        {"7.", true, 7},           {"abc", false, 0},
        {"12.5x", false, 0},       {"", false, 0},            {"1e999", false, 0},
        {"-5", false, 0},          {"1001", false, 0},        {"1234567890", false, 0},
        {"nan", false, 0},         {"inf", false, 0},         {"0x1A", false, 0},
        {"12,5", false, 0},        {"-", false, 0},           {"1e", false, 0},
        {std::string("12\0" "5", 4), false, 0},  {std::string("12\0\0", 4), true, 12},
    };
    property *pm25 = ppe(1, PM25_PM25);
    for (const Case &c : cases) {
        SCOPED_TRACE("answer \"" + c.text + "\"");
        sensor->spoil(0x03, c.text, 1);
        int code = 0;
        const float v = read(pm25, &code);
        if (c.good) {
            EXPECT_EQ(code, 0);
            EXPECT_FLOAT_EQ(v, c.value);
        } else {
            EXPECT_EQ(v, -1.0f);
            EXPECT_EQ(code, -16);
        }
    }
}

TEST_F(Sensor, RangesFollowTheProperty) {
    struct Case {
        int id;
        uint8_t item;
        const char *text;
        bool good;
    };
    const Case cases[] = {
        {PM25_TEMPERATURE, 0x01, "-40", true},   {PM25_TEMPERATURE, 0x01, "-40.5", false},
        {PM25_HUMIDITY, 0x02, "100", true},      {PM25_HUMIDITY, 0x02, "100.1", false},
        {PM25_PM1_PARTICLES, 0x16, "65535", true}, {PM25_PM1_PARTICLES, 0x16, "65536", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        sensor->spoil(c.item, c.text, 1);
        int code = 0;
        const float v = read(ppe(1, c.id), &code);
        EXPECT_EQ(code, c.good ? 0 : -16);
        if (!c.good) {
            EXPECT_EQ(v, -1.0f);
        }
    }
}

TEST_F(Sensor, ABadRefreshLeavesNoFreshCache) {
    struct Case {
        const char *name;
        const char *masses;
        const char *particles;
    };
    const Case cases[] = {
        {"bad mass field", "1,2,x,4,5", nullptr},
        {"field too long", "1,2,3.000000001,4,5", nullptr},
        {"bad particle field", "1,2,3,4,5", "7,,9"},
        {"no particles", "1,2,3,4,5", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sensor->spoil(0x0A, c.masses, 1);
        if (c.particles) sensor->spoil(0x1A, c.particles, 1);
        EXPECT_EQ(property_getval(all()), -1.0f);
        EXPECT_EQ(errno, -16);
        sim->clear_log();
        int code = 0;
        read(ppe(1, PM25_PM10), &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(items(), (std::vector<Bytes>{{0x04, 0x01}})) << "a half-made cache was taken for fresh";
    }
    // The device refusing the second half: its result, and still no cache.
    sim->inject(vrsim::Fault::with_status(0x0A), 1);
    sensor->spoil(0x0A, "1,2,3,4,5", 1);
    EXPECT_EQ(property_getval(all()), -1.0f);
    EXPECT_EQ(errno, -21);
}

TEST_F(Sensor, StatesStopReadingsUntilARestart) {
    property *state = ppe(PM25_SERVICE_CONTROL, PM25_STATE);
    property *pm25 = ppe(1, PM25_PM25);
    int code = 0;

    EXPECT_EQ(property_setval(state, 4.0f), 0);
    EXPECT_EQ(accessory_state(acc), ACCESSORY_STATE_LOW_POWER);
    EXPECT_EQ(property_getval(state), 4.0f);
    EXPECT_EQ(read(pm25, &code), -1.0f);
    EXPECT_LT(code, 0) << "a sleeping sensor's reading reported success";
    EXPECT_EQ(property_getval(all()), -1.0f);

    EXPECT_EQ(property_setval(state, 1.0f), 0);
    EXPECT_EQ(accessory_state(acc), ACCESSORY_STATE_LOW_POWER) << "a restart leaves the state field";
    EXPECT_GT(read(pm25, &code), 0.0f);
    EXPECT_EQ(code, 0);

    EXPECT_EQ(property_setval(state, 3.0f), 0);
    EXPECT_EQ(accessory_state(acc), ACCESSORY_STATE_HALTED);
    EXPECT_EQ(read(pm25, &code), -1.0f);
    EXPECT_EQ(code, -21);
    EXPECT_EQ(property_setval(state, 2.0f), 0);
    EXPECT_GT(read(pm25, &code), 0.0f);

    for (float bad : {5.0f, 0.0f, -1.0f, NAN}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(property_setval(state, bad), -1);
        EXPECT_EQ(errno, -24);
    }
    EXPECT_EQ(accessory_state(acc), ACCESSORY_STATE_HALTED);
}

TEST_F(Sensor, TransformTimeAndWorkModeTravelAsTheDeviceTakesThem) {
    property *time = ppe(PM25_SERVICE_CONTROL, PM25_TRANSFORM_TIME);
    property *mode = ppe(PM25_SERVICE_CONTROL, PM25_WORK_MODE);
    EXPECT_EQ(property_setval(time, 300.7f), 0);
    EXPECT_EQ(items(), (std::vector<Bytes>{{0x01, 0x02, 0x2C, 0x01}}));
    EXPECT_EQ(sensor->transform_time(), 300);
    EXPECT_EQ(property_getval(time), 300.0f);
    EXPECT_EQ(property_setval(mode, 2.0f), 0);
    EXPECT_EQ(sensor->work_mode(), 2);
    EXPECT_EQ(property_getval(mode), 2.0f);
    for (float bad : {-1.0f, 65536.0f, INFINITY}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(property_setval(time, bad), -1);
        EXPECT_EQ(errno, -24);
    }
    EXPECT_EQ(property_setval(mode, 256.0f), -1);
    EXPECT_EQ(property_setval(ppe(1, PM25_PM25), 1.0f), -1) << "a reading has no setter";
    EXPECT_EQ(errno, -22);
}

TEST_F(Sensor, ControlCodesReachTheReaderPart) {
    EXPECT_EQ(accessory_ctrl(acc, ACCESSORY_CTRL_POWER), 75);
    EXPECT_EQ(accessory_ctrl(acc, ACCESSORY_CTRL_POWEROFF_DELAY, 5), 0);
    EXPECT_EQ(sim->firmware().settings().poweroff_delay, 50);
    EXPECT_EQ(accessory_ctrl(acc, ACCESSORY_CTRL_POWEROFF_DELAY, 300), -24);
    EXPECT_EQ(accessory_ctrl(acc, 4), -22);
    EXPECT_EQ(accessory_ctrl(acc, ACCESSORY_CTRL_CLOSE_LINK), 0);
    EXPECT_EQ(virt_com_status(), 0);
    EXPECT_EQ(accessory_ctrl(acc, ACCESSORY_CTRL_POWER), -10) << "battery asked with no link";
}

// Devices that are not the sensor.
TEST(AccessoryOpen, RefusesDevicesThatAreNoSensor) {
    struct Case {
        const char *name;
        bool sensor;
        Bytes type_reply;
        int code;
    };
    const Case cases[] = {
        {"card reader", false, {}, -22},
        {"other type", true, {0x02, 0x01}, -78},
        {"short type", true, {0x01}, -16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto sim = vrsim::start_simulator();
        ASSERT_TRUE(sim);
        if (c.sensor) {
            auto sensor = std::make_shared<Pm25Sensor>();
            vrsim::install_pm25_commands(sim->firmware(), sensor);
            const Bytes reply = c.type_reply;
            sim->firmware().add_command(0x0F24, [sensor, reply](vrsim::FirmwareState &, const vrsim::Request &r) {
                if (r.data == Bytes{0x01, 0x03}) return vrsim::Reply::ok(reply);
                return sensor->read_item(r);
            });
        }
        vr::link::reset_exchange_state();
        errno = 0;
        EXPECT_EQ(accessory_open("uart", sim->path().c_str()), nullptr);
        EXPECT_EQ(errno, c.code);
        virt_com_close();
    }
    errno = 0;
    EXPECT_EQ(accessory_open(nullptr), nullptr);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(accessory_open("uart", "/nonexistent/tty"), nullptr);
    EXPECT_EQ(errno, -10);
}

}  // namespace
