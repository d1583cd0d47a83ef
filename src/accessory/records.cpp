// The accessory, service and property records: access to their fields,
// look-ups by id and by index, building the tree, values, and releasing it.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#include "accessory.h"
#include "core/errors.h"

namespace {

// Indexes the host holds: a slot of the accessory, and a slot of the
// service in the low byte of the combined property id.
constexpr int kIndexBits = 8;

template <class T, class R>
R field_or(const T *record, R (*read)(const T &), R on_null) {
    if (!record) {
        errno = vr::kEArg;
        return on_null;
    }
    return read(*record);
}

template <class T>
int int_field(const T *record, int (*read)(const T &)) {
    return record ? read(*record) : vr::kEArg;
}

bool service_index_valid(const accessory &acc, int index) { return index >= 0 && index < acc.service_count; }
bool property_index_valid(const service &svc, int index) { return index >= 0 && index < svc.property_count; }

// The slot of the accessory whose service has svc's id; -1 when none.
int slot_with_service_id(const accessory &acc, int id) {
    for (int i = 0; i < acc.service_count; ++i)
        if (acc.services[i] && acc.services[i]->id == id) return i;
    return -1;
}

int slot_with_property_id(const service &svc, int id) {
    for (int i = 0; i < svc.property_count; ++i)
        if (svc.properties[i] && svc.properties[i]->id == id) return i;
    return -1;
}

}  // namespace

// ---- record access

VR_API const char *accessory_vendor(const accessory *acc) {
    return field_or<accessory, const char *>(acc, [](const accessory &a) -> const char * { return a.vendor; }, nullptr);
}
VR_API const char *accessory_product(const accessory *acc) {
    return field_or<accessory, const char *>(acc, [](const accessory &a) -> const char * { return a.product; }, nullptr);
}
VR_API const char *accessory_name(const accessory *acc) {
    return field_or<accessory, const char *>(acc, [](const accessory &a) -> const char * { return a.name; }, nullptr);
}
VR_API const uint8_t *accessory_uid(const accessory *acc) {
    return field_or<accessory, const uint8_t *>(acc, [](const accessory &a) -> const uint8_t * { return a.uid; },
                                                nullptr);
}
VR_API int accessory_type(const accessory *acc) {
    return int_field<accessory>(acc, [](const accessory &a) { return static_cast<int>(a.type); });
}
VR_API int accessory_version(const accessory *acc) {
    return int_field<accessory>(acc, [](const accessory &a) { return static_cast<int>(a.version); });
}
VR_API int accessory_state(const accessory *acc) {
    return int_field<accessory>(acc, [](const accessory &a) { return static_cast<int>(a.state); });
}
VR_API int accessory_uidlen(const accessory *acc) {
    return int_field<accessory>(acc, [](const accessory &a) { return static_cast<int>(a.uid_len); });
}
VR_API int accessory_svccnt(const accessory *acc) {
    return int_field<accessory>(acc, [](const accessory &a) { return static_cast<int>(a.service_count); });
}
VR_API const char *service_name(const service *svc) {
    return field_or<service, const char *>(svc, [](const service &s) { return s.name; }, nullptr);
}
VR_API int service_type(const service *svc) {
    return int_field<service>(svc, [](const service &s) { return static_cast<int>(s.id); });
}
VR_API int service_ppecnt(const service *svc) {
    return int_field<service>(svc, [](const service &s) { return static_cast<int>(s.property_count); });
}
VR_API const char *property_name(const property *ppe) {
    return field_or<property, const char *>(ppe, [](const property &p) { return p.name; }, nullptr);
}
VR_API int property_type(const property *ppe) {
    return int_field<property>(ppe, [](const property &p) { return static_cast<int>(p.id); });
}

// ---- look-ups by id

VR_API service *accessory_getsvc(accessory *acc, int service_id) {
    if (!acc) return errno = vr::kEArg, nullptr;
    const int slot = slot_with_service_id(*acc, service_id);
    if (slot < 0) return errno = vr::kENoService, nullptr;
    return acc->services[slot];
}

VR_API service **accessory_getsvcs(accessory *acc) {
    if (!acc) return errno = vr::kEArg, nullptr;
    return acc->services;
}

VR_API property *service_getppe(service *svc, int property_id) {
    if (!svc) return errno = vr::kEArg, nullptr;
    const int slot = slot_with_property_id(*svc, property_id);
    if (slot < 0) return errno = vr::kENoProperty, nullptr;
    return svc->properties[slot];
}

VR_API property *accessory_getppe(accessory *acc, int service_id, int property_id) {
    service *svc = accessory_getsvc(acc, service_id);
    return svc ? service_getppe(svc, property_id) : nullptr;
}

VR_API property **service_getppes(service *svc) {
    if (!svc) return errno = vr::kEArg, nullptr;
    if (svc->property_count <= 0) return errno = vr::kENoProperty, nullptr;
    return svc->properties;
}

VR_API property **accessory_getppes(accessory *acc, int service_id) {
    service *svc = accessory_getsvc(acc, service_id);
    return svc ? service_getppes(svc) : nullptr;
}

VR_API int accessory_ppecnt(accessory *acc, int service_id) {
    if (!acc) return vr::kEArg;
    const service *svc = accessory_getsvc(acc, service_id);
    if (!svc) return vr::kENoService;
    return svc->property_count > 0 ? svc->property_count : vr::kENoProperty;
}

VR_API int service_getppeid(const service *svc, const property *ppe) {
    if (!svc || !ppe) return -1;
    return slot_with_property_id(*svc, ppe->id);
}

// ---- indexes handed to the host

VR_API int accessory_svcid(const accessory *acc, const service *svc) {
    if (!acc || !svc) return vr::kEArg;
    if (svc->owner != acc) return vr::kENoService;
    const int slot = slot_with_service_id(*acc, svc->id);
    return slot < 0 ? vr::kENoService : slot;
}

VR_API int accessory_ppeid(const accessory *acc, const property *ppe) {
    if (!acc || !ppe) return vr::kEArg;
    const service *svc = ppe->owner;
    if (!svc || svc->owner != acc) return vr::kENoProperty;
    const int service_slot = slot_with_service_id(*acc, svc->id);
    if (service_slot < 0) return vr::kENoProperty;
    const int property_slot = slot_with_property_id(*acc->services[service_slot], ppe->id);
    if (property_slot < 0) return vr::kENoProperty;
    return (service_slot << kIndexBits) | property_slot;
}

VR_API service *accessory_getsvcbyid(accessory *acc, int service_index) {
    if (!acc || !service_index_valid(*acc, service_index)) return errno = vr::kEArg, nullptr;
    return acc->services[service_index];
}

VR_API property *accessory_getppebyid(accessory *acc, int combined_id) {
    // Both indexes are signed bytes: a negative one is out of range.
    const int service_index = static_cast<int8_t>((combined_id >> kIndexBits) & 0xFF);
    const int property_index = static_cast<int8_t>(combined_id & 0xFF);
    service *svc = accessory_getsvcbyid(acc, service_index);
    if (!svc || !property_index_valid(*svc, property_index)) return errno = vr::kEArg, nullptr;
    return svc->properties[property_index];
}

// ---- building

VR_API int accessory_addsvc(accessory *acc, service_maker maker) {
    if (!acc || !maker) return vr::kEArg;
    // The table is checked before the maker runs, so that a full accessory
    // makes (and leaks) nothing.
    if (acc->service_count >= ACCESSORY_SERVICES_MAX) return vr::kETooManyServices;
    service *svc = maker(acc, reinterpret_cast<void *>(maker));
    // A maker that makes nothing without saying why still failed.
    if (!svc) return errno < 0 ? errno : -1;
    svc->owner = acc;
    acc->services[acc->service_count++] = svc;
    return 0;
}

VR_API int service_addppe(service *svc, property_maker maker) {
    if (!svc || !maker) return vr::fail(vr::kEArg);
    if (svc->property_count >= SERVICE_PROPERTIES_MAX) return vr::fail(vr::kETooManyProperties);
    property *ppe = maker(svc, reinterpret_cast<void *>(maker));
    if (!ppe) return -1;
    ppe->owner = svc;
    svc->properties[svc->property_count++] = ppe;
    return 0;
}

// ---- values

VR_API float property_getval(property *ppe) {
    if (!ppe) return errno = vr::kEArg, -1.0f;
    if (!ppe->get) return errno = vr::kENoCmd, -1.0f;
    errno = 0;
    return ppe->get(ppe);
}

VR_API int property_setval(property *ppe, float value) {
    if (!ppe) return vr::fail(vr::kEArg);
    if (!ppe->set) return vr::fail(vr::kENoCmd);
    return ppe->set(ppe, value);
}

VR_API int property_ctrl(property *ppe, int code, ...) {
    (void)code;
    if (!ppe) return vr::fail(vr::kEArg);
    if (!ppe->ctrl) return vr::fail(vr::kENoCmd);
    return vr::kENoCmd;
}

VR_API int service_ctrl(service *svc, int code, ...) {
    (void)code;
    if (!svc) return vr::fail(vr::kEArg);
    if (!svc->ctrl) return vr::fail(vr::kENoCmd);
    return vr::kENoCmd;
}

// ---- releasing

VR_API void property_free(property *ppe) {
    if (!ppe) return;
    std::free(ppe->cache);
    ppe->cache = nullptr;
}

VR_API void service_free(service *svc) {
    if (!svc) return;
    std::free(svc->buffer);
    svc->buffer = nullptr;
    for (int i = 0; i < svc->property_count; ++i) {
        property_free(svc->properties[i]);
        std::free(svc->properties[i]);
        svc->properties[i] = nullptr;
    }
    svc->property_count = 0;
}

VR_API void accessory_free(accessory *acc) {
    if (!acc) return;
    std::free(acc->vendor);
    std::free(acc->product);
    std::free(acc->name);
    std::free(acc->buffer);
    acc->vendor = acc->product = acc->name = nullptr;
    acc->buffer = nullptr;
    for (int i = 0; i < acc->service_count; ++i) {
        service_free(acc->services[i]);
        std::free(acc->services[i]);
        acc->services[i] = nullptr;
    }
    acc->service_count = 0;
}
