// The PM2.5 sensor: its identity, a "Monitor Service" of readings and a
// "Control Service" of settings. Every getter and setter is one device
// command; the "all Agronomist" property refreshes every reading at once
// into a cache that the single readings answer from while it is fresh.
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "accessory/device.h"
#include "accessory/reading.h"
#include "core/errors.h"
#include "log.h"
#include "pm25.h"
#include "sys.h"

namespace {

using vr::ReaderCommand;
using vr::accessory::kGroupControl;
using vr::accessory::kGroupMeasurement;
using vr::accessory::kReadItem;
using vr::accessory::read_item;
using vr::accessory::ReadingRange;

constexpr uint32_t kDefaultValidityMs = 1000;
constexpr uint8_t kUidLength = 8;

// What the sensor can measure; a reading outside is a bad answer.
constexpr ReadingRange kTemperatureRange{-40, 125};  // °C
constexpr ReadingRange kHumidityRange{0, 100};       // % relative humidity
constexpr ReadingRange kMassRange{0, 1000};          // µg/m³
constexpr ReadingRange kParticleRange{0, 65535};     // particles per 0.1 l

// Measurement items (group 1).
constexpr uint8_t kItemTemperature = 0x01;
constexpr uint8_t kItemHumidity = 0x02;
constexpr uint8_t kItemPm25 = 0x03;
constexpr uint8_t kItemPm10 = 0x04;
constexpr uint8_t kItemAdc = 0x05;
constexpr uint8_t kItemPm1 = 0x06;
constexpr uint8_t kItemAllMasses = 0x0A;
constexpr uint8_t kItemPm25Particles = 0x13;
constexpr uint8_t kItemPm10Particles = 0x14;
constexpr uint8_t kItemPm1Particles = 0x16;
constexpr uint8_t kItemAllParticles = 0x1A;
// Control items (group 2).
constexpr uint8_t kItemTransformTime = 0x01;
constexpr uint8_t kItemWorkMode = 0x02;

// The fields of the two "all" replies, in their order, and where each goes.
struct ListField {
    int slot;
    ReadingRange range;
};
constexpr ListField kMassFields[] = {
    {PM25_SLOT_PM1, kMassRange},
    {PM25_SLOT_PM25, kMassRange},
    {PM25_SLOT_PM10, kMassRange},
    {PM25_SLOT_TEMPERATURE, kTemperatureRange},
    {PM25_SLOT_HUMIDITY, kHumidityRange},
};
constexpr ListField kParticleFields[] = {
    {PM25_SLOT_PM1_PARTICLES, kParticleRange},
    {PM25_SLOT_PM25_PARTICLES, kParticleRange},
    {PM25_SLOT_PM10_PARTICLES, kParticleRange},
    {PM25_SLOT_TEMPERATURE, kTemperatureRange},
    {PM25_SLOT_HUMIDITY, kHumidityRange},
};

float fail_reading(int code) {
    errno = code;
    return -1.0f;
}

// ---- the reading cache

uint64_t now_ms() { return getTickCount(); }

bool is_fresh(const pm25_cache &cache) { return now_ms() - cache.stamp < cache.validity_ms; }

// A cache that no reading is taken from until the next whole refresh.
void mark_stale(pm25_cache &cache) { cache.stamp = now_ms() - cache.validity_ms; }

pm25_cache *new_cache(uint32_t validity_ms) {
    auto *cache = static_cast<pm25_cache *>(std::calloc(1, sizeof(pm25_cache)));
    if (!cache) return nullptr;
    cache->validity_ms = validity_ms;
    mark_stale(*cache);
    return cache;
}

// The "all Agronomist" property beside a reading, found without touching
// errno (the caller's errno is the getter's result).
property *all_property_beside(const property &ppe) {
    const service *svc = ppe.owner;
    if (!svc) return nullptr;
    for (int i = 0; i < svc->property_count; ++i)
        if (svc->properties[i] && svc->properties[i]->id == PM25_ALL) return svc->properties[i];
    return nullptr;
}

const pm25_cache *fresh_cache_beside(const property &ppe) {
    const property *all = all_property_beside(ppe);
    if (!all || !all->cache) return nullptr;
    const auto *cache = static_cast<const pm25_cache *>(all->cache);
    return is_fresh(*cache) ? cache : nullptr;
}

// ---- readings

float single_reading(property *ppe, uint8_t item, int slot, ReadingRange range) {
    if (!ppe) return fail_reading(vr::kEArg);
    if (const pm25_cache *cache = fresh_cache_beside(*ppe)) return cache->slot[slot];
    ReaderCommand c(kReadItem);
    if (read_item(c, item, kGroupMeasurement) < 0) return -1.0f;
    const auto value = vr::accessory::parse_reading(c.reply(), range);
    if (!value) {
        log_print(1, "pm25: %s: the sensor's answer is no reading (%d bytes)\n", ppe->name,
                  static_cast<int>(c.reply().size()));
        return fail_reading(vr::kEMsgWrong);
    }
    return *value;
}

// One of the "all" commands, its fields stored into the cache. 0; the
// exchange's result; or -1 with errno -16 when the answer holds no reading
// or a bad one.
template <std::size_t N>
int refresh_part(pm25_cache &cache, uint8_t item, const ListField (&fields)[N], const char *what) {
    ReaderCommand c(kReadItem);
    const int rc = read_item(c, item, kGroupMeasurement);
    if (rc < 0) return rc;
    ReadingRange ranges[N];
    float values[N];
    for (std::size_t i = 0; i < N; ++i) ranges[i] = fields[i].range;
    const auto stored = vr::accessory::parse_reading_list(c.reply(), ranges, values);
    if (!stored || *stored == 0) {
        log_print(1, "pm25: all Agronomist: the sensor's %s are no readings (%d bytes)\n", what,
                  static_cast<int>(c.reply().size()));
        return vr::fail(vr::kEMsgWrong);
    }
    for (std::size_t i = 0; i < *stored; ++i) cache.slot[fields[i].slot] = values[i];
    return 0;
}

// Reads a control item of two bytes, high first, or one byte.
float control_reading(uint8_t item, std::size_t bytes) {
    ReaderCommand c(kReadItem);
    if (read_item(c, item, kGroupControl) < 0) return -1.0f;
    const auto reply = c.reply();
    if (reply.size() < bytes) return fail_reading(vr::kEMsgWrong);
    return bytes == 2 ? static_cast<float>(reply[0] << 8 | reply[1]) : static_cast<float>(reply[0]);
}

// A setting's value as the integer the device takes; false when the float
// is not within 0..high.
bool setting_value(float value, long high, long &out) {
    if (!std::isfinite(value) || value < 0 || value >= static_cast<float>(high) + 1.0f) return false;
    out = static_cast<long>(value);
    return true;
}

accessory *accessory_of(property *ppe) { return ppe && ppe->owner ? ppe->owner->owner : nullptr; }

// ---- the state's transitions

int32_t enter_state(accessory &acc, int (*command)(), int32_t state) {
    if (command() < 0) return -1;
    acc.state = state;
    return 0;
}

property *state_property(accessory *acc) { return accessory_getppe(acc, PM25_SERVICE_CONTROL, PM25_STATE); }

int32_t set_state_through_property(accessory *acc, float state) {
    property *ppe = state_property(acc);
    if (!ppe || !ppe->set) return -1;
    return ppe->set(ppe, state);
}

// ---- making the tree

struct PropertyRow {
    const char *name;
    int32_t id;
    float (*get)(property *);
    int32_t (*set)(property *, float);
    int32_t (*ctrl)(property *, int, ...);
};

property *make_property(const PropertyRow &row) {
    auto *ppe = static_cast<property *>(std::calloc(1, sizeof(property)));
    if (!ppe) return errno = vr::kENoMem, nullptr;
    ppe->name = row.name;
    ppe->id = row.id;
    ppe->get = row.get;
    ppe->set = row.set;
    ppe->ctrl = row.ctrl;
    return ppe;
}

template <std::size_t N>
service *make_service(const char *name, int32_t id, const property_maker (&makers)[N]) {
    auto *svc = static_cast<service *>(std::calloc(1, sizeof(service)));
    if (!svc) return errno = vr::kENoMem, nullptr;
    svc->name = name;
    svc->id = id;
    for (property_maker maker : makers) {
        if (service_addppe(svc, maker) == 0) continue;
        const int code = errno;
        service_free(svc);
        std::free(svc);
        errno = code < 0 ? code : vr::kENoMem;
        return nullptr;
    }
    return svc;
}

char *copy_text(const char *text) {
    const std::size_t n = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(std::malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

int fill_identity(accessory &acc) {
    acc.vendor = copy_text("dravimo,shenzhen");
    acc.product = copy_text("PM2.5/10 Sensor");
    acc.name = copy_text("PM2.5 Sensor");
    if (!acc.vendor || !acc.product || !acc.name) return vr::kENoMem;
    acc.type = ACCESSORY_TYPE_PM25;
    const int version = get_accessory_version();
    if (version < 0) return errno;
    acc.version = version;
    acc.state = ACCESSORY_STATE_READY;
    const int uid_length = get_accessory_uid(acc.uid, sizeof acc.uid);
    if (uid_length < 0) return errno;
    if (uid_length != kUidLength) {
        log_print(1, "pm25: the sensor's uid has %d bytes\n", uid_length);
        return vr::kEMsgWrong;
    }
    acc.uid_len = kUidLength;
    return 0;
}

}  // namespace

// ---- getters and setters

VR_API float pm25_get_temp(property *p) { return single_reading(p, kItemTemperature, PM25_SLOT_TEMPERATURE, kTemperatureRange); }
VR_API float pm25_get_humi(property *p) { return single_reading(p, kItemHumidity, PM25_SLOT_HUMIDITY, kHumidityRange); }
VR_API float pm25_get_pm25(property *p) { return single_reading(p, kItemPm25, PM25_SLOT_PM25, kMassRange); }
VR_API float pm25_get_pm10(property *p) { return single_reading(p, kItemPm10, PM25_SLOT_PM10, kMassRange); }
VR_API float pm25_get_pm1(property *p) { return single_reading(p, kItemPm1, PM25_SLOT_PM1, kMassRange); }
VR_API float pm25_get_pm25_particle(property *p) {
    return single_reading(p, kItemPm25Particles, PM25_SLOT_PM25_PARTICLES, kParticleRange);
}
VR_API float pm25_get_pm10_particle(property *p) {
    return single_reading(p, kItemPm10Particles, PM25_SLOT_PM10_PARTICLES, kParticleRange);
}
VR_API float pm25_get_pm1_particle(property *p) {
    return single_reading(p, kItemPm1Particles, PM25_SLOT_PM1_PARTICLES, kParticleRange);
}

// The cache holds no ADC value: it is always read from the device.
VR_API float pm25_get_adc(property *ppe) {
    (void)ppe;
    ReaderCommand c(kReadItem);
    if (read_item(c, kItemAdc, kGroupMeasurement) < 0) return -1.0f;
    if (c.reply().empty()) return fail_reading(vr::kEMsgWrong);
    return c.reply()[0];
}

VR_API float pm25_get_all(property *ppe) {
    if (!ppe) return fail_reading(vr::kEArg);
    uint32_t validity = kDefaultValidityMs;
    if (auto *old = static_cast<pm25_cache *>(ppe->cache)) {
        if (is_fresh(*old)) return 0.0f;
        validity = old->validity_ms;
        std::free(old);
        ppe->cache = nullptr;
    }
    pm25_cache *cache = new_cache(validity);
    if (!cache) return fail_reading(vr::kENoMem);
    ppe->cache = cache;
    // The cache counts as fresh only once both answers are in: a refresh
    // that fails half-way leaves no zeros for the single readings to take.
    int rc = refresh_part(*cache, kItemAllMasses, kMassFields, "masses");
    if (rc < 0) return static_cast<float>(rc);
    rc = refresh_part(*cache, kItemAllParticles, kParticleFields, "particle counts");
    if (rc < 0) return static_cast<float>(rc);
    cache->stamp = now_ms();
    return 0.0f;
}

VR_API int32_t ppe_all_ctrl(property *ppe, int code, ...) {
    if (!ppe) return vr::fail(vr::kEArg);
    if (code != PM25_CACHE_VALIDITY) return vr::fail(vr::kENoCmd);
    va_list args;
    va_start(args, code);
    const uint32_t validity = va_arg(args, uint32_t);
    va_end(args);
    auto *cache = static_cast<pm25_cache *>(ppe->cache);
    if (!cache) {
        cache = new_cache(validity);
        if (!cache) return vr::fail(vr::kENoMem);
        ppe->cache = cache;
    }
    // A shorter validity may end the freshness of the cache at once; the
    // stamp keeps the time of the last refresh.
    cache->validity_ms = validity;
    return 0;
}

VR_API float pm25_get_trantime(property *ppe) {
    (void)ppe;
    return control_reading(kItemTransformTime, 2);
}

VR_API int32_t pm25_set_trantime(property *ppe, float value) {
    (void)ppe;
    long v = 0;
    if (!setting_value(value, 0xFFFF, v)) return vr::fail(vr::kEArg);
    const int rc = vr::accessory::write_item(kItemTransformTime, kGroupControl,
                                             {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)});
    return rc < 0 ? -1 : rc;
}

VR_API float pm25_get_workmode(property *ppe) {
    (void)ppe;
    return control_reading(kItemWorkMode, 1);
}

VR_API int32_t pm25_set_workmode(property *ppe, float value) {
    (void)ppe;
    long v = 0;
    if (!setting_value(value, 0xFF, v)) return vr::fail(vr::kEArg);
    const int rc = vr::accessory::write_item(kItemWorkMode, kGroupControl, {static_cast<uint8_t>(v)});
    return rc < 0 ? -1 : rc;
}

VR_API float pm25_get_state(property *ppe) {
    const accessory *acc = accessory_of(ppe);
    if (!acc) return fail_reading(vr::kEArg);
    return static_cast<float>(acc->state);
}

VR_API int32_t pm25_set_state(property *ppe, float value) {
    accessory *acc = accessory_of(ppe);
    if (!acc || !std::isfinite(value)) return vr::fail(vr::kEArg);
    switch (static_cast<int>(value)) {
    case 1:
    case 2: return accessory_restart();
    case 3: return enter_state(*acc, accessory_halt, ACCESSORY_STATE_HALTED);
    case 4: return enter_state(*acc, accessory_ulp, ACCESSORY_STATE_LOW_POWER);
    default: return vr::fail(vr::kEArg);
    }
}

// ---- the accessory's operations

VR_API int32_t pm25_open(accessory *acc) { return set_state_through_property(acc, 2.0f); }

VR_API int32_t pm25_close(accessory *acc, void *first, void *second) {
    (void)first, (void)second;
    return set_state_through_property(acc, 3.0f);
}

VR_API int32_t pm25_ctrl(accessory *acc, int code) {
    (void)acc, (void)code;
    return vr::kENoCmd;
}

// ---- the tree: each property's getter, setter and control

namespace {

constexpr PropertyRow kTemperature = {"Temperature", PM25_TEMPERATURE, pm25_get_temp, nullptr, nullptr};
constexpr PropertyRow kHumidity = {"Humidity", PM25_HUMIDITY, pm25_get_humi, nullptr, nullptr};
constexpr PropertyRow kPm25 = {"PM2.5 Agronomist", PM25_PM25, pm25_get_pm25, nullptr, nullptr};
constexpr PropertyRow kPm10 = {"PM10 Agronomist", PM25_PM10, pm25_get_pm10, nullptr, nullptr};
constexpr PropertyRow kAdc = {"ADC Value", PM25_ADC, pm25_get_adc, nullptr, nullptr};
constexpr PropertyRow kPm1 = {"PM1.0 Agronomist", PM25_PM1, pm25_get_pm1, nullptr, nullptr};
constexpr PropertyRow kAll = {"all Agronomist", PM25_ALL, pm25_get_all, nullptr, ppe_all_ctrl};
constexpr PropertyRow kPm25Particles = {"PM2.5 particle Agronomist", PM25_PM25_PARTICLES, pm25_get_pm25_particle,
                                         nullptr, nullptr};
constexpr PropertyRow kPm10Particles = {"PM10 particle Agronomist", PM25_PM10_PARTICLES, pm25_get_pm10_particle,
                                         nullptr, nullptr};
constexpr PropertyRow kPm1Particles = {"PM1.0 particle Agronomist", PM25_PM1_PARTICLES, pm25_get_pm1_particle,
                                        nullptr, nullptr};
constexpr PropertyRow kTransformTime = {"Transform Time", PM25_TRANSFORM_TIME, pm25_get_trantime,
                                         pm25_set_trantime, nullptr};
constexpr PropertyRow kWorkMode = {"Work Mode", PM25_WORK_MODE, pm25_get_workmode, pm25_set_workmode, nullptr};
constexpr PropertyRow kState = {"State", PM25_STATE, pm25_get_state, pm25_set_state, nullptr};

}  // namespace

VR_API property *pm25_make_property_temp(service *, void *) { return make_property(kTemperature); }
VR_API property *pm25_make_property_humi(service *, void *) { return make_property(kHumidity); }
VR_API property *pm25_make_property_pm25(service *, void *) { return make_property(kPm25); }
VR_API property *pm25_make_property_pm10(service *, void *) { return make_property(kPm10); }
VR_API property *pm25_make_property_adc(service *, void *) { return make_property(kAdc); }
VR_API property *pm25_make_property_pm1(service *, void *) { return make_property(kPm1); }
VR_API property *pm25_make_property_all(service *, void *) { return make_property(kAll); }
VR_API property *pm25_make_property_pm25_particle(service *, void *) { return make_property(kPm25Particles); }
VR_API property *pm25_make_property_pm10_particle(service *, void *) { return make_property(kPm10Particles); }
VR_API property *pm25_make_property_pm1_particle(service *, void *) { return make_property(kPm1Particles); }
VR_API property *pm25_make_property_trantime(service *, void *) { return make_property(kTransformTime); }
VR_API property *pm25_make_property_workmode(service *, void *) { return make_property(kWorkMode); }
VR_API property *pm25_make_property_state(service *, void *) { return make_property(kState); }

namespace {

// Properties in the order they are added: a property's index in its
// service is its place here.
constexpr property_maker kMonitorProperties[] = {
    pm25_make_property_temp,          pm25_make_property_humi,          pm25_make_property_pm25,
    pm25_make_property_pm10,          pm25_make_property_adc,           pm25_make_property_pm1,
    pm25_make_property_all,           pm25_make_property_pm25_particle, pm25_make_property_pm10_particle,
    pm25_make_property_pm1_particle,
};
constexpr property_maker kControlProperties[] = {
    pm25_make_property_trantime,
    pm25_make_property_workmode,
    pm25_make_property_state,
};

}  // namespace

VR_API service *pm25_make_service_monitor(accessory *, void *) {
    return make_service("Monitor Service", PM25_SERVICE_MONITOR, kMonitorProperties);
}
VR_API service *pm25_make_service_control(accessory *, void *) {
    return make_service("Control Service", PM25_SERVICE_CONTROL, kControlProperties);
}

VR_API int pm25_init(accessory *acc) {
    if (!acc) return vr::kEArg;
    if (const int rc = fill_identity(*acc); rc != 0) return rc;
    acc->open = pm25_open;
    acc->close = pm25_close;
    acc->ctrl = pm25_ctrl;
    if (const int rc = accessory_addsvc(acc, pm25_make_service_monitor); rc != 0) return rc;
    return accessory_addsvc(acc, pm25_make_service_control);
}
