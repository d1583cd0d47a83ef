#include "reader_apdu.h"

#include <algorithm>

namespace vrpcsc {
namespace {

constexpr uint8_t kGetData = 0xCA;
constexpr uint8_t kLoadKeys = 0x82;
constexpr uint8_t kGeneralAuthenticate = 0x86;
constexpr uint8_t kReadBinary = 0xB0;
constexpr uint8_t kUpdateBinary = 0xD6;

constexpr uint8_t kKeyStructureNonVolatile = 0x20;
constexpr uint8_t kAuthenticateVersion = 0x01;
constexpr std::size_t kAuthenticateLength = 5;
constexpr uint8_t kKeyA = 0x60, kKeyB = 0x61;
// The most a READ BINARY or UPDATE BINARY moves: one MIFARE Classic block,
// four Ultralight pages (what the card's own READ returns).
constexpr std::size_t kMaxTransfer = 16;
constexpr std::size_t kShortLeZero = 256;

Answer with_status(Bytes data, uint16_t word) {
    data.push_back(static_cast<uint8_t>(word >> 8));
    data.push_back(static_cast<uint8_t>(word & 0xFF));
    return {std::move(data), false};
}

Answer link_failure() { return {{}, true}; }

unsigned address_of(const Apdu &apdu) { return static_cast<unsigned>(apdu.p1) << 8 | apdu.p2; }

// MIFARE Classic sectors: 32 of 4 blocks, then (4K) 8 of 16 blocks.
unsigned sector_of(unsigned block) { return block < 128 ? block / 4 : 32 + (block - 128) / 16; }

// Data of a GET DATA or READ BINARY against its Le: less asked for than
// there is gives the exact length to ask (6C XX), more asked for the data
// and "end of data".
Answer fit_to_le(Bytes data, const std::optional<std::size_t> &le) {
    if (!le || *le == kShortLeZero || *le == data.size()) return with_status(std::move(data), sw::ok);
    if (*le < data.size()) {
        if (data.size() > 0xFF) return status(sw::wrong_length);
        return status(static_cast<uint16_t>(sw::wrong_le | data.size()));
    }
    return with_status(std::move(data), sw::end_of_data);
}

}  // namespace

Answer status(uint16_t word) { return with_status({}, word); }

Parsed parse_apdu(const uint8_t *bytes, std::size_t n) {
    Parsed out;
    if (!bytes || n < 4) {
        out.error = sw::wrong_length;
        return out;
    }
    Apdu a;
    a.cla = bytes[0];
    a.ins = bytes[1];
    a.p1 = bytes[2];
    a.p2 = bytes[3];
    if (n == 5) {
        a.le = bytes[4] ? bytes[4] : kShortLeZero;
    } else if (n > 5) {
        // A zero Lc would start an extended length, which the reader's
        // commands never need.
        const std::size_t lc = bytes[4];
        if (lc == 0 || (n != 5 + lc && n != 6 + lc)) {
            out.error = sw::wrong_length;
            return out;
        }
        a.data = bytes + 5;
        a.lc = lc;
        if (n == 6 + lc) a.le = bytes[5 + lc] ? bytes[5 + lc] : kShortLeZero;
    }
    out.apdu = a;
    return out;
}

Answer get_data(const Apdu &apdu, const CardFacts &card) {
    if (apdu.p2 != 0) return status(sw::wrong_parameters);
    switch (apdu.p1) {
    case 0x00: return fit_to_le(card.uid, apdu.le);
    case 0x01:
        if (!card.historical) return status(sw::not_supported);
        return fit_to_le(*card.historical, apdu.le);
    default: return status(sw::wrong_parameters);
    }
}

Answer reader_command(const Apdu &apdu, const CardFacts &card, StorageSession *session) {
    if (apdu.cla != kReaderClass) return status(sw::no_class);
    if (apdu.ins == kGetData) return get_data(apdu, card);
    if (session) return session->run(apdu);
    return status(sw::no_instruction);
}

Answer StorageSession::run(const Apdu &apdu) {
    switch (apdu.ins) {
    case kLoadKeys: return load_key(apdu);
    case kGeneralAuthenticate: return authenticate(apdu);
    case kReadBinary: return read_binary(apdu);
    case kUpdateBinary: return update_binary(apdu);
    default: return status(sw::no_instruction);
    }
}

Outcome StorageSession::restore() {
    if (!auth_) return Outcome::ok;
    const Outcome o = card_.authenticate(auth_->block, auth_->key_type, auth_->key.data());
    if (o != Outcome::ok) auth_.reset();
    return o;
}

bool StorageSession::authenticated_for(unsigned block) const {
    return !is_classic(kind_) || (auth_ && sector_of(auth_->block) == sector_of(block));
}

Answer StorageSession::load_key(const Apdu &apdu) {
    if (apdu.p1 & kKeyStructureNonVolatile) return status(sw::no_non_volatile);
    if (apdu.p1 != 0) return status(sw::wrong_parameters);
    if (apdu.p2 >= keys_.size()) return status(sw::bad_key_number);
    if (apdu.lc != kKeySize) return status(sw::bad_key_length);
    Key key;
    std::copy(apdu.data, apdu.data + kKeySize, key.begin());
    keys_[apdu.p2] = key;
    return status(sw::ok);
}

Answer StorageSession::authenticate(const Apdu &apdu) {
    if (apdu.p1 != 0 || apdu.p2 != 0) return status(sw::wrong_parameters);
    if (apdu.lc != kAuthenticateLength) return status(sw::wrong_length);
    const uint8_t *d = apdu.data;
    const unsigned block = static_cast<unsigned>(d[1]) << 8 | d[2];
    const uint8_t key_type = d[3];
    const uint8_t slot = d[4];
    if (d[0] != kAuthenticateVersion || !is_classic(kind_) || (key_type != kKeyA && key_type != kKeyB))
        return status(sw::not_supported);
    if (block >= unit_count(kind_)) return status(sw::wrong_parameters);
    if (slot >= keys_.size()) return status(sw::bad_key_number);
    if (!keys_[slot]) return status(sw::key_not_loaded);
    // A refused authentication leaves the card unauthenticated.
    auth_.reset();
    switch (card_.authenticate(block, key_type, keys_[slot]->data())) {
    case Outcome::ok: auth_ = Authentication{block, key_type, *keys_[slot]}; return status(sw::ok);
    case Outcome::refused: return status(sw::no_information);
    case Outcome::link_failed: break;
    }
    return link_failure();
}

Answer StorageSession::read_binary(const Apdu &apdu) {
    const unsigned block = address_of(apdu);
    const std::size_t unit = unit_size(kind_);
    if (block >= unit_count(kind_)) return status(sw::wrong_parameters);
    const std::size_t want = !apdu.le || *apdu.le == kShortLeZero ? kMaxTransfer : *apdu.le;
    if (want > kMaxTransfer || (is_classic(kind_) && want > unit))
        return status(static_cast<uint16_t>(sw::wrong_le | std::min(kMaxTransfer, unit * 4)));
    if (!authenticated_for(block)) return status(sw::not_satisfied);
    // Pages past the end of the memory are not read: the answer stops at
    // the end, as "end of data" says.
    const std::size_t units = std::min<std::size_t>((want + unit - 1) / unit, unit_count(kind_) - block);
    Bytes data(units * unit);
    for (std::size_t i = 0; i < units; ++i) {
        switch (card_.read_unit(block + static_cast<unsigned>(i), data.data() + i * unit)) {
        case Outcome::ok: continue;
        case Outcome::refused: auth_.reset(); return status(sw::memory_failure);
        case Outcome::link_failed: return link_failure();
        }
    }
    if (data.size() > want) data.resize(want);
    const bool cut_short = data.size() < want;
    return with_status(std::move(data), cut_short ? sw::end_of_data : sw::ok);
}

Answer StorageSession::update_binary(const Apdu &apdu) {
    const unsigned block = address_of(apdu);
    const std::size_t unit = unit_size(kind_);
    if (block >= unit_count(kind_)) return status(sw::wrong_parameters);
    if (apdu.lc == 0 || apdu.lc % unit != 0 || apdu.lc > kMaxTransfer) return status(sw::wrong_length);
    const std::size_t units = apdu.lc / unit;
    if (block + units > unit_count(kind_)) return status(sw::wrong_parameters);
    if (!authenticated_for(block)) return status(sw::not_satisfied);
    for (std::size_t i = 0; i < units; ++i) {
        switch (card_.write_unit(block + static_cast<unsigned>(i), apdu.data + i * unit)) {
        case Outcome::ok: continue;
        case Outcome::refused: auth_.reset(); return status(sw::memory_failure);
        case Outcome::link_failed: return link_failure();
        }
    }
    return status(sw::ok);
}

}  // namespace vrpcsc
