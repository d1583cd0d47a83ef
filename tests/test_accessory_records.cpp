// The accessory records without a device: capacities, look-ups by id and by
// index, and what null or foreign records get.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "accessory.h"
#include "pm25.h"

namespace {

// Makers that number their records: service ids and property ids count up
// from 1 in each accessory / service.
service *numbered_service(accessory *owner, void *) {
    auto *svc = static_cast<service *>(std::calloc(1, sizeof(service)));
    svc->name = "numbered";
    svc->id = owner->service_count + 1;
    return svc;
}
property *numbered_property(service *owner, void *) {
    auto *ppe = static_cast<property *>(std::calloc(1, sizeof(property)));
    ppe->name = "numbered";
    ppe->id = owner->property_count + 1;
    ppe->get = [](property *p) { return static_cast<float>(p->id); };
    return ppe;
}
service *no_service(accessory *, void *) {
    errno = -40;
    return nullptr;
}
service *no_service_no_reason(accessory *, void *) {
    errno = 0;
    return nullptr;
}

// A zeroed accessory record, released with everything it owns.
struct Record {
    accessory *acc = static_cast<accessory *>(std::calloc(1, sizeof(accessory)));
    ~Record() {
        accessory_free(acc);
        std::free(acc);
    }
};

TEST(AccessoryRecords, CapacitiesHold255AndRefuseTheNext) {
    Record r;
    for (int i = 0; i < 255; ++i) ASSERT_EQ(accessory_addsvc(r.acc, numbered_service), 0) << i;
    EXPECT_EQ(accessory_addsvc(r.acc, numbered_service), -77);
    EXPECT_EQ(accessory_svccnt(r.acc), 255);

    service *last = accessory_getsvcbyid(r.acc, 254);
    ASSERT_NE(last, nullptr);
    for (int i = 0; i < 255; ++i) ASSERT_EQ(service_addppe(last, numbered_property), 0) << i;
    errno = 0;
    EXPECT_EQ(service_addppe(last, numbered_property), -1);
    EXPECT_EQ(errno, -76);
    EXPECT_EQ(service_ppecnt(last), 255);
    // The last slot of both tables is reachable by its indexes; its
    // combined id has a service index of 254, negative as a signed byte.
    property *corner = last->properties[254];
    EXPECT_EQ(accessory_ppeid(r.acc, corner), 254 << 8 | 254);
    EXPECT_EQ(accessory_getppebyid(r.acc, 254 << 8 | 254), nullptr);
    EXPECT_EQ(errno, -24);

    EXPECT_EQ(accessory_addsvc(nullptr, numbered_service), -24);
    EXPECT_EQ(accessory_addsvc(r.acc, nullptr), -24);
    Record other;
    EXPECT_EQ(accessory_addsvc(other.acc, no_service), -40);
    EXPECT_LT(accessory_addsvc(other.acc, no_service_no_reason), 0) << "a maker's failure reported as success";
    EXPECT_EQ(accessory_svccnt(other.acc), 0);
}

TEST(AccessoryRecords, IndexLookUpsStayInsideTheTables) {
    Record r;
    ASSERT_EQ(accessory_addsvc(r.acc, numbered_service), 0);
    ASSERT_EQ(accessory_addsvc(r.acc, numbered_service), 0);
    service *second = accessory_getsvcbyid(r.acc, 1);
    ASSERT_EQ(service_addppe(second, numbered_property), 0);
    ASSERT_EQ(service_addppe(second, numbered_property), 0);

    struct Case {
        int combined;
        int id;  // 0: none
    };
    const Case cases[] = {
        {0x0100, 1}, {0x0101, 2}, {0x0102, 0},   // index equal to the count
        {0x0000, 0},                             // a service without properties
        {0x0200, 0}, {0x01FF, 0}, {0xFF00, 0},   // out of range, negative bytes
        {-1, 0},     {0x10100, 1},               // bits above 15 are not read
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.combined);
        errno = 0;
        property *p = accessory_getppebyid(r.acc, c.combined);
        if (c.id) {
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->id, c.id);
            EXPECT_FLOAT_EQ(property_getval(p), static_cast<float>(c.id));
        } else {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(errno, -24);
        }
    }
    for (int index : {-1, 2, 255}) {
        errno = 0;
        EXPECT_EQ(accessory_getsvcbyid(r.acc, index), nullptr) << index;
        EXPECT_EQ(errno, -24);
    }
}

TEST(AccessoryRecords, IdLookUpsReportWhatIsMissing) {
    Record r, other;
    ASSERT_EQ(accessory_addsvc(r.acc, numbered_service), 0);
    ASSERT_EQ(accessory_addsvc(r.acc, numbered_service), 0);
    ASSERT_EQ(service_addppe(r.acc->services[1], numbered_property), 0);
    ASSERT_EQ(accessory_addsvc(other.acc, numbered_service), 0);
    ASSERT_EQ(accessory_addsvc(other.acc, numbered_service), 0);
    ASSERT_EQ(service_addppe(other.acc->services[1], numbered_property), 0);

    errno = 0;
    EXPECT_EQ(accessory_getsvc(r.acc, 3), nullptr);
    EXPECT_EQ(errno, -75);
    EXPECT_EQ(accessory_getppe(r.acc, 3, 1), nullptr);
    EXPECT_EQ(errno, -75);
    EXPECT_EQ(accessory_getppe(r.acc, 2, 2), nullptr);
    EXPECT_EQ(errno, -74);
    EXPECT_EQ(accessory_getppes(r.acc, 1), nullptr);
    EXPECT_EQ(errno, -74);
    EXPECT_EQ(accessory_ppecnt(r.acc, 1), -74);
    EXPECT_EQ(accessory_ppecnt(r.acc, 3), -75);
    EXPECT_EQ(accessory_ppecnt(nullptr, 1), -24);
    EXPECT_EQ(accessory_ppecnt(r.acc, 2), 1);

    property *mine = accessory_getppe(r.acc, 2, 1);
    property *theirs = accessory_getppe(other.acc, 2, 1);
    EXPECT_EQ(accessory_ppeid(r.acc, mine), 0x0100);
    EXPECT_EQ(accessory_ppeid(r.acc, theirs), -74) << "another accessory's property has no id here";
    EXPECT_EQ(accessory_svcid(r.acc, other.acc->services[0]), -75);
    EXPECT_EQ(accessory_svcid(r.acc, r.acc->services[1]), 1);
    EXPECT_EQ(accessory_svcid(nullptr, r.acc->services[1]), -24);
    EXPECT_EQ(service_getppeid(r.acc->services[1], mine), 0);
    EXPECT_EQ(service_getppeid(r.acc->services[0], mine), -1);
    EXPECT_EQ(service_getppeid(nullptr, mine), -1);
}

TEST(AccessoryRecords, NullRecordsAndUnknownCodes) {
    errno = 0;
    EXPECT_EQ(accessory_vendor(nullptr), nullptr);
    EXPECT_EQ(errno, -24);
    errno = 0;
    EXPECT_EQ(service_name(nullptr), nullptr);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(accessory_type(nullptr), -24);
    EXPECT_EQ(accessory_svccnt(nullptr), -24);
    EXPECT_EQ(service_ppecnt(nullptr), -24);
    EXPECT_EQ(property_type(nullptr), -24);
    EXPECT_EQ(property_getval(nullptr), -1.0f);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(property_setval(nullptr, 1), -1);
    EXPECT_EQ(accessory_close(nullptr, nullptr, nullptr), -24);
    EXPECT_EQ(accessory_init(nullptr, 257), -24);

    Record r;
    ASSERT_EQ(accessory_addsvc(r.acc, numbered_service), 0);
    ASSERT_EQ(service_addppe(r.acc->services[0], numbered_property), 0);
    EXPECT_EQ(service_ctrl(r.acc->services[0], 1), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(property_ctrl(r.acc->services[0]->properties[0], 1), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(property_ctrl(nullptr, 1), -1);
    EXPECT_EQ(errno, -24);
}

TEST(AccessoryRecords, InitOfAnotherTypeLeavesTheRecordZeroed) {
    accessory acc;
    std::memset(&acc, 0xA5, sizeof acc);
    EXPECT_EQ(accessory_init(&acc, 258), -78);
    const accessory zero{};
    EXPECT_EQ(0, std::memcmp(&acc, &zero, sizeof acc));
}

}  // namespace
