// `sensor ...`: the PM2.5 sensor accessory: its identity and tree, its
// readings (once, or watched over time into a CSV file and a plot drawn by
// gnuplot), its settings and its power state.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "accessory.h"
#include "cli.h"
#include "command.h"
#include "pm25.h"

namespace cli {
namespace {

// The properties by the names the tool gives them.
struct Reading {
    const char *name;
    int service;
    int id;
    const char *unit;
};
constexpr Reading kProperties[] = {
    {"temperature", PM25_SERVICE_MONITOR, PM25_TEMPERATURE, "°C"},
    {"humidity", PM25_SERVICE_MONITOR, PM25_HUMIDITY, "%"},
    {"pm1.0", PM25_SERVICE_MONITOR, PM25_PM1, "µg/m³"},
    {"pm2.5", PM25_SERVICE_MONITOR, PM25_PM25, "µg/m³"},
    {"pm10", PM25_SERVICE_MONITOR, PM25_PM10, "µg/m³"},
    {"pm1.0-particles", PM25_SERVICE_MONITOR, PM25_PM1_PARTICLES, "/0.1 l"},
    {"pm2.5-particles", PM25_SERVICE_MONITOR, PM25_PM25_PARTICLES, "/0.1 l"},
    {"pm10-particles", PM25_SERVICE_MONITOR, PM25_PM10_PARTICLES, "/0.1 l"},
    {"adc", PM25_SERVICE_MONITOR, PM25_ADC, ""},
    {"transform-time", PM25_SERVICE_CONTROL, PM25_TRANSFORM_TIME, ""},
    {"work-mode", PM25_SERVICE_CONTROL, PM25_WORK_MODE, ""},
    {"state", PM25_SERVICE_CONTROL, PM25_STATE, ""},
};
// What `sensor read` without names shows: the readings the cache holds.
constexpr int kCachedReadings = 8;
// The columns of a watch, in the CSV file's order.
constexpr int kWatchColumns[] = {2, 3, 4, 0, 1, 5, 6, 7};

const Reading *find_property(const std::string &name) {
    for (const Reading &r : kProperties)
        if (name == r.name) return &r;
    return nullptr;
}

std::string property_names() {
    std::string names;
    for (const Reading &r : kProperties) names += (names.empty() ? "" : ", ") + std::string(r.name);
    return names;
}

struct SensorArgs : CommandArgs {
    std::vector<const Reading *> readings;  // read
    const Reading *setting = nullptr;       // set
    float value = 0;                        // set, mode
    double interval_s = 1.0;                // watch
    long count = 0;                         // watch: 0 until interrupted
    std::string csv, plot;                  // watch
};

// ---- the accessory, opened on the link the global options name

// The sensor's link: the reader link of the options (the simulator made a
// sensor with --sim), the accessory opened on it and closed at the end.
class OpenSensor {
public:
    explicit OpenSensor(const Options &opt) {
        Options o = opt;
        if (o.sim) {
            o.sim_args.emplace_back("--accessory");
            o.sim_args.emplace_back("pm25");
        }
        if (!open_reader(o)) return;
        const std::string com = o.sound ? "sound" : !o.usb.empty() ? o.usb : "uart";
        acc_ = accessory_open(com.c_str(), reader_path().c_str());
        if (!acc_) report_error("sensor open", errno);
    }
    ~OpenSensor() {
        if (acc_) accessory_close(acc_, nullptr, nullptr);
    }
    OpenSensor(const OpenSensor &) = delete;
    OpenSensor &operator=(const OpenSensor &) = delete;
    accessory *get() const { return acc_; }
    property *find(const Reading &r) const { return accessory_getppe(acc_, r.service, r.id); }

private:
    accessory *acc_ = nullptr;
};

// A property's value; false (after saying why) when it cannot be read.
bool read_value(property *p, const char *what, float &out) {
    out = property_getval(p);
    const int code = errno;
    if (out == -1.0f && code < 0) {
        report_error(what, code);
        return false;
    }
    return true;
}

// Reads every cached reading at once; false after saying why.
bool refresh(const OpenSensor &s) {
    property *all = accessory_getppe(s.get(), PM25_SERVICE_MONITOR, PM25_ALL);
    const float rc = property_getval(all);
    if (rc >= 0) return true;
    report_error("sensor read", errno < 0 ? errno : static_cast<int>(rc));
    return false;
}

void print_reading(const Reading &r, float value) {
    std::printf("%-16s %g%s%s\n", r.name, static_cast<double>(value), r.unit[0] ? " " : "", r.unit);
}

// ---- info

int sensor_info(const OpenSensor &s, SensorArgs &) {
    accessory *acc = s.get();
    std::printf("%s: %s, %s\n", accessory_name(acc), accessory_vendor(acc), accessory_product(acc));
    std::printf("type %d, version %d, state %d, uid %s\n", accessory_type(acc), accessory_version(acc),
                accessory_state(acc),
                to_hex(accessory_uid(acc), static_cast<std::size_t>(accessory_uidlen(acc))).c_str());
    for (int i = 0; i < accessory_svccnt(acc); ++i) {
        service *svc = accessory_getsvcbyid(acc, i);
        std::printf("%s %s (id %d)\n", i + 1 < accessory_svccnt(acc) ? "├─" : "└─", service_name(svc),
                    service_type(svc));
        const char *stem = i + 1 < accessory_svccnt(acc) ? "│ " : "  ";
        for (int k = 0; k < service_ppecnt(svc); ++k) {
            property *p = svc->properties[k];
            std::printf("%s %s 0x%04X %s (id %d)%s\n", stem, k + 1 < service_ppecnt(svc) ? "├─" : "└─",
                        accessory_ppeid(acc, p), property_name(p), property_type(p), p->set ? ", settable" : "");
        }
    }
    return 0;
}

// ---- read

int sensor_read(const OpenSensor &s, SensorArgs &a) {
    if (a.readings.empty()) {
        if (!refresh(s)) return 1;
        for (int i = 0; i < kCachedReadings; ++i) a.readings.push_back(&kProperties[i]);
    }
    for (const Reading *r : a.readings) {
        float value = 0;
        if (!read_value(s.find(*r), r->name, value)) return 1;
        print_reading(*r, value);
    }
    return 0;
}

// ---- set and mode

int set_property(const OpenSensor &s, const Reading &r, float value) {
    if (property_setval(s.find(r), value) < 0) return report_error(r.name, errno);
    std::printf("%s set to %g\n", r.name, static_cast<double>(value));
    return 0;
}

int sensor_set(const OpenSensor &s, SensorArgs &a) { return set_property(s, *a.setting, a.value); }

int sensor_mode(const OpenSensor &s, SensorArgs &a) {
    if (a.setting) return set_property(s, *a.setting, a.value);
    float mode = 0;
    if (!read_value(s.find(*find_property("work-mode")), "work mode", mode)) return 1;
    std::printf("work mode %g, state %d\n", static_cast<double>(mode), accessory_state(s.get()));
    return 0;
}

// ---- watch

volatile std::sig_atomic_t g_interrupted = 0;
void on_interrupt(int) { g_interrupted = 1; }

// SIGINT and SIGTERM end the watch after the current sample; the previous
// handlers come back at the end.
class InterruptWatch {
public:
    InterruptWatch() {
        struct sigaction sa {};
        sa.sa_handler = on_interrupt;  // no SA_RESTART: the sleep ends at once
        sigemptyset(&sa.sa_mask);
        g_interrupted = 0;
        sigaction(SIGINT, &sa, &old_int_);
        sigaction(SIGTERM, &sa, &old_term_);
    }
    ~InterruptWatch() {
        sigaction(SIGINT, &old_int_, nullptr);
        sigaction(SIGTERM, &old_term_, nullptr);
    }

private:
    struct sigaction old_int_ {}, old_term_ {};
};

double seconds_since(const timespec &start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

void sleep_seconds(double s) {
    timespec t{static_cast<time_t>(s), static_cast<long>((s - std::floor(s)) * 1e9)};
    nanosleep(&t, nullptr);  // an interrupt ends it early
}

// gnuplot's single-quoted text: a quote is doubled.
std::string quoted(const std::string &text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

// Draws PM2.5 and PM10 above temperature and humidity, over time.
bool draw_plot(const std::string &data, const std::string &png) {
    std::FILE *gp = popen("gnuplot", "w");
    if (!gp) {
        std::fprintf(stderr, "sensor watch: cannot run gnuplot: %s\n", std::strerror(errno));
        return false;
    }
    std::fprintf(gp,
                 "set terminal pngcairo size 900,640\n"
                 "set output %s\n"
                 "set datafile separator ','\n"
                 "set key autotitle columnhead\n"
                 "set xlabel 'seconds'\n"
                 "set multiplot layout 2,1\n"
                 "set title 'particulate matter'\nset ylabel 'µg/m³'\n"
                 "plot %s using 1:3 with linespoints title 'PM2.5', '' using 1:4 with linespoints title 'PM10'\n"
                 "set title 'climate'\nset ylabel '°C'\nset y2label '%%'\nset y2tics\n"
                 "plot %s using 1:5 with linespoints title 'temperature', "
                 "'' using 1:6 axes x1y2 with linespoints title 'humidity'\n"
                 "unset multiplot\n",
                 quoted(png).c_str(), quoted(data).c_str(), quoted(data).c_str());
    const int status = pclose(gp);
    if (status != 0) {
        std::fprintf(stderr, "sensor watch: gnuplot failed to draw %s\n", png.c_str());
        return false;
    }
    return true;
}

// The CSV file of a watch: the one asked for, or a temporary one for the
// plot alone (removed at the end).
class WatchFile {
public:
    explicit WatchFile(const SensorArgs &a) : path_(a.csv) {
        if (path_.empty() && !a.plot.empty()) {
            char name[] = "/tmp/vantel-rfid-watch-XXXXXX";
            const int fd = mkstemp(name);
            if (fd >= 0) {
                close(fd);
                path_ = name;
                temporary_ = true;
            }
        }
        if (!path_.empty()) file_ = std::fopen(path_.c_str(), "w");
        if (file_) std::fputs("seconds,pm1.0,pm2.5,pm10,temperature,humidity,pm1.0_particles,pm2.5_particles,"
                              "pm10_particles\n", file_);
    }
    ~WatchFile() {
        finish();
        if (temporary_) std::remove(path_.c_str());
    }
    WatchFile(const WatchFile &) = delete;
    WatchFile &operator=(const WatchFile &) = delete;
    bool wanted_and_missing() const { return !path_.empty() && !file_; }
    const std::string &path() const { return path_; }
    void add(double t, const float (&values)[kCachedReadings]) {
        if (!file_) return;
        std::fprintf(file_, "%.3f", t);
        for (int c : kWatchColumns) std::fprintf(file_, ",%g", static_cast<double>(values[c]));
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    bool finish() {
        if (!file_) return true;
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

private:
    std::string path_;
    bool temporary_ = false;
    std::FILE *file_ = nullptr;
};

// One sample: every cached reading, refreshed from the device.
bool take_sample(const OpenSensor &s, float (&values)[kCachedReadings]) {
    if (!refresh(s)) return false;
    for (int i = 0; i < kCachedReadings; ++i)
        if (!read_value(s.find(kProperties[i]), kProperties[i].name, values[i])) return false;
    return true;
}

int sensor_watch(const OpenSensor &s, SensorArgs &a) {
    WatchFile file(a);
    if (file.wanted_and_missing()) {
        std::fprintf(stderr, "sensor watch: cannot write %s: %s\n", file.path().c_str(), std::strerror(errno));
        return 1;
    }
    // Each sample asks the device: the cache lives half an interval.
    property *all = accessory_getppe(s.get(), PM25_SERVICE_MONITOR, PM25_ALL);
    all->ctrl(all, PM25_CACHE_VALIDITY, static_cast<uint32_t>(a.interval_s * 500));
    InterruptWatch interrupts;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::printf("%8s %9s %9s %8s %9s\n", "seconds", "PM2.5", "PM10", "°C", "humidity");
    int status = 0;
    for (long n = 0; !g_interrupted && (a.count == 0 || n < a.count); ++n) {
        if (n > 0) sleep_seconds(a.interval_s * static_cast<double>(n) - seconds_since(start));
        if (g_interrupted) break;
        float v[kCachedReadings];
        const double t = seconds_since(start);
        if (!take_sample(s, v)) {
            status = 1;
            break;
        }
        std::printf("%8.1f %9g %9g %8g %8g%%\n", t, static_cast<double>(v[3]), static_cast<double>(v[4]),
                    static_cast<double>(v[0]), static_cast<double>(v[1]));
        std::fflush(stdout);
        file.add(t, v);
    }
    if (!file.finish()) {
        std::fprintf(stderr, "sensor watch: cannot write %s\n", file.path().c_str());
        return 1;
    }
    if (!a.plot.empty() && !draw_plot(file.path(), a.plot)) return 1;
    return status;
}

// ---- operands

using SensorWork = int (*)(const OpenSensor &, SensorArgs &);

struct SensorSubcommand {
    const char *name;
    const char *operands;
    const char *summary;
    std::string (*check)(SensorArgs &);
    SensorWork run;
};

std::string check_read(SensorArgs &a) {
    for (std::size_t i = 1; i < a.operands.size(); ++i) {
        const Reading *r = find_property(a.operands[i]);
        if (!r) return "unknown property " + a.operands[i] + " (properties: " + property_names() + ")";
        a.readings.push_back(r);
    }
    return {};
}

std::optional<float> value_operand(const std::string &text) {
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !std::isfinite(v)) return std::nullopt;
    return static_cast<float>(v);
}

std::string check_set(SensorArgs &a) {
    if (a.operands.size() != 3) return "set PROPERTY VALUE";
    a.setting = find_property(a.operands[1]);
    if (!a.setting || a.setting->service != PM25_SERVICE_CONTROL)
        return a.operands[1] + " cannot be set (settable: transform-time, work-mode, state)";
    const auto v = value_operand(a.operands[2]);
    if (!v) return "VALUE is a number";
    a.value = *v;
    return {};
}

// mode: show; a work mode number; or wake|halt|sleep (the state).
std::string check_mode(SensorArgs &a) {
    if (a.operands.size() == 1) return {};
    const std::string usage = "mode [MODE | wake | halt | sleep]";
    if (a.operands.size() != 2) return usage;
    const std::string &w = a.operands[1];
    const struct {
        const char *word;
        float state;
    } kStates[] = {{"wake", 1}, {"halt", 3}, {"sleep", 4}};
    for (const auto &s : kStates)
        if (w == s.word) {
            a.setting = find_property("state");
            a.value = s.state;
            return {};
        }
    const auto mode = parse_number(w, 0, 255);
    if (!mode) return usage + " (a work mode is 0..255)";
    a.setting = find_property("work-mode");
    a.value = static_cast<float>(*mode);
    return {};
}

std::string check_watch(SensorArgs &a) {
    if (a.operands.size() != 1) return "watch takes options only";
    if (!a.plot.empty()) {
        const std::string &p = a.plot;
        if (p.size() < 5 || p.compare(p.size() - 4, 4, ".png") != 0) return "--plot takes a FILE.png";
    }
    return {};
}

constexpr SensorSubcommand kSensorSubcommands[] = {
    {"info", "", "identity, services and properties as a tree", takes_no_operands<SensorArgs>, sensor_info},
    {"read", "[PROPERTY...]", "one line per reading with its unit (default: every cached reading)", check_read,
     sensor_read},
    {"watch", "[--interval S] [--count N] [--csv FILE] [--plot FILE.png]",
     "a sample every interval until interrupted (or N samples), saved and plotted", check_watch, sensor_watch},
    {"set", "PROPERTY VALUE", "set transform-time, work-mode or state", check_set, sensor_set},
    {"mode", "[MODE | wake | halt | sleep]", "show or set the work mode, or wake, halt or put the sensor to sleep",
     check_mode, sensor_mode},
};

std::string check_sensor(SensorArgs &a) {
    a.needs_reader = false;  // the sensor's own open, in the work
    const SensorSubcommand *sub = find_subcommand(kSensorSubcommands, a.operands);
    if (!sub) return no_subcommand(a.operands);
    if (std::string(sub->name) != "watch" && (a.count || !a.csv.empty() || !a.plot.empty() || a.interval_s != 1.0))
        return "--interval, --count, --csv and --plot belong to watch";
    return sub->check(a);
}

int run_sensor(const Options &opt, SensorArgs &a) {
    const SensorSubcommand *sub = find_subcommand(kSensorSubcommands, a.operands);
    OpenSensor sensor(opt);
    if (!sensor.get()) {
        close_reader();
        return 1;
    }
    return sub->run(sensor, a);
}

void list_sensor_subcommands(std::FILE *out) {
    print_subcommands(out, kSensorSubcommands);
    std::fprintf(out, "properties: %s\n", property_names().c_str());
}

std::string set_interval(SensorArgs &a, const char *v) {
    const auto s = value_operand(v);
    if (!s || *s < 0.05f || *s > 86400.0f) return "--interval takes seconds, 0.05..86400";
    a.interval_s = *s;
    return {};
}
std::string set_count(SensorArgs &a, const char *v) {
    const auto n = parse_number(v, 1, 1000000);
    if (!n) return "--count takes 1..1000000";
    a.count = *n;
    return {};
}
std::string set_csv(SensorArgs &a, const char *v) {
    a.csv = v;
    return a.csv.empty() ? "--csv takes a file name" : std::string();
}
std::string set_plot(SensorArgs &a, const char *v) {
    a.plot = v;
    return {};
}

constexpr Option<SensorArgs> kSensorOptions[] = {
    {"interval", "S", "watch: seconds between samples (default 1)", set_interval},
    {"count", "N", "watch: stop after N samples", set_count},
    {"csv", "FILE", "watch: write the samples to FILE as CSV", set_csv},
    {"plot", "FILE.png", "watch: draw PM2.5, PM10, temperature and humidity over time (gnuplot)", set_plot},
};

constexpr Command<SensorArgs> kSensor = {
    "sensor",
    "the PM2.5 sensor accessory: identity, readings, watch and plot, settings",
    "info | read [PROPERTY...] | watch [OPTIONS] | set PROPERTY VALUE | mode [MODE|wake|halt|sleep]",
    "Opens the PM2.5 sensor on the link (with --sim, a simulated sensor) and shows its identity\n"
    "and properties, reads it, watches it over time, or changes its settings and power state.\n"
    "Opening restarts the sensor and closing halts it.\n",
    list_sensor_subcommands,
    kSensorOptions,
    check_sensor,
    run_sensor,
};

}  // namespace

constinit const CommandEntry kSensorCommand = entry_for<kSensor>();

}  // namespace cli
