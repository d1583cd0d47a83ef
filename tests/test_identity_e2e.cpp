// The PRC identity card end to end: the identity driver's identifier, and
// the id_sam driver reading the text, photo and fingerprint records
// through the simulated reader's SAM, with the SAM failing at each step.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "id_text.h"
#include "identity.h"
#include "identity_card.h"
#include "sim_link.h"

namespace {

using vrtest::Bytes;

const Bytes kIdentifier{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
constexpr unsigned char kSentinel = 0xA5;

// Caller buffers for the three records, filled with a sentinel so that
// anything written shows.
struct Buffers {
    std::vector<unsigned char> text = std::vector<unsigned char>(SAM_TEXT_MAX, kSentinel);
    std::vector<unsigned char> photo = std::vector<unsigned char>(SAM_PHOTO_MAX, kSentinel);
    std::vector<unsigned char> finger = std::vector<unsigned char>(SAM_FINGER_MAX, kSentinel);
    int text_length = SAM_TEXT_MAX;
    int photo_length = SAM_PHOTO_MAX;
    int finger_length = SAM_FINGER_MAX;

    bool untouched() const {
        for (const auto *v : {&text, &photo, &finger})
            for (unsigned char b : *v)
                if (b != kSentinel) return false;
        return text_length == SAM_TEXT_MAX && photo_length == SAM_PHOTO_MAX && finger_length == SAM_FINGER_MAX;
    }
};

// A card record of the heap, freed with what it owns.
struct Record {
    picc *p = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    ~Record() { picc_free(p); }
};

class IdentityE2e : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(); }
    std::shared_ptr<vrsim::IdentityCard> place() {
        auto card = vrsim::IdentityCard::make(kIdentifier, nullptr);
        sim->field().place(card);
        return card;
    }
    picc *open(const char *type) { return picc_open(type, "uart", 0, PICC_SEARCH_PLAIN, sim->path().c_str()); }
    int read_all(picc *p, Buffers &b) {
        return picc_ctrl(p, PICC_CTRL_ID_EXCHANGE6, b.text.data(), &b.text_length, b.photo.data(), &b.photo_length,
                         b.finger.data(), &b.finger_length);
    }
};

TEST_F(IdentityE2e, IdentityDriverReadsTheIdentifierOnce) {
    place();
    picc *p = open("id_card");
    ASSERT_NE(p, nullptr) << errno;
    EXPECT_STREQ(picc_type(p), "PRC Identity Cardt");
    EXPECT_STREQ(picc_vendor(p), "PRC Identity Card");
    unsigned char uid[30];
    ASSERT_EQ(picc_getuid(p, uid), 8);
    EXPECT_EQ(Bytes(uid, uid + 8), kIdentifier);
    sim->clear_log();
    EXPECT_EQ(identity_getuid(p), 0);
    EXPECT_TRUE(sim->requests().empty()) << "the identifier is known";
    // A fresh record: the field goes off and on, then the reader reads the
    // identifier.
    Record fresh;
    ASSERT_EQ(identity_init(fresh.p), 0);
    ASSERT_EQ(identity_anticoll(fresh.p, 0), 0);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x010C, 0x010C, 0x0301}));
    EXPECT_EQ(fresh.p->card_status, PICC_STATUS_ACTIVE);
    // A type B card that is no identity card has no identifier to give.
    sim->field().place(vrsim::CidCard::make({}, nullptr));
    Record other;
    ASSERT_EQ(identity_init(other.p), 0);
    errno = 0;
    EXPECT_EQ(identity_anticoll(other.p, 0), -1);
    EXPECT_EQ(errno, -35);
    EXPECT_EQ(other.p->uid_len, 0);
}

TEST_F(IdentityE2e, SamReadsTextPhotoAndFingerprint) {
    auto card = place();
    const auto records = card->records();
    picc *p = open("id_sam");
    ASSERT_NE(p, nullptr) << errno;
    Buffers b;
    sim->clear_log();
    ASSERT_EQ(read_all(p, b), 0);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0305, 0x0305, 0x0305})) << "search, select, read";
    ASSERT_EQ(b.text_length, 256);
    ASSERT_EQ(b.photo_length, 1024);
    ASSERT_EQ(b.finger_length, 1024);
    EXPECT_EQ(Bytes(b.text.begin(), b.text.end()), records.text);
    EXPECT_EQ(Bytes(b.photo.begin(), b.photo.end()), records.photo);
    EXPECT_EQ(Bytes(b.finger.begin(), b.finger.end()), records.fingerprint);
    const vrdump::IdText text = vrdump::decode_id_text(b.text);
    EXPECT_EQ(text.number.size(), 18u);
    EXPECT_EQ(text.name, card->text().name);

    // Code 69: the text alone (the driver is asked for code 73 without a
    // photo buffer).
    Buffers t;
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_ID_READ, t.text.data(), &t.text_length), 0);
    EXPECT_EQ(t.text_length, 256);
    EXPECT_EQ(Bytes(t.text.begin(), t.text.end()), records.text);
    EXPECT_EQ(t.photo[0], kSentinel);
    // Code 71: the photo alone.
    Buffers ph;
    ASSERT_EQ(picc_ctrl(p, PICC_CTRL_ID_WRITE, ph.photo.data(), &ph.photo_length), 0);
    EXPECT_EQ(Bytes(ph.photo.begin(), ph.photo.end()), records.photo);
    EXPECT_EQ(ph.text[0], kSentinel);

    // Codes 72 and 79: the reader's short answer with the fingerprint only.
    for (int code : {PICC_CTRL_ID_FILE, PICC_CTRL_ID_FINGERPRINT}) {
        Buffers f;
        sim->clear_log();
        const int rc = code == PICC_CTRL_ID_FILE
                           ? picc_ctrl(p, code, 0, 0, 0, 0, f.finger.data(), &f.finger_length)
                           : picc_ctrl(p, code, f.finger.data(), &f.finger_length);
        ASSERT_EQ(rc, 0) << code;
        EXPECT_EQ(commands(), (std::vector<uint16_t>{0x0305, 0x0305, 0x0306})) << code;
        EXPECT_EQ(Bytes(f.finger.begin(), f.finger.end()), records.fingerprint) << code;
    }

    // A card without a fingerprint record: the length word becomes 0.
    card->set_fingerprint({});
    Buffers none;
    ASSERT_EQ(read_all(p, none), 0);
    EXPECT_EQ(none.finger_length, 0);
    EXPECT_EQ(none.finger[0], kSentinel);
}

TEST_F(IdentityE2e, SamFailuresAtEachStepCopyNothing) {
    place();
    picc *p = open("id_sam");
    ASSERT_NE(p, nullptr);
    struct Case {
        vrsim::Sam::Step step;
        uint8_t sw3;
    };
    // No card found, the card not selected, the card unreadable, the
    // fingerprint failing its check.
    for (const Case c : {Case{vrsim::Sam::Step::search, 0x80}, Case{vrsim::Sam::Step::select, 0x81},
                         Case{vrsim::Sam::Step::read_all, 0x41}, Case{vrsim::Sam::Step::read_all, 0x37}}) {
        sim->firmware().sam().fail(c.step, c.sw3);
        Buffers b;
        errno = 0;
        EXPECT_EQ(read_all(p, b), -35) << int(c.sw3);
        EXPECT_TRUE(b.untouched()) << int(c.sw3);
    }
    // Answers spoiled on the way: refused, never copied.
    for (auto spoil : {vrsim::Sam::Spoil::check_byte, vrsim::Sam::Spoil::length, vrsim::Sam::Spoil::preamble}) {
        sim->firmware().sam().spoil_next(spoil);
        Buffers b;
        ASSERT_EQ(sam_search_identity(), -1) << "the spoiled search answer";
        ASSERT_EQ(sam_search_identity(), 0);
        ASSERT_EQ(sam_select_identity(), 0);
        sim->firmware().sam().spoil_next(spoil);
        EXPECT_EQ(sam_read_text_photo_finger(b.text.data(), &b.text_length, b.photo.data(), &b.photo_length,
                                             b.finger.data(), &b.finger_length),
                  -1);
        EXPECT_TRUE(b.untouched());
    }
    // The reader itself failing the command.
    sim->inject(vrsim::Fault::with_status(0x0B));
    Buffers b;
    EXPECT_EQ(read_all(p, b), -35);
    EXPECT_TRUE(b.untouched());
    // Missing buffers are refused by the dispatcher.
    EXPECT_EQ(picc_ctrl(p, PICC_CTRL_ID_EXCHANGE6, b.text.data(), &b.text_length, b.photo.data(), nullptr,
                        b.finger.data(), &b.finger_length),
              -24);
    // The self-check and the codes the driver does not know.
    sim->firmware().sam().fail(vrsim::Sam::Step::check, 0x60);
    errno = 0;
    EXPECT_EQ(sam_check(), -1);
    EXPECT_EQ(errno, -137);
    EXPECT_EQ(sam_check(), 0);
    EXPECT_EQ(sam_reset(), 0);
    errno = 0;
    EXPECT_EQ(id_sam_ctrl(p, 70, 0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(errno, -35);
}

TEST_F(IdentityE2e, CapacitiesAreChecked) {
    place();
    ASSERT_EQ(sam_search_identity(), 0);
    ASSERT_EQ(sam_select_identity(), 0);
    // A text buffer of 100 bytes for a 256-byte text: the read fails.
    Buffers b;
    b.text_length = 100;
    EXPECT_EQ(sam_read_text_photo(b.text.data(), &b.text_length, b.photo.data(), &b.photo_length), -1);
    EXPECT_EQ(b.text[0], kSentinel);
    EXPECT_EQ(b.photo[0], kSentinel) << "the photo comes after the text";
    // No text buffer: the photo is copied.
    Buffers c;
    ASSERT_EQ(sam_read_text_photo(nullptr, nullptr, c.photo.data(), &c.photo_length), 0);
    EXPECT_EQ(c.photo_length, 1024);
    EXPECT_NE(c.photo[0] == kSentinel && c.photo[1] == kSentinel, true);
    // The short answer checks the room for text and photo too.
    Buffers d;
    d.photo_length = 1023;
    EXPECT_EQ(sam_read_text_photo_finger_shortcut(d.text.data(), &d.text_length, d.photo.data(), &d.photo_length,
                                                  d.finger.data(), &d.finger_length),
              -1);
    EXPECT_EQ(d.finger[0], kSentinel);
}

// The second reader family frames the SAM's messages in command 0x8B.
class IdentitySecondFamily : public vrtest::SimLink {
protected:
    void SetUp() override { open_link(2); }
};

TEST_F(IdentitySecondFamily, SamFramesGoOutAsCommand8B) {
    auto card = vrsim::IdentityCard::make(kIdentifier, nullptr);
    sim->field().place(card);
    Record record;
    ASSERT_EQ(picc_init(record.p, "id_sam"), 0);
    Buffers b;
    ASSERT_EQ(id_sam_ctrl(record.p, 73, reinterpret_cast<intptr_t>(b.text.data()),
                          reinterpret_cast<intptr_t>(&b.text_length), reinterpret_cast<intptr_t>(b.photo.data()),
                          reinterpret_cast<intptr_t>(&b.photo_length), 0, 0),
              0);
    EXPECT_EQ(commands(), (std::vector<uint16_t>{0x8B, 0x8B, 0x8B}));
    EXPECT_EQ(Bytes(b.photo.begin(), b.photo.end()), card->records().photo);
}

}  // namespace
