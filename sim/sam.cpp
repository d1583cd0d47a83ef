#include "sam.h"

#include <algorithm>
#include <string_view>

#include "identity_card.h"

namespace vrsim {
namespace {

constexpr uint8_t kPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
constexpr size_t kPreambleSize = sizeof kPreamble;
constexpr size_t kLengthAt = kPreambleSize;
constexpr size_t kBodyAt = kLengthAt + 2;
// Answer: preamble, length, SW1 SW2 SW3, data, check byte.
constexpr size_t kAnswerOverhead = kBodyAt + 3 + 1;

namespace sw3 {
constexpr uint8_t ok = 0x90;
constexpr uint8_t found = 0x9F;
constexpr uint8_t data_error = 0x10;
constexpr uint8_t length_error = 0x11;
constexpr uint8_t command_error = 0x21;
constexpr uint8_t read_failed = 0x41;
constexpr uint8_t no_card = 0x80;
constexpr uint8_t select_failed = 0x81;
constexpr uint8_t no_item = 0x91;
}  // namespace sw3

constexpr uint8_t kGetUid[] = {0x00, 0x36, 0x00, 0x00, 0x08};
// The ATTRIB the SAM sends: identifier 0, as identity cards carry.
constexpr uint8_t kAttrib[] = {0x1D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x01, 0x08};

void put_be16(Bytes& out, size_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

size_t be16_at(ByteView b, size_t at) { return static_cast<size_t>(b[at] << 8 | b[at + 1]); }

// The answer frame around SW3 and the data.
Bytes answer_frame(uint8_t status, ByteView data) {
    Bytes out(std::begin(kPreamble), std::end(kPreamble));
    put_be16(out, 3 + data.size() + 1);
    out.insert(out.end(), {0x00, 0x00, status});
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(xor_of(ByteView(out).subspan(kLengthAt)));
    return out;
}

}  // namespace

std::optional<Sam::Step> Sam::step_of(uint8_t command, uint8_t parameter) {
    const unsigned key = command << 8 | parameter;
    switch (key) {
    case 0x10FF: return Step::reset;
    case 0x11FF: return Step::check;
    case 0x2001: return Step::search;
    case 0x2002: return Step::select;
    case 0x3001: return Step::read_text_photo;
    case 0x3010: return Step::read_all;
    case 0x3003: return Step::read_address;
    default: return std::nullopt;
    }
}

std::optional<Sam::Step> Sam::step_named(std::string_view name) {
    constexpr std::pair<std::string_view, Step> kNames[] = {
        {"reset", Step::reset},   {"check", Step::check},          {"search", Step::search},
        {"select", Step::select}, {"read", Step::read_text_photo}, {"readall", Step::read_all},
        {"address", Step::read_address},
    };
    for (const auto& [n, step] : kNames)
        if (n == name) return step;
    return std::nullopt;
}

Bytes Sam::answer(ByteView request, Field& field, bool antenna_on) {
    std::lock_guard hold(mutex_);
    // Request: preamble, length (command, data, check byte), command,
    // data, check byte.
    if (request.size() < kBodyAt + 2 || !std::equal(std::begin(kPreamble), std::end(kPreamble), request.begin()) ||
        xor_of(request.subspan(kLengthAt, request.size() - kLengthAt - 1)) != request.back())
        return frame_locked({sw3::data_error, {}});
    if (be16_at(request, kLengthAt) != request.size() - kBodyAt) return frame_locked({sw3::length_error, {}});
    const uint8_t command = request[kBodyAt];
    const uint8_t parameter = request.size() > kBodyAt + 2 ? request[kBodyAt + 1] : 0;
    const auto step = step_of(command, parameter);
    if (!step) return frame_locked({sw3::command_error, {}});
    if (auto it = failures_.find(*step); it != failures_.end()) {
        const uint8_t status = it->second.first;
        if (--it->second.second == 0) failures_.erase(it);
        return frame_locked({status, {}});
    }
    return frame_locked(run_locked(*step, field, antenna_on));
}

Sam::Outcome Sam::run_locked(Step step, Field& field, bool antenna_on) {
    switch (step) {
    case Step::reset:
        found_.reset();
        selected_ = false;
        return {sw3::ok, {}};
    case Step::check: return {sw3::ok, {}};
    case Step::search: {
        selected_ = false;
        found_.reset();
        auto card = antenna_on ? std::dynamic_pointer_cast<TypeBCard>(field.card()) : nullptr;
        if (!card || !card->reqb(true)) return {sw3::no_card, {}};
        found_ = card;
        return {sw3::found, {0x00, 0x00, 0x00, 0x00}};
    }
    case Step::select: {
        auto card = std::dynamic_pointer_cast<TypeBCard>(found_);
        const bool here = card && antenna_on && field.card() == found_;
        const auto identity = here && card->attrib(kAttrib) ? card->apdu(kGetUid) : std::nullopt;
        if (!identity || identity->size() != IdentityCard::kIdentifierSize + 2 ||
            (*identity)[IdentityCard::kIdentifierSize] != 0x90) {
            selected_ = false;
            return {sw3::select_failed, {}};
        }
        selected_ = true;
        return {sw3::ok, Bytes(identity->begin(), identity->begin() + IdentityCard::kIdentifierSize)};
    }
    default:
        if (!antenna_on) return {sw3::read_failed, {}};
        return read_locked(step, field);
    }
}

Sam::Outcome Sam::read_locked(Step step, Field& field) {
    const auto card = std::dynamic_pointer_cast<IdentityCard>(found_);
    const auto records = selected_ && card && field.card() == found_ ? card->read_by_sam() : std::nullopt;
    if (!records) return {sw3::read_failed, {}};
    if (step == Step::read_address) {
        if (records->extra_address.empty()) return {sw3::no_item, {}};
        return {sw3::ok, records->extra_address};
    }
    const bool with_finger = step == Step::read_all;
    Bytes data;
    put_be16(data, records->text.size());
    put_be16(data, records->photo.size());
    if (with_finger) put_be16(data, records->fingerprint.size());
    data.insert(data.end(), records->text.begin(), records->text.end());
    data.insert(data.end(), records->photo.begin(), records->photo.end());
    if (with_finger) data.insert(data.end(), records->fingerprint.begin(), records->fingerprint.end());
    return {sw3::ok, std::move(data)};
}

Bytes Sam::frame_locked(const Outcome& outcome) {
    Bytes frame = answer_frame(outcome.sw3, outcome.data);
    if (!spoil_) return frame;
    switch (*spoil_) {
    case Spoil::check_byte: frame.back() ^= 0x5A; break;
    case Spoil::preamble: frame[3] ^= 0xFF; break;
    case Spoil::length:
        // One more than the frame holds, with a check byte that matches:
        // only the length tells it apart.
        ++frame[kLengthAt + 1];
        frame.back() = xor_of(ByteView(frame).subspan(kLengthAt, frame.size() - kLengthAt - 1));
        break;
    }
    spoil_.reset();
    return frame;
}

void Sam::fail(Step step, uint8_t status, unsigned count) {
    std::lock_guard hold(mutex_);
    if (count == 0) return;
    failures_[step] = {status, count};
}

void Sam::spoil_next(Spoil how) {
    std::lock_guard hold(mutex_);
    spoil_ = how;
}

void Sam::clear_faults() {
    std::lock_guard hold(mutex_);
    failures_.clear();
    spoil_.reset();
}

bool Sam::selected() const {
    std::lock_guard hold(mutex_);
    return selected_;
}

namespace sam_frame {

std::optional<ByteView> successful_data(ByteView a) {
    if (a.size() < kAnswerOverhead || !std::equal(std::begin(kPreamble), std::end(kPreamble), a.begin()) ||
        be16_at(a, kLengthAt) != a.size() - kBodyAt || xor_of(a.subspan(kLengthAt, a.size() - kLengthAt - 1)) != a.back() ||
        a[kBodyAt] != 0 || a[kBodyAt + 1] != 0 || a[kBodyAt + 2] != sw3::ok)
        return std::nullopt;
    return a.subspan(kBodyAt + 3, a.size() - kAnswerOverhead);
}

Bytes without_text_and_photo(ByteView answer) {
    const auto data = successful_data(answer);
    if (!data || data->size() < 6) return Bytes(answer.begin(), answer.end());
    const size_t text = be16_at(*data, 0), photo = be16_at(*data, 2), finger = be16_at(*data, 4);
    if (6 + text + photo + finger != data->size()) return Bytes(answer.begin(), answer.end());
    Bytes out(answer.begin(), answer.begin() + kBodyAt + 3);  // the SAM's own length field stays
    out.insert(out.end(), data->begin(), data->begin() + 6);
    out.insert(out.end(), data->end() - static_cast<long>(finger), data->end());
    out.push_back(xor_of(ByteView(out).subspan(kLengthAt)));
    return out;
}

}  // namespace sam_frame
}  // namespace vrsim
