// ISO 14443-4 commands of the first family: the CPU card's activation and
// APDUs (type A), the type B frame exchange, the identity card's
// identifier, and the APDU batches.
//
//   0x0210 0x26/0x52  wake-up (or request), anticollision, select and RATS:
//                     SAK, UID length, UID, the CID used (00), the ATS  0x0D
//   0x0211 APDU       to the CPU card in the ISO 14443-4 protocol: its
//                     response                                         0x0D
//   0x0215 batch      APDUs to the CPU card (items: length high, low, bytes;
//                     the answers in the same form)                  0x0D / 0x0C
//   0x0303 frame      type B: 05 AFI PARAM (REQB; PARAM bit 3: WUPB) gets
//                     the ATQB, 1D ... (ATTRIB) the answer byte, 50 PUPI
//                     (HLTB) 00, anything else is an APDU to the active
//                     card and gets its response. Each answer is followed
//                     by one byte of the reader's: 00, received intact. 0x0D
//   0x0305 batch      the same batch to the active type B card (a body
//                     opening with the SAM preamble goes to the SAM
//                     instead, fw_sam.cpp)
//   0x0301 0x52       type B wake-up, ATTRIB and GET UID: the identity
//                     card's 8-byte identifier and 90 00        0x0D / 0x17
// The type B commands need the card protocol 'B' and the antenna on; the
// type A ones 'A'.
#include <algorithm>

#include "cpu_card.h"
#include "fw_activation.h"
#include "type_b_card.h"

namespace vrsim {
namespace {

constexpr uint8_t kRequestIdle = 0x26;
constexpr uint8_t kWakeUp = 0x52;
constexpr uint8_t kReaderReceivedIntact = 0x00;
constexpr uint8_t kReqbHead = 0x05;
constexpr uint8_t kWupbBit = 0x08;
constexpr uint8_t kAttribHead = 0x1D;
constexpr uint8_t kHltbHead = 0x50;
constexpr uint8_t kGetUid[] = {0x00, 0x36, 0x00, 0x00, 0x08};
constexpr size_t kIdentifierSize = 8;

Reply wrong_length() { return Reply::error(status::cmd_length); }
Reply fail(uint8_t s) { return Reply::error(s); }

std::shared_ptr<TypeBCard> reachable_type_b(FirmwareState& st) {
    if (!st.settings.antenna_on || st.settings.picc_protocol != 'B') return nullptr;
    return std::dynamic_pointer_cast<TypeBCard>(st.field.card());
}

std::shared_ptr<CpuCard> cpu_card_in_protocol(FirmwareState& st) {
    auto card = std::dynamic_pointer_cast<CpuCard>(reachable_card(st));
    return card && card->in_protocol() ? card : nullptr;
}

Reply with_reader_byte(Bytes answer) {
    answer.push_back(kReaderReceivedIntact);
    return Reply::ok(std::move(answer));
}

// Runs each item of a batch through `exchange`; nothing when the card
// stops answering, a bad-argument reply when the items do not add up.
template <typename Exchange>
Reply run_batch(const Request& rq, Exchange exchange) {
    Bytes out;
    for (size_t at = 0; at < rq.data.size();) {
        if (at + 2 > rq.data.size()) return fail(status::bad_argument);
        const size_t n = static_cast<size_t>(rq.data[at] << 8 | rq.data[at + 1]);
        if (at + 2 + n > rq.data.size()) return fail(status::bad_argument);
        const auto answer = exchange(ByteView(rq.data).subspan(at + 2, n));
        if (!answer) return fail(status::no_card);
        out.push_back(static_cast<uint8_t>(answer->size() >> 8));
        out.push_back(static_cast<uint8_t>(answer->size() & 0xFF));
        out.insert(out.end(), answer->begin(), answer->end());
        at += 2 + n;
    }
    if (out.size() > kMaxBody - 1) return fail(status::cmd_length);
    return Reply::ok(std::move(out));
}

// 0x0210: activation with RATS.
Reply activate_iso_dep(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    if (rq.data[0] != kRequestIdle && rq.data[0] != kWakeUp) return fail(status::bad_argument);
    const auto card = std::dynamic_pointer_cast<CpuCard>(activate(st, rq.data[0] == kWakeUp));
    const auto ats = card ? card->rats() : std::nullopt;
    if (!ats) return fail(status::no_card);
    Bytes out{card->sak(), static_cast<uint8_t>(card->uid().size())};
    out.insert(out.end(), card->uid().begin(), card->uid().end());
    out.push_back(0x00);
    out.insert(out.end(), ats->begin(), ats->end());
    return Reply::ok(std::move(out));
}

// 0x0211: one APDU to the CPU card.
Reply cpu_apdu(FirmwareState& st, const Request& rq) {
    if (rq.data.empty()) return wrong_length();
    const auto card = cpu_card_in_protocol(st);
    const auto answer = card ? card->apdu(rq.data) : std::nullopt;
    if (!answer) return fail(status::no_card);
    return Reply::ok(*answer);
}

// 0x0215: APDUs to the CPU card.
Reply cpu_batch(FirmwareState& st, const Request& rq) {
    const auto card = cpu_card_in_protocol(st);
    if (!card) return fail(status::no_card);
    return run_batch(rq, [&](ByteView apdu) { return card->apdu(apdu); });
}

// 0x0303: one type B frame.
Reply type_b_frame(FirmwareState& st, const Request& rq) {
    const ByteView f = rq.data;
    if (f.empty()) return wrong_length();
    const auto card = reachable_type_b(st);
    if (!card) return fail(status::no_card);
    if (f.size() == 3 && f[0] == kReqbHead) {
        const auto atqb = card->reqb(f[2] & kWupbBit);
        return atqb ? with_reader_byte(*atqb) : fail(status::no_card);
    }
    if (f.size() == 9 && f[0] == kAttribHead) {
        const auto answer = card->attrib(f);
        return answer ? with_reader_byte({*answer}) : fail(status::no_card);
    }
    if (f.size() == 5 && f[0] == kHltbHead)
        return card->hltb(f.subspan(1)) ? with_reader_byte({0x00}) : fail(status::no_card);
    const auto answer = card->apdu(f);
    return answer ? with_reader_byte(*answer) : fail(status::no_card);
}

// 0x0301 0x52: the identity card's identifier.
Reply card_identifier(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    if (rq.data[0] != kRequestIdle && rq.data[0] != kWakeUp) return fail(status::bad_argument);
    const auto card = reachable_type_b(st);
    const auto atqb = card ? card->reqb(rq.data[0] == kWakeUp) : std::nullopt;
    if (!atqb) return fail(status::no_card);
    Bytes attrib{kAttribHead};
    attrib.insert(attrib.end(), atqb->begin() + 1, atqb->begin() + 5);
    attrib.insert(attrib.end(), {0x00, 0x08, 0x01, 0x08});
    if (!card->attrib(attrib)) return fail(status::no_card);
    const auto answer = card->apdu(kGetUid);
    if (!answer || answer->size() != kIdentifierSize + 2 || (*answer)[kIdentifierSize] != 0x90 ||
        (*answer)[kIdentifierSize + 1] != 0x00)
        return fail(status::read_failed);
    return Reply::ok(*answer);
}

}  // namespace

Reply type_b_batch(FirmwareState& st, const Request& rq) {
    const auto card = reachable_type_b(st);
    if (!card) return fail(status::no_card);
    return run_batch(rq, [&](ByteView apdu) { return card->apdu(apdu); });
}

void install_iso_dep_commands(CommandTable& t) {
    t.add(0x0210, activate_iso_dep);
    t.add(0x0211, cpu_apdu);
    t.add(0x0215, cpu_batch);
    t.add(0x0301, card_identifier);
    t.add(0x0303, type_b_frame);
}

}  // namespace vrsim
