// The CPU card, CID card and generic type A drivers end to end: the
// library over a pseudo-terminal against the simulated reader, its virtual
// ISO 14443-4 card with a file system and its type B ID card.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "byte_strings.h"
#include "cpu_card.h"
#include "cpucard.h"
#include "pboc_text.h"
#include "sim_link.h"
#include "type_b_card.h"

namespace {

using vrtest::Bytes;
using vrtest::hex;

const Bytes kCpuUid{0x5C, 0x11, 0x22, 0x33};

class IsoDepE2e : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(); }
    picc *open(const char *type) { return picc_open(type, "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str()); }
    std::shared_ptr<vrsim::CpuCard> place_cpu() {
        auto card = vrsim::CpuCard::make(kCpuUid, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr);
        sim->field().place(card);
        return card;
    }
    std::shared_ptr<vrsim::CidCard> place_cid() {
        auto card = vrsim::CidCard::make({}, nullptr);
        sim->field().place(card);
        return card;
    }
};

TEST_F(IsoDepE2e, CpuCardOpensWithItsAtsAndExchangesApdus) {
    place_cpu();
    picc *p = open("cpu_card");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "CPU CARD");
    unsigned char uid[10], ats[64];
    ASSERT_EQ(picc_getuid(p, uid), 4);
    EXPECT_EQ(Bytes(uid, uid + 4), kCpuUid);
    ASSERT_EQ(picc_getats(p, ats), 10);
    EXPECT_EQ(Bytes(ats, ats + 10), Bytes(vrsim::CpuCard::kAts.begin(), vrsim::CpuCard::kAts.end()))
        << "from its length byte on";

    // The read slot: length-prefixed APDU in, length-prefixed answer out.
    unsigned char buffer[256] = {7, 0x00, 0xA4, 0x00, 0x0C, 0x02, 0x10, 0x01};
    ASSERT_EQ(picc_read(p, buffer, 0), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{2, 0x90, 0x00}));
    unsigned char rd[256] = {5, 0x00, 0xB0, 0x81, 0x05, 0x03};
    ASSERT_EQ(picc_read(p, rd, 0), 0);
    EXPECT_EQ(Bytes(rd, rd + 6), (Bytes{5, 5, 6, 7, 0x90, 0x00}));

    // Control 40 (hex) and 41 (bytes) put the card's command header first.
    char out[1024] = {};
    int length = 0;
    sim->clear_log();
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_APDU_HEX, "00B2011400", out, &length), 0);
    std::string record1 = "01";
    for (int i = 0; i < 15; ++i) record1 += "A1";
    EXPECT_EQ(std::string(out), record1 + "9000");
    EXPECT_EQ(length, 36);
    ASSERT_EQ(sim->requests().size(), 1u);
    EXPECT_EQ(sim->requests()[0].cmd, 0x0211);
    const unsigned char get_unknown[] = {0x00, 0xCA, 0x9F, 0x7F, 0x00};
    unsigned char answer[64];
    length = sizeof get_unknown;
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_APDU_BYTES, get_unknown, answer, &length), 0);
    EXPECT_EQ(Bytes(answer, answer + length), (Bytes{0x6D, 0x00})) << "status words come back as the card sent them";
    EXPECT_EQ(picc_close(p), 0);
}

TEST_F(IsoDepE2e, ApduBatchesCarrySeveralApdus) {
    place_cpu();
    picc *p = open("cpu_card");
    ASSERT_NE(p, nullptr);
    char out[2048] = {};
    int length = 0;
    sim->clear_log();
    // Select the application by name, read 4 bytes at offset 250 of the
    // file with short identifier 1, read record 4 of the file with short
    // identifier 2, then a SELECT without Le and its GET RESPONSE.
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_APDU_BATCH_HEX,
                        "00A4040C08F0565254455354 01,00B0810AFA04,00B2041400,00A40000020001,00C0000000", out,
                        &length),
              -21)
        << "a blank inside an APDU is not hexadecimal";
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_APDU_BATCH_HEX,
                        "00A4040C08F056525445535401,00B081FA04,00B2041400,00A40000020001,00C0000000", out, &length),
              0);
    std::string record4 = "04";
    for (int i = 0; i < 15; ++i) record4 += "A4";
    EXPECT_EQ(std::string(out),
              "9000,FA000102" "9000," + record4 + "9000,610D,620B8002001082010183020001" "9000");
    EXPECT_EQ(length, static_cast<int>(std::strlen(out)) + 1);
    ASSERT_EQ(sim->requests().size(), 1u) << "one reader command for the batch";
    EXPECT_EQ(sim->requests()[0].cmd, 0x0215);
}

TEST_F(IsoDepE2e, CpuCardOperationsWithoutMeaningAreRefused) {
    place_cpu();
    picc *p = open("cpu_card");
    ASSERT_NE(p, nullptr);
    const unsigned char block[16] = {};
    unsigned char value[4];
    sim->clear_log();
    EXPECT_EQ(picc_write(p, block, 1), -22);
    EXPECT_EQ(picc_incval(p, block, 1), -22);
    EXPECT_EQ(picc_rdval(p, value, 1), -22);
    EXPECT_EQ(picc_chpw(p, block, 0x60, 3), -22);
    EXPECT_EQ(picc_auth(p, nullptr, 0x60, 0), 0) << "accepted: the card authenticates in its APDUs";
    EXPECT_EQ(picc_blkcnt(p), -22);
    EXPECT_TRUE(sim->requests().empty());

    // The card leaves the field: the exchange fails, nothing is copied.
    sim->field().remove();
    unsigned char buffer[256] = {4, 0x00, 0xCA, 0x00, 0x00};
    errno = 0;
    EXPECT_EQ(picc_read(p, buffer, 0), -1);
    EXPECT_EQ(errno, -30);
    EXPECT_EQ(buffer[0], 4);
}

TEST_F(IsoDepE2e, CidCardFilesReadAsHexText) {
    auto card = place_cid();
    picc *p = open("cid_card");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "CID CARD");
    unsigned char uid[30], ats[64];
    ASSERT_EQ(picc_getuid(p, uid), 13);
    // The 12 bytes after the ATQB's first byte, and a zero.
    EXPECT_EQ(Bytes(uid, uid + 13), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x81, 0x70, 0x00, 0x00}));
    ASSERT_EQ(picc_getats(p, ats), 2);
    EXPECT_EQ(Bytes(ats, ats + 2), (Bytes{0x08, 0x00}));

    struct File {
        const char *name;
        uint16_t id;
        size_t size;
    };
    for (const File f : {File{"6002", 0x6002, 32}, File{"6011", 0x6011, 214}, File{"6012", 0x6012, 256},
                         File{"6013", 0x6013, 1024}, File{"6021", 0x6021, 1024}}) {
        std::vector<char> out(2 * f.size + 1, '\x5A');
        int length = 0;
        sim->clear_log();
        ASSERT_EQ(picc_ctrl(p, PICC_CTRL_CID_FILE, f.name, out.data(), &length), 0) << f.name;
        EXPECT_EQ(length, static_cast<int>(2 * f.size));
        EXPECT_EQ(std::string(out.data()), hex(card->file(f.id))) << f.name;
        if (f.id != 0x6011) continue;
        // SELECT, then READ BINARY at 0, 80, 160 for 80, 80, 54 bytes.
        std::vector<Bytes> apdus;
        for (const auto &r : sim->requests()) apdus.push_back(r.data);
        EXPECT_EQ(apdus, (std::vector<Bytes>{{0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x11},
                                              {0x80, 0xB0, 0x00, 0x00, 80},
                                              {0x80, 0xB0, 0x00, 80, 80},
                                              {0x80, 0xB0, 0x00, 160, 54}}));
    }
    // A name outside the table reads nothing and is an error.
    char out[64] = "untouched";
    int length = 17;
    sim->clear_log();
    EXPECT_EQ(picc_ctrl(p, PICC_CTRL_CID_FILE, "6003", out, &length), -24);
    EXPECT_EQ(picc_ctrl(p, PICC_CTRL_CID_FILE, "60", out, &length), -24);
    EXPECT_STREQ(out, "untouched");
    EXPECT_TRUE(sim->requests().empty());
}

TEST_F(IsoDepE2e, CidCardFileErrorsFailTheRead) {
    auto card = place_cid();
    picc *p = open("identity");  // the CID card's second keyword
    ASSERT_NE(p, nullptr);
    std::vector<char> out(2049);
    int length = 0;
    // A file the card does not have: SELECT answers 6A 82.
    card->edit_files([](vrsim::Iso7816Files &files) { files.remove(0x6012); });
    EXPECT_EQ(picc_ctrl(p, PICC_CTRL_CID_FILE, "6012", out.data(), &length), -35);
    // A file shorter than the table says: READ BINARY beyond it fails.
    card->edit_files([](vrsim::Iso7816Files &files) { files.find(0x6011)->data.resize(100); });
    EXPECT_EQ(picc_ctrl(p, PICC_CTRL_CID_FILE, "6011", out.data(), &length), -35);
    // The helpers report the status word.
    cid_apdu_response r{};
    ASSERT_EQ(cidApduWithBytesEx(p, reinterpret_cast<const unsigned char *>("\x00\xA4\x00\x00\x02\x60\x12"), 7, &r), 1);
    EXPECT_EQ(r.sw, 0x6A82);
    EXPECT_EQ(r.len, 0);
    EXPECT_EQ(selectFile(p, 0x6002), 1);
    unsigned char head[32];
    int count = -1;
    ASSERT_EQ(readBinWithoutResp(p, head, 16, 32, &count), 1);
    EXPECT_EQ(count, 32);
    EXPECT_EQ(Bytes(head, head + 32), card->file(0x6002));
    // Batches to a CID card go out under its own command code.
    char text[128] = {};
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_APDU_BATCH_HEX, "00A40000026002,80B0000003", text, &length), 0);
    EXPECT_EQ(std::string(text), "9000,434944" "9000");
}

TEST_F(IsoDepE2e, GenericTypeAIsIdentifiedOnly) {
    // A CPU card is no type the identification tables name: the generic
    // driver takes it.
    place_cpu();
    picc *p = open("iso14443A_card");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "ISO14443A card");
    EXPECT_STREQ(picc_vendor(p), "unknow");
    unsigned char atqa[2], sak = 0;
    ASSERT_EQ(picc_getatqa(p, atqa), 2);
    EXPECT_EQ(Bytes(atqa, atqa + 2), (Bytes{0x08, 0x00}));
    ASSERT_EQ(picc_getsak(p, &sak), 1);
    EXPECT_EQ(sak, 0x20);
    unsigned char buffer[16];
    EXPECT_EQ(picc_read(p, buffer, 0), -22);
    // Its own query runs the reader's type A search again.
    picc probe{};
    ASSERT_EQ(iso14443a_init(&probe), 0);
    ASSERT_EQ(iso14443a_query(nullptr, &probe), 0);
    EXPECT_EQ(probe.uid_len, 4);
    EXPECT_EQ(Bytes(probe.uid, probe.uid + 4), kCpuUid);
    std::free(probe.vendor);
    std::free(probe.picc_type);
    std::free(probe.protocol_name);
}

}  // namespace
