/* Accessories: small devices behind the reader links (serial, USB,
 * Bluetooth, audio jack) that the library describes as a tree of services,
 * each holding typed properties whose values are read and written as
 * floats. */
#ifndef VR_ACCESSORY_H
#define VR_ACCESSORY_H

#include <stdarg.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

#define ACCESSORY_UID_MAX 64
#define ACCESSORY_SERVICES_MAX 255
#define SERVICE_PROPERTIES_MAX 255
/* The one accessory type: the PM2.5 sensor (pm25.h). */
#define ACCESSORY_TYPE_PM25 257

/* accessory_state values. */
#define ACCESSORY_STATE_READY 1
#define ACCESSORY_STATE_HALTED 3
#define ACCESSORY_STATE_LOW_POWER 4

/* accessory_ctrl codes. */
enum accessory_ctrl_code {
    ACCESSORY_CTRL_CLOSE_LINK = 1,        /* () -> the port close's result */
    ACCESSORY_CTRL_POWER = 2,             /* () -> battery level 0..100 */
    ACCESSORY_CTRL_POWEROFF_DELAY = 3     /* (int seconds) -> 0 */
};

struct accessory;
struct service;
struct property;

/* One opened accessory; made by accessory_open, released by
 * accessory_close. It owns its three texts, its buffer and its services. */
typedef struct accessory {
    char *vendor;
    char *product;
    char *name;
    int32_t type;
    int32_t version;
    int32_t state;
    uint8_t uid[ACCESSORY_UID_MAX];
    uint8_t uid_len;
    struct service *services[ACCESSORY_SERVICES_MAX]; /* from slot 0 up */
    int32_t service_count;
    void *buffer;
    /* 0 or more, or negative on failure. */
    int32_t (*open)(struct accessory *self);
    /* Two host values, passed on as given. */
    int32_t (*close)(struct accessory *self, void *first, void *second);
    int32_t (*ctrl)(struct accessory *self, int code);
} accessory;

/* A service of an accessory; owns its buffer and its properties. */
typedef struct service {
    const char *name; /* constant text, not owned */
    int32_t id;       /* reported as the service's type */
    struct accessory *owner;
    void *buffer;
    struct property *properties[SERVICE_PROPERTIES_MAX];
    int32_t property_count;
    int32_t (*ctrl)(struct service *self, int code, ...); /* optional */
} service;

/* A property of a service; owns its cache. */
typedef struct property {
    const char *name; /* constant text, not owned */
    int32_t id;       /* reported as the property's type */
    struct service *owner;
    void *cache;
    /* The value; -1.0 on failure with errno set. Present on every property. */
    float (*get)(struct property *self);
    /* 0 or more, or negative on failure. Absent on read-only properties. */
    int32_t (*set)(struct property *self, float value);
    int32_t (*ctrl)(struct property *self, int code, ...); /* optional */
} property;

/* Makers: called as maker(owner, maker); a new zeroed record, or null
 * with errno set (-40 when out of memory). The second argument is the
 * maker itself, so that one function can serve several records. */
typedef service *(*service_maker)(accessory *owner, void *maker);
typedef property *(*property_maker)(service *owner, void *maker);

/* ---- record access: the field; on a null record errno -24 and null/0,
 * or -24 where the result is an integer */
VR_API const char *accessory_vendor(const accessory *acc);
VR_API const char *accessory_product(const accessory *acc);
VR_API const char *accessory_name(const accessory *acc);
VR_API int accessory_type(const accessory *acc);
VR_API int accessory_version(const accessory *acc);
VR_API int accessory_state(const accessory *acc);
VR_API const uint8_t *accessory_uid(const accessory *acc);
VR_API int accessory_uidlen(const accessory *acc);
VR_API int accessory_svccnt(const accessory *acc);
VR_API const char *service_name(const service *svc);
VR_API int service_type(const service *svc);
VR_API int service_ppecnt(const service *svc);
VR_API const char *property_name(const property *ppe);
VR_API int property_type(const property *ppe);

/* ---- look-ups by id (the service's or property's type) */
/* Null with errno -75 when no service has the id. */
VR_API service *accessory_getsvc(accessory *acc, int service_id);
VR_API service **accessory_getsvcs(accessory *acc);
/* Null with errno -75 (no such service) or -74 (no such property). */
VR_API property *accessory_getppe(accessory *acc, int service_id, int property_id);
/* The property slots; null with errno -74 when the service has none. */
VR_API property **accessory_getppes(accessory *acc, int service_id);
VR_API property **service_getppes(service *svc);
/* Property count; -24, -75 (no service), -74 (no property). */
VR_API int accessory_ppecnt(accessory *acc, int service_id);
/* Null with errno -74 when no property has the id. */
VR_API property *service_getppe(service *svc, int property_id);
/* Index of the service's property with ppe's id; -1 when absent. */
VR_API int service_getppeid(const service *svc, const property *ppe);

/* ---- indexes handed to the host: the service index is a slot of the
 * accessory; the combined property id is (service index << 8) | property
 * index */
/* -24 on a null argument, -75 when the service is not this accessory's. */
VR_API int accessory_svcid(const accessory *acc, const service *svc);
/* -24 on a null argument, -74 when the property is not this accessory's. */
VR_API int accessory_ppeid(const accessory *acc, const property *ppe);
/* Null with errno -24 when an index is out of range. */
VR_API service *accessory_getsvcbyid(accessory *acc, int service_index);
VR_API property *accessory_getppebyid(accessory *acc, int combined_id);

/* ---- building */
/* 0; -24 null argument; -77 when 255 services are held; the maker's
 * errno when it makes none. */
VR_API int accessory_addsvc(accessory *acc, service_maker maker);
/* 0; -1 with errno -24 (null argument) or -76 (255 properties held); -1
 * when the maker makes none. */
VR_API int service_addppe(service *svc, property_maker maker);

/* ---- values */
/* Clears errno, then the getter's value; -1.0 with errno -24 on null. A
 * getter that fails returns -1.0 with errno set, so errno tells a real
 * -1.0 from a failure. */
VR_API float property_getval(property *ppe);
/* The setter's result; -1 with errno -24 on null, -22 without a setter. */
VR_API int property_setval(property *ppe, float value);
/* No control code is defined: -1 with errno -24 (null) or -22. */
VR_API int property_ctrl(property *ppe, int code, ...);
VR_API int service_ctrl(service *svc, int code, ...);

/* ---- life cycle */
/* Zeroes the record and fills it for the type: the PM2.5 sensor's
 * initialiser's result; -24 on null, -78 for any other type. */
VR_API int accessory_init(accessory *acc, int type);
/* Brings the link up unless a connection is already marked; flag is not
 * used. "uart" takes the device path as the first of args. 0, or -1 with
 * errno (-10 the link failed to open); -24 when com is null. */
VR_API int accessory_connect(const char *com, int p1, uint8_t flag, va_list *args);
/* Connects (further arguments as for accessory_connect), checks the
 * device's type, builds the record and runs its open operation; the new
 * record, or null with errno. */
VR_API accessory *accessory_open(const char *com, ...);
/* Runs the close operation with (first, second), releases the record and
 * all it owns; 0, or -24 on null. */
VR_API int accessory_close(accessory *acc, void *first, void *second);
/* Control codes (enum accessory_ctrl_code) under the library lock; -22
 * for any other code. */
VR_API int accessory_ctrl(accessory *acc, int code, ...);
VR_API int accessory_ctrl_va(accessory *acc, int code, va_list args);
/* Release what the record owns (not the record itself). */
VR_API void accessory_free(accessory *acc);
VR_API void service_free(service *svc);
VR_API void property_free(property *ppe);

/* ---- device commands (reader command 0x0F24 reads an item, 0x0F25
 * writes one) */
/* The 16-bit type / version; negative exchange result passed through, -1
 * with errno -16 on a short reply. */
VR_API int get_accessory_type(void);
VR_API int get_accessory_version(void);
/* Copies the uid into buffer; its length, or -1 with errno -16 when it
 * does not fit in size bytes. */
VR_API int get_accessory_uid(uint8_t *buffer, int size);
VR_API int accessory_restart(void);
VR_API int accessory_halt(void);
/* Ultra-low-power. */
VR_API int accessory_ulp(void);

VR_END_DECLS

#endif
