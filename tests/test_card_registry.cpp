// Card records, the card-type registry, the open-card list, accessors and
// the MIFARE access-condition encoder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cpucard.h"
#include "identity.h"
#include "mifare.h"
#include "pcd.h"
#include "picc.h"
#include "tessil.h"

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { picc_regapi(VR_FAMILY_FIRST); }
};

TEST_F(Registry, KeywordsSelectDriversByCaseInsensitivePrefix) {
    struct Row {
        const char *name, *type, *vendor, *protocol;
        char letter;
    };
    const Row rows[] = {
        {"mifare_s50", "Mifare S50", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        {"MIFARE_S50", "Mifare S50", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        {"mifare_s20x", "Mifare S50", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        {"Mifare_S70", "Mifare S70", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        // "mifare_ulc" is tried before "mifare_ul", which would take it.
        {"MIFARE_ULC", "Mifare Ultralight C", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        {"mifare_ul", "Mifare Ultralight", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        {"ntag213", "Mifare Ultralight", "NXP(founded by Philips)", "ISO14443-A", 'A'},
        {"cpu_card", "CPU CARD", "NULL", "ISO14443-A", 'A'},
        {"cid_card", "CID CARD", "NULL", "ISO14443-B", 'B'},
        // "identity" names the CID card, not the identity-card entry.
        {"identity", "CID CARD", "NULL", "ISO14443-B", 'B'},
        {"id_card", "PRC Identity Cardt", "PRC Identity Card", "ISO14443-B", 'B'},
        {"id_sam", "PRC Identity Cardt via PSAM", "PRC Identity Card via PSAM", "ISO14443-B", 'B'},
        {"iso14443A_card", "ISO14443A card", "unknow", "ISO14443-A", 'A'},
        {"PBOC_card", "PBOC CARD", "People's Bank Of China", "7816-4", 'A'},
    };
    for (const Row &r : rows) {
        picc record;
        ASSERT_EQ(picc_init(&record, r.name), 0) << r.name;
        EXPECT_STREQ(record.picc_type, r.type) << r.name;
        EXPECT_STREQ(record.vendor, r.vendor) << r.name;
        EXPECT_STREQ(record.protocol_name, r.protocol) << r.name;
        EXPECT_EQ(record.picc_proto, r.letter) << r.name;
        free(record.vendor);
        free(record.picc_type);
        free(record.protocol_name);
    }
}

TEST_F(Registry, UnknownOrAbsentTypesAreRefusedAndLeaveTheRecordZero) {
    // Types whose drivers this build lacks are refused like unknown names.
    for (const char *name : {"mifare_s5", "felica", "pboc", "mifare_u"}) {
        picc record;
        std::memset(&record, 0x5A, sizeof record);
        errno = 0;
        EXPECT_EQ(picc_init(&record, name), -1) << name;
        EXPECT_EQ(errno, -20);
        const picc zero{};
        EXPECT_EQ(std::memcmp(&record, &zero, sizeof zero), 0);
    }
    picc record{};
    EXPECT_EQ(picc_init(nullptr, "mifare_s50"), -47);
    EXPECT_EQ(picc_init(&record, nullptr), -24);
}

TEST(RegistryFamilies, ReaderFunctionsBeforeAndAfterRegistration) {
    errno = 0;
    EXPECT_EQ(pcd_set_buzzer(1, 1), -1);
    EXPECT_EQ(errno, -61);
    EXPECT_EQ(pcd_hard_model(), nullptr);
    EXPECT_EQ(errno, -61);
    EXPECT_EQ(check_api_version(0xAA), -1);

    // The second family keeps first-family workers it does not replace,
    // and has no baud, protocol, model or link-settings operations.
    picc_regapi(VR_FAMILY_FIRST);
    picc_regapi(VR_FAMILY_SECOND);
    EXPECT_EQ(tessil.family, 0x55u);
    EXPECT_EQ(tessil.s_com.protocol, 6);
    EXPECT_EQ(check_api_version(0), 0);
    EXPECT_EQ(tessil.pcd.get_firmware_version, do_pcd_get_firmware_version);
    EXPECT_EQ(tessil.pcd.set_buzzer, dclk_pcd_set_buzzer);
    EXPECT_EQ(pcd_set_buzzer(1, 1), 0) << "accepted without traffic";
    EXPECT_EQ(pcd_write_eeprom(0, 1, nullptr), 0);
    for (int (*f)(void) : {pcd_get_package_max_size, pcd_get_uart_mode, pcd_get_uart_intern_delay}) {
        errno = 0;
        EXPECT_EQ(f(), -1);
        EXPECT_EQ(errno, -22);
    }
    EXPECT_EQ(pcd_set_baud(1), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(pcd_hard_model(), nullptr);
    EXPECT_EQ(errno, -22);
    // The MIFARE entries belong to the family's own drivers; the CPU card's
    // entry stays the first family's, and both families read identity
    // cards through the same SAM driver.
    picc record{};
    ASSERT_EQ(picc_init(&record, "mifare_s50"), 0);
    EXPECT_EQ(record.read, dclk_m1s50_read);
    EXPECT_EQ(record.picc_proto, 0) << "the second family's drivers leave the card protocol unset";
    free(record.vendor);
    free(record.picc_type);
    free(record.protocol_name);
    EXPECT_EQ(tessil.picc_init_tab.cpucard, cpucard_init);
    EXPECT_EQ(tessil.picc_init_tab.id_sam, id_sam_init);
    EXPECT_EQ(tessil.picc_init_tab.identity, dclk_identity_init);
}

TEST(RegistryFamilies, SecondFamilyAloneLeavesFirstFamilySlotsEmpty) {
    picc_regapi(VR_FAMILY_SECOND);
    errno = 0;
    EXPECT_EQ(pcd_get_firmware_version(nullptr), -1);
    EXPECT_EQ(errno, -22);
    EXPECT_EQ(pcd_write_eeprom(0, 0, nullptr), 0);
    picc_regapi(VR_FAMILY_FIRST);
    EXPECT_EQ(pcd_write_eeprom(0, 0, nullptr), -1);
    EXPECT_EQ(errno, -22);
}

picc *new_card(const char *type, std::initializer_list<uint8_t> uid, uint8_t status = PICC_STATUS_NEW) {
    auto *p = static_cast<picc *>(calloc(1, sizeof(picc)));
    p->picc_type = strdup(type);
    p->vendor = strdup("v");
    p->uid_len = static_cast<int8_t>(uid.size());
    std::copy(uid.begin(), uid.end(), p->uid);
    p->card_status = status;
    return p;
}

TEST(OpenCardList, AddFindDeleteInOrder) {
    piccs_list list{};
    picc *a = new_card("t", {1, 2, 3, 4}, PICC_STATUS_HALTED);
    picc *b = new_card("t", {5, 6, 7, 8}, PICC_STATUS_HALTED);
    picc *c = new_card("u", {1, 2, 3, 4}, PICC_STATUS_HALTED);
    piccs_list_add(&list, a);
    piccs_list_add(&list, b);
    piccs_list_add(&list, c);
    EXPECT_EQ(piccs_list_len(&list), 3);
    EXPECT_EQ(piccs_list_empty(&list), -1);
    EXPECT_EQ(piccs_list_tail(&list), c);
    EXPECT_EQ(piccs_list_active(&list), nullptr) << "all halted";
    picc probe{};
    probe.picc_type = const_cast<char *>("u");
    probe.vendor = const_cast<char *>("v");
    probe.uid_len = 4;
    probe.uid[0] = 1, probe.uid[1] = 2, probe.uid[2] = 3, probe.uid[3] = 4;
    EXPECT_EQ(piccs_list_find(&list, &probe), c) << "type must match too";
    EXPECT_EQ(piccs_list_prev(&list, &probe), b);

    b->card_status = PICC_STATUS_ACTIVE;
    EXPECT_EQ(piccs_list_active(&list), b);
    // Removing the first keeps the others reachable from the head.
    EXPECT_EQ(piccs_list_del(&list, a), 0);
    EXPECT_EQ(piccs_list_len(&list), 2);
    EXPECT_EQ(piccs_list_head(&list), b);
    EXPECT_EQ(b->next, c);
    picc stranger{};
    stranger.uid_len = 1;
    stranger.uid[0] = 9;
    EXPECT_EQ(piccs_list_del(&list, &stranger), -1);
    EXPECT_EQ(piccs_list_delall(&list), 0);
    EXPECT_EQ(piccs_list_len(&list), 0);
    EXPECT_EQ(piccs_list_head(&list), nullptr);
    EXPECT_EQ(piccs_list_empty(&list), 0);
}

TEST(Accessors, FieldsAndMissingRecord) {
    picc record{};
    unsigned char out[64];
    EXPECT_EQ(picc_getuid(&record, out), 0) << "UID not yet known";
    record.uid_len = 4;
    record.uid[3] = 0x44;
    record.atqa[0] = 0x04;
    record.sak = 0x08;
    record.ats_len = 2;
    record.ats[1] = 0x78;
    EXPECT_EQ(picc_getuid(&record, out), 4);
    EXPECT_EQ(out[3], 0x44);
    EXPECT_EQ(picc_getatqa(&record, out), 2);
    EXPECT_EQ(out[0], 0x04);
    EXPECT_EQ(picc_getsak(&record, out), 1);
    EXPECT_EQ(out[0], 0x08);
    EXPECT_EQ(picc_getats(&record, out), 2);
    EXPECT_EQ(picc_getuid(&record, nullptr), -24);
    EXPECT_EQ(picc_getuid(nullptr, out), -47);
    EXPECT_EQ(picc_status(nullptr), -47);
    EXPECT_EQ(reinterpret_cast<intptr_t>(picc_type(nullptr)), -47);
    errno = -30;
    EXPECT_EQ(picc_error(), -30);
}

TEST(AccessConditions, EncodesEachBlockIndexAndKeepsOthers) {
    // Transport configuration FF 07 80: data blocks 000, trailer 001.
    unsigned char bytes[3] = {0xFF, 0x07, 0x80};
    // Block 0 to read-only with key A|B (C1 C2 C3 = 0 1 0 -> code 2).
    ASSERT_EQ(gen_access(bytes, 2, 0), 0);
    EXPECT_EQ(bytes[0], 0xEF);
    EXPECT_EQ(bytes[1], 0x07);
    EXPECT_EQ(bytes[2], 0x81);
    // Trailer to 011 (C1 = 1, C2 = 1, C3 = 0 -> code 3).
    ASSERT_EQ(gen_access(bytes, 3, 3), 0);
    EXPECT_EQ(bytes[0], 0x67);
    EXPECT_EQ(bytes[1], 0x8F);
    EXPECT_EQ(bytes[2], 0x09);
    // Every byte stores each bit once inverted, once plain.
    for (int i = 0; i < 4; ++i) {
        const int c1 = (bytes[1] >> (4 + i)) & 1, nc1 = (bytes[0] >> i) & 1;
        const int c2 = (bytes[2] >> i) & 1, nc2 = (bytes[0] >> (4 + i)) & 1;
        const int c3 = (bytes[2] >> (4 + i)) & 1, nc3 = (bytes[1] >> i) & 1;
        EXPECT_EQ(c1, !nc1);
        EXPECT_EQ(c2, !nc2);
        EXPECT_EQ(c3, !nc3);
    }
    unsigned char before[3] = {bytes[0], bytes[1], bytes[2]};
    EXPECT_EQ(gen_access(bytes, 0xFF, 1), 0);
    EXPECT_EQ(std::memcmp(bytes, before, 3), 0);
    EXPECT_EQ(gen_access(bytes, 1, 4), -1);
}

TEST(Geometry, ClassicOneAndFourK) {
    EXPECT_EQ(m1s50_seccnt(), 16);
    EXPECT_EQ(m1s50_blkcnt(), 64);
    EXPECT_EQ(m1s50_secblk(15), 4);
    EXPECT_EQ(m1s70_seccnt(), 40);
    EXPECT_EQ(m1s70_blkcnt(), 256);
    EXPECT_EQ(m1s70_secblk(31), 4);
    EXPECT_EQ(m1s70_secblk(32), 16);
    EXPECT_EQ(m1s70_blklen(255), 16);
    errno = 0;
    EXPECT_EQ(m1s70_secblk(40), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(m1s50_secblk(16), -1);
}

}  // namespace
