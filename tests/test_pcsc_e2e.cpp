// The reader driver in a private pcscd, against the simulated reader on a
// pseudo-terminal, through a libpcsclite client: what smart-card software
// sees of the reader, its cards and its faults.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bank_card.h"
#include "card.h"
#include "control.h"
#include "cpu_card.h"
#include "identity_card.h"
#include "pcsc_client.h"
#include "private_pcscd.h"
#include "sim_harness.h"
#include "type_b_card.h"
#include "ultralight_card.h"
#include "vantelrfid_ifd.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// pcscd asks for the card every 400 ms, so insertion and removal show
// within about half a second; the test waits longer only for the slow
// sanitizer builds (a wait ends at the event).
constexpr auto kEventWait = 6s;

// SELECT of the CPU card's label file, answered with its FCI.
const Bytes kSelectLabel{0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x01};

// SW1 61 (an FCI waits for GET RESPONSE) or 90 00.
bool selected(const Bytes &answer) {
    return answer.size() == 2 && (answer[0] == 0x61 || (answer[0] == 0x90 && answer[1] == 0x00));
}

Bytes block_of(vrsim::Card &card, int n) {
    const auto b = card.block(n);
    return Bytes(b.begin(), b.end());
}

Bytes sw(uint16_t word) { return {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)}; }
Bytes cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PcscE2e : public ::testing::Test {
protected:
    void SetUp() override {
        // pcscd opens the reader by a link that a reconnected simulator
        // points at its new pseudo-terminal.
        vrsim::SimOptions options;
        options.link = "/tmp/vr-pcsc-reader-" + std::to_string(::getpid());
        sim = vrsim::start_simulator(options);
        ASSERT_TRUE(sim) << "simulator did not start";
        // Short reply time-outs keep the fault cases quick.
        ASSERT_TRUE(daemon.start(options.link + ":timeout=100", VR_IFD_PATH)) << daemon.error();
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context), SCARD_S_SUCCESS);
        ASSERT_TRUE(wait_for_reader()) << daemon.log();
    }
    void TearDown() override {
        if (card) SCardDisconnect(card, SCARD_LEAVE_CARD);
        if (context) SCardReleaseContext(context);
        // A clean stop closes the channel; a crash would show here too.
        EXPECT_TRUE(daemon.running()) << daemon.log();
        EXPECT_TRUE(daemon.stop_cleanly(std::chrono::seconds(8))) << daemon.log();
    }

    bool wait_for_reader() {
        return !vrtest::wait_for_reader(context, vrtest::PrivatePcscd::kReaderName).empty();
    }

    bool wait_state(DWORD flag, std::chrono::milliseconds timeout = kEventWait) {
        return vrtest::wait_reader_state(context, vrtest::PrivatePcscd::kReaderName, flag, timeout);
    }

    void place(std::shared_ptr<vrsim::Card> c) {
        sim->field().place(std::move(c));
        ASSERT_TRUE(wait_state(SCARD_STATE_PRESENT)) << "insertion not seen";
    }

    LONG connect() {
        DWORD protocol = 0;
        return SCardConnect(context, vrtest::PrivatePcscd::kReaderName, SCARD_SHARE_SHARED,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    }

    Bytes atr() {
        char name[256];
        DWORD name_length = sizeof name, state = 0, protocol = 0;
        BYTE bytes[MAX_ATR_SIZE];
        DWORD n = sizeof bytes;
        if (SCardStatus(card, name, &name_length, &state, &protocol, bytes, &n) != SCARD_S_SUCCESS) return {};
        return Bytes(bytes, bytes + n);
    }

    LONG transmit(const Bytes &command, Bytes &answer) { return vrtest::transmit(card, command, answer); }
    Bytes send(const Bytes &command) {
        Bytes answer;
        EXPECT_EQ(transmit(command, answer), SCARD_S_SUCCESS);
        return answer;
    }

    // Lets pcscd ask for the card a few times (it searches, which selects
    // the card again): what a session holds must outlive that.
    void let_presence_polls_pass(unsigned polls = 2) {
        const auto searches = [&] {
            unsigned n = 0;
            for (const auto &r : sim->requests()) n += r.cmd == 0x0213;
            return n;
        };
        const unsigned before = searches();
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (searches() < before + polls && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
    }

    std::unique_ptr<vrsim::Simulator> sim;
    vrtest::PrivatePcscd daemon;
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
};

TEST_F(PcscE2e, InsertionAndRemovalAreSeenAndARemovedCardEndsTheSession) {
    EXPECT_TRUE(wait_state(SCARD_STATE_EMPTY));
    place(vrsim::Card::classic_1k({0x11, 0x22, 0x33, 0x44}));
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    sim->field().remove();
    EXPECT_TRUE(wait_state(SCARD_STATE_EMPTY)) << "removal not seen";
    Bytes answer;
    EXPECT_EQ(transmit({0xFF, 0xCA, 0x00, 0x00, 0x00}, answer), SCARD_W_REMOVED_CARD);
    // Another card in its place is a new card.
    place(vrsim::Card::classic_1k({0x55, 0x66, 0x77, 0x88}));
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    card = 0;
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    EXPECT_EQ(send({0xFF, 0xCA, 0x00, 0x00, 0x00}), cat({0x55, 0x66, 0x77, 0x88}, sw(0x9000)));
}

TEST_F(PcscE2e, EachCardTypeGetsItsAnswerToReset) {
    struct Case {
        const char *name;
        std::shared_ptr<vrsim::Card> card;
        Bytes atr;
    };
    const Bytes storage{0x3B, 0x8F, 0x80, 0x01, 0x80, 0x4F, 0x0C, 0xA0, 0x00, 0x00, 0x03, 0x06, 0x03};
    const Case cases[] = {
        {"Classic Mini", vrsim::Card::classic_mini(), cat(storage, {0x00, 0x26, 0, 0, 0, 0, 0x4D})},
        {"Classic 1K", vrsim::Card::classic_1k(), cat(storage, {0x00, 0x01, 0, 0, 0, 0, 0x6A})},
        {"Classic 4K", vrsim::Card::classic_4k(), cat(storage, {0x00, 0x02, 0, 0, 0, 0, 0x69})},
        {"Ultralight", vrsim::Card::ultralight(), cat(storage, {0x00, 0x03, 0, 0, 0, 0, 0x68})},
        {"Ultralight C", vrsim::Card::ultralight_c(), cat(storage, {0x00, 0x3A, 0, 0, 0, 0, 0x51})},
        // The historical bytes of its answer to select, "VRCPU".
        {"CPU card", vrsim::CpuCard::make({}, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr),
         {0x3B, 0x85, 0x80, 0x01, 'V', 'R', 'C', 'P', 'U', 0x46}},
        // An answer to select without historical bytes.
        {"bank card", vrsim::BankCard::make({}, nullptr), {0x3B, 0x80, 0x80, 0x01, 0x01}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        place(c.card);
        ASSERT_EQ(connect(), SCARD_S_SUCCESS);
        EXPECT_EQ(atr(), c.atr);
        SCardDisconnect(card, SCARD_LEAVE_CARD);
        card = 0;
        sim->field().remove();
        ASSERT_TRUE(wait_state(SCARD_STATE_EMPTY));
    }
}

TEST_F(PcscE2e, ClassicBlocksThroughTheReaderCommands) {
    auto classic = vrsim::Card::classic_1k({0xA1, 0xB2, 0xC3, 0xD4});
    const vrsim::Key secret{1, 2, 3, 4, 5, 6};
    classic->set_keys(2, secret, secret);
    place(classic);
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    const Bytes ok = sw(0x9000);
    EXPECT_EQ(send({0xFF, 0xCA, 0x00, 0x00, 0x00}), cat({0xA1, 0xB2, 0xC3, 0xD4}, ok));
    EXPECT_EQ(send({0xFF, 0xCA, 0x00, 0x00, 0x02}), sw(0x6C04));
    EXPECT_EQ(send({0xFF, 0xCA, 0x01, 0x00, 0x00}), sw(0x6A81)) << "a storage card has no answer to select";
    // The transport key in slot 0, the sector's own in slot 1.
    EXPECT_EQ(send({0xFF, 0x82, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), ok);
    EXPECT_EQ(send(cat({0xFF, 0x82, 0x00, 0x01, 0x06}, Bytes(secret.begin(), secret.end()))), ok);
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x04, 0x10}), sw(0x6982)) << "read before authentication";
    EXPECT_EQ(send({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x60, 0x00}), ok);

    const Bytes data{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
    EXPECT_EQ(send(cat({0xFF, 0xD6, 0x00, 0x05, 0x10}, data)), ok);
    EXPECT_EQ(block_of(*classic, 5), data);
    // The authentication outlives pcscd's presence polls.
    let_presence_polls_pass();
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x05, 0x10}), cat(data, ok));
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x08, 0x10}), sw(0x6982)) << "block of another sector";

    // Sector 2 with the wrong key, then the right one.
    EXPECT_EQ(send({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x08, 0x60, 0x00}), sw(0x6300));
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x05, 0x10}), sw(0x6982)) << "a refused authentication ends the last one";
    EXPECT_EQ(send({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x08, 0x60, 0x01}), ok);
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x08, 0x00}), cat(block_of(*classic, 8), ok));
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x40, 0x10}), sw(0x6B00)) << "a 1K card has 64 blocks";
}

TEST_F(PcscE2e, UltralightPagesThroughTheReaderCommands) {
    const Bytes uid{0x04, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    auto ul = vrsim::UltralightCard::make(false, uid, 0x0044, 0x00, nullptr);
    place(ul);
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    const Bytes ok = sw(0x9000);
    EXPECT_EQ(send({0xFF, 0xCA, 0x00, 0x00, 0x00}), cat(uid, ok));
    const Bytes page{0xCA, 0xFE, 0xBA, 0xBE};
    EXPECT_EQ(send(cat({0xFF, 0xD6, 0x00, 0x05, 0x04}, page)), ok);
    EXPECT_EQ(ul->page(5), (std::array<uint8_t, 4>{0xCA, 0xFE, 0xBA, 0xBE}));
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x05, 0x04}), cat(page, ok));
    // Four pages at once, and a read that runs past the last page.
    const Bytes four = send({0xFF, 0xB0, 0x00, 0x04, 0x10});
    ASSERT_EQ(four.size(), 18u);
    EXPECT_EQ(Bytes(four.begin() + 4, four.begin() + 8), page);
    const Bytes tail = send({0xFF, 0xB0, 0x00, 0x0E, 0x10});
    EXPECT_EQ(tail.size(), 10u);
    EXPECT_EQ(Bytes(tail.end() - 2, tail.end()), sw(0x6282));
    EXPECT_EQ(send({0xFF, 0xD6, 0x00, 0x05, 0x03, 1, 2, 3}), sw(0x6700)) << "not whole pages";
    EXPECT_EQ(send({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x60, 0x00}), sw(0x6A81));
    EXPECT_EQ(send({0xFF, 0x20, 0x00, 0x00, 0x00}), sw(0x6D00));
    EXPECT_EQ(send({0x00, 0xA4, 0x04, 0x00, 0x00}), sw(0x6E00)) << "no APDUs to a storage card";
}

TEST_F(PcscE2e, ApdusReachTheCpuCardAndItsSessionOutlivesPresencePolls) {
    place(vrsim::CpuCard::make({}, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr));
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    EXPECT_EQ(send({0xFF, 0xCA, 0x01, 0x00, 0x00}), cat({'V', 'R', 'C', 'P', 'U'}, sw(0x9000)));
    EXPECT_TRUE(selected(send(kSelectLabel)));
    // The driver leaves a card in session alone, so the polls show on no
    // line: two of them take 800 ms.
    std::this_thread::sleep_for(900ms);
    const Bytes label = send({0x00, 0xB0, 0x00, 0x00, 0x0A});
    EXPECT_EQ(label, cat({'V', 'A', 'N', 'T', 'E', 'L', '-', 'S', 'I', 'M'}, sw(0x9000)));
}

// Type B cards, placed and taken away through the simulator's control
// channel: found when no type A card answers, their ATR from the request
// and ATTRIB answers, the PUPI as UID, APDUs to the card.
TEST_F(PcscE2e, TypeBCardsAreSeenAndTakeApdus) {
    vrsim::Control control(*sim);
    const Bytes ok = sw(0x9000);
    // ATQB 50 PUPI 00000000 008170, ATTRIB answer CID 8 (MBLI 0).
    const Bytes type_b_atr{0x3B, 0x88, 0x80, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x81, 0x70, 0x00, 0xF8};
    const Bytes get_uid{0x00, 0x36, 0x00, 0x00, 0x08};
    const Bytes identifier{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

    ASSERT_TRUE(control.execute("card place id_card 1122334455667788").ok);
    ASSERT_TRUE(wait_state(SCARD_STATE_PRESENT)) << "insertion not seen";
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    EXPECT_EQ(atr(), type_b_atr);
    EXPECT_EQ(send({0xFF, 0xCA, 0x00, 0x00, 0x00}), cat({0, 0, 0, 0}, ok)) << "the PUPI";
    EXPECT_EQ(send({0xFF, 0xCA, 0x01, 0x00, 0x00}), sw(0x6A81)) << "no answer to select";
    EXPECT_EQ(send({0xFF, 0xB0, 0x00, 0x00, 0x10}), sw(0x6D00)) << "no storage commands";
    EXPECT_EQ(send(get_uid), cat(identifier, ok));
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    card = 0;
    ASSERT_TRUE(control.execute("card remove").ok);
    ASSERT_TRUE(wait_state(SCARD_STATE_EMPTY)) << "removal not seen";

    ASSERT_TRUE(control.execute("card place cid_card").ok);
    auto cid = std::dynamic_pointer_cast<vrsim::CidCard>(sim->field().card());
    ASSERT_TRUE(cid);
    ASSERT_TRUE(wait_state(SCARD_STATE_PRESENT)) << "insertion not seen";
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    EXPECT_EQ(atr(), type_b_atr);
    const Bytes read{0x00, 0xB0, 0x00, 0x00, 0x20};
    EXPECT_EQ(send({0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x02}), ok);
    EXPECT_EQ(send(read), cat(cid->file(0x6002), ok));
    // An APDU the reader would take for its own halt frame is refused, and
    // the card's session goes on; so it does past pcscd's polls.
    EXPECT_EQ(send({0x50, 0x00, 0x00, 0x00, 0x00}), sw(0x6E00));
    std::this_thread::sleep_for(900ms);
    EXPECT_EQ(send(read), cat(cid->file(0x6002), ok));

    // Taken away in session: the next APDU fails, the reader shows empty.
    ASSERT_TRUE(control.execute("card remove").ok);
    Bytes answer;
    EXPECT_NE(transmit(read, answer), SCARD_S_SUCCESS);
    EXPECT_TRUE(wait_state(SCARD_STATE_EMPTY)) << "removal not seen";
}

// What pcscd's polls of an empty field put on the line: the type A search
// and the type B request, each behind its protocol switch.
TEST_F(PcscE2e, AnEmptyFieldCostsFourShortCommandsAPoll) {
    ASSERT_TRUE(wait_state(SCARD_STATE_EMPTY));
    let_presence_polls_pass(1);
    const std::size_t from = sim->requests().size();
    let_presence_polls_pass(3);
    std::vector<uint16_t> codes;
    for (const auto &r : sim->requests()) codes.push_back(r.cmd);
    codes.erase(codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(from));
    // Whole polls only: from a type A search to the one of the third poll.
    const auto first = std::find(codes.begin(), codes.end(), 0x0213);
    const auto last = std::find(codes.rbegin(), codes.rend(), 0x0213).base() - 1;
    ASSERT_TRUE(first != codes.end() && first < last);
    const auto polls = std::count(first, last, 0x0213);
    std::string seen;
    for (auto it = first; it != last; ++it) seen += std::to_string(*it) + " ";
    EXPECT_EQ(last - first, 4 * polls) << seen;
}

TEST_F(PcscE2e, SelectOfThePaymentEnvironmentOnTheBankCard) {
    place(vrsim::BankCard::make({}, nullptr));
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    const Bytes pse{'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'};
    const Bytes fci = send(cat(cat({0x00, 0xA4, 0x04, 0x00, static_cast<uint8_t>(pse.size())}, pse), {0x00}));
    ASSERT_GE(fci.size(), 4u);
    EXPECT_EQ(fci[0], 0x6F) << "the answer is the environment's FCI template";
    EXPECT_EQ(Bytes(fci.end() - 2, fci.end()), sw(0x9000));
}

TEST_F(PcscE2e, ControlCodesDriveTheReader) {
    BYTE out[64];
    DWORD n = 0;
    const BYTE beep[] = {3, 4};
    place(vrsim::Card::classic_1k());
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardControl(card, VR_IFD_BUZZER, beep, sizeof beep, out, sizeof out, &n), SCARD_S_SUCCESS);
    EXPECT_EQ(sim->firmware().settings().buzzer, (std::array<uint8_t, 2>{3, 4}));
    const BYTE led[] = {1, 0};
    EXPECT_EQ(SCardControl(card, VR_IFD_LED, led, sizeof led, out, sizeof out, &n), SCARD_S_SUCCESS);
    EXPECT_EQ(sim->firmware().settings().led, (std::array<uint8_t, 2>{1, 0}));
    ASSERT_EQ(SCardControl(card, VR_IFD_FIRMWARE_VERSION, nullptr, 0, out, sizeof out, &n), SCARD_S_SUCCESS);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), n), "vantel-sim 1.0.0");
    // The feature list is empty; unknown codes and wrong lengths fail.
    EXPECT_EQ(SCardControl(card, VR_IFD_CTL_CODE(3400), nullptr, 0, out, sizeof out, &n), SCARD_S_SUCCESS);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(SCardControl(card, VR_IFD_CTL_CODE(0x3700), nullptr, 0, out, sizeof out, &n),
              SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(SCardControl(card, VR_IFD_BUZZER, beep, 1, out, sizeof out, &n), SCARD_E_NOT_TRANSACTED);
    EXPECT_EQ(SCardControl(card, VR_IFD_FIRMWARE_VERSION, nullptr, 0, out, 8, &n), SCARD_E_INSUFFICIENT_BUFFER);
}

// Faults of the reader give errors within the link's time-outs (the
// storage commands use the port's, 100 ms here), never wrong data or a
// crash of pcscd, and the reader serves again once they stop.
TEST_F(PcscE2e, ReaderFaultsGiveErrorsAndPcscdCarriesOn) {
    auto classic = vrsim::Card::classic_1k();
    place(classic);
    const Bytes block = cat(block_of(*classic, 4), sw(0x9000));
    const auto start_session = [&] {
        ASSERT_EQ(connect(), SCARD_S_SUCCESS);
        ASSERT_EQ(send({0xFF, 0x82, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), sw(0x9000));
        ASSERT_EQ(send({0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x60, 0x00}), sw(0x9000));
    };
    start_session();
    const Bytes read{0xFF, 0xB0, 0x00, 0x04, 0x10};
    const struct {
        const char *name;
        vrsim::Fault fault;
    } cases[] = {{"garbage", vrsim::Fault::garbage()},
                 {"drop", vrsim::Fault::drop()},
                 {"crc", vrsim::Fault::crc()},
                 {"error status", vrsim::Fault::with_status(0x0E)}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // Enough spoiled replies that the library's repeat requests and
        // resends run out, whatever pcscd asks meanwhile.
        sim->inject(c.fault, 8);
        Bytes answer;
        const auto start = std::chrono::steady_clock::now();
        if (transmit(read, answer) == SCARD_S_SUCCESS && answer.size() > 2) {
            EXPECT_EQ(answer, block) << "never wrong data";
        }
        // A hang detector, not a speed test: the link gives up within a second
        // here; a driver waiting on a dead line would take tens.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "bounded by the link's time-outs";
        sim->clear_faults();
        EXPECT_TRUE(daemon.running());
        SCardDisconnect(card, SCARD_RESET_CARD);
        card = 0;
        ASSERT_TRUE(wait_state(SCARD_STATE_PRESENT, 5s));
        start_session();
        EXPECT_EQ(send(read), block);
    }
}

// A hang-up (a serial adapter pulled out) fails cleanly; the reader serves
// again once its device is back.
TEST_F(PcscE2e, AHungUpReaderFailsCleanlyAndIsOpenedAgain) {
    place(vrsim::CpuCard::make({}, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr));
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    sim->hangup();
    Bytes answer;
    EXPECT_NE(transmit(kSelectLabel, answer), SCARD_S_SUCCESS);
    EXPECT_TRUE(wait_state(SCARD_STATE_EMPTY | SCARD_STATE_UNAVAILABLE | SCARD_STATE_MUTE, 3s));
    EXPECT_TRUE(daemon.running());
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    card = 0;
    ASSERT_TRUE(sim->reconnect());
    ASSERT_TRUE(wait_state(SCARD_STATE_PRESENT, 3s)) << "the reader opened again\n" << daemon.log();
    ASSERT_EQ(connect(), SCARD_S_SUCCESS);
    EXPECT_TRUE(selected(send(kSelectLabel)));
}

// A type A card without a driver here is seen, but cannot be used.
TEST_F(PcscE2e, ACardWithoutADriverIsPresentButRefusesConnection) {
    place(vrsim::Card::type_a(0x0004, 0x10));
    EXPECT_NE(connect(), SCARD_S_SUCCESS);
    EXPECT_TRUE(daemon.running());
}

}  // namespace
