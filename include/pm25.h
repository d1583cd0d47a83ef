/* The PM2.5 sensor accessory: a "Monitor Service" of readings and a
 * "Control Service" of settings (accessory.h). */
#ifndef VR_PM25_H
#define VR_PM25_H

#include <stdint.h>
#include "accessory.h"
#include "vr_api.h"

VR_BEGIN_DECLS

#define PM25_SERVICE_MONITOR 1
#define PM25_SERVICE_CONTROL 2

/* Property ids. */
#define PM25_TEMPERATURE 257
#define PM25_HUMIDITY 258
#define PM25_PM25 259
#define PM25_PM10 260
#define PM25_ADC 261
#define PM25_PM1 262
#define PM25_ALL 266
#define PM25_PM25_PARTICLES 275
#define PM25_PM10_PARTICLES 276
#define PM25_PM1_PARTICLES 278
#define PM25_TRANSFORM_TIME 513
#define PM25_WORK_MODE 514
#define PM25_STATE 515

/* The reading cache kept by the "all Agronomist" property: the latest
 * full refresh, fresh while (now - stamp) < validity_ms. */
enum pm25_cache_slot {
    PM25_SLOT_TEMPERATURE = 0,
    PM25_SLOT_HUMIDITY = 1,
    PM25_SLOT_PM25 = 2,
    PM25_SLOT_PM10 = 3,
    PM25_SLOT_PM1 = 4,
    PM25_SLOT_PM25_PARTICLES = 6,
    PM25_SLOT_PM10_PARTICLES = 7,
    PM25_SLOT_PM1_PARTICLES = 8,
    PM25_SLOTS = 9
};
typedef struct pm25_cache {
    float slot[PM25_SLOTS];
    uint32_t validity_ms; /* 1000 when first made */
    uint64_t stamp;       /* getTickCount of the last refresh */
} pm25_cache;

/* The cache control code of the "all Agronomist" property:
 * property_ctrl(all, PM25_CACHE_VALIDITY, uint32_t ms). */
#define PM25_CACHE_VALIDITY 1

/* Fills an accessory record as the sensor: identity from the device,
 * services and properties. 0, or errno of the failed identity command. */
VR_API int pm25_init(accessory *acc);
/* Restart (state setter with 2); -1 when the state property is missing. */
VR_API int32_t pm25_open(accessory *acc);
/* Halt (state setter with 3). */
VR_API int32_t pm25_close(accessory *acc, void *first, void *second);
VR_API int32_t pm25_ctrl(accessory *acc, int code);

/* Makers of the services and properties. */
VR_API service *pm25_make_service_monitor(accessory *owner, void *maker);
VR_API service *pm25_make_service_control(accessory *owner, void *maker);
VR_API property *pm25_make_property_temp(service *owner, void *maker);
VR_API property *pm25_make_property_humi(service *owner, void *maker);
VR_API property *pm25_make_property_pm25(service *owner, void *maker);
VR_API property *pm25_make_property_pm10(service *owner, void *maker);
VR_API property *pm25_make_property_adc(service *owner, void *maker);
VR_API property *pm25_make_property_pm1(service *owner, void *maker);
VR_API property *pm25_make_property_all(service *owner, void *maker);
VR_API property *pm25_make_property_pm25_particle(service *owner, void *maker);
VR_API property *pm25_make_property_pm10_particle(service *owner, void *maker);
VR_API property *pm25_make_property_pm1_particle(service *owner, void *maker);
VR_API property *pm25_make_property_trantime(service *owner, void *maker);
VR_API property *pm25_make_property_workmode(service *owner, void *maker);
VR_API property *pm25_make_property_state(service *owner, void *maker);

/* Getters: the reading, or -1.0 with errno set when the device command
 * fails or its answer is not a decimal number within the property's
 * range that fits its field (-16). */
VR_API float pm25_get_temp(property *ppe);
VR_API float pm25_get_humi(property *ppe);
VR_API float pm25_get_pm25(property *ppe);
VR_API float pm25_get_pm10(property *ppe);
VR_API float pm25_get_adc(property *ppe);
VR_API float pm25_get_pm1(property *ppe);
/* Refreshes the cache (unless fresh): 0.0, or the negative exchange
 * result, or -1.0 with errno set. */
VR_API float pm25_get_all(property *ppe);
VR_API float pm25_get_pm25_particle(property *ppe);
VR_API float pm25_get_pm10_particle(property *ppe);
VR_API float pm25_get_pm1_particle(property *ppe);
VR_API float pm25_get_trantime(property *ppe);
VR_API int32_t pm25_set_trantime(property *ppe, float value);
VR_API float pm25_get_workmode(property *ppe);
VR_API int32_t pm25_set_workmode(property *ppe, float value);
VR_API float pm25_get_state(property *ppe);
/* 1 or 2 restart, 3 halt, 4 ultra-low-power; other values -1 with errno
 * -24. */
VR_API int32_t pm25_set_state(property *ppe, float value);
/* The cache control of the "all Agronomist" property (PM25_CACHE_VALIDITY);
 * other codes -1 with errno -22. */
VR_API int32_t ppe_all_ctrl(property *ppe, int code, ...);

VR_END_DECLS

#endif
