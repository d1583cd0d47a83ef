#include "type_b_card.h"

#include <algorithm>

namespace vrsim {
namespace {

constexpr uint8_t kAtqbHead = 0x50;
constexpr uint8_t kApplicationData[] = {0x00, 0x00, 0x00, 0x00};
constexpr uint8_t kProtocolInfo[] = {0x00, 0x81, 0x70};
constexpr uint8_t kAttribHead = 0x1D;
constexpr size_t kAttribSize = 9;
constexpr size_t kPupiSize = 4;

std::string random_number() {
    const Bytes r = Card::random_uid(16);
    std::string digits;
    for (uint8_t b : r) digits += static_cast<char>('0' + b % 10);
    return digits;
}

// File contents that differ by card, file and offset.
Bytes made_contents(const std::string& number, uint16_t id, size_t size) {
    Bytes out(size);
    uint32_t x = id;
    for (char c : number) x = x * 31 + static_cast<uint8_t>(c);
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

Iso7816Files cid_files(const std::string& number) {
    Bytes head(32, 0);
    const std::string text = "CID" + number;
    std::copy(text.begin(), text.end(), head.begin());
    std::vector<ElementaryFile> files{{0x6002, 0, false, std::move(head), {}}};
    for (auto [id, size] : {std::pair{0x6011, 214}, {0x6012, 256}, {0x6013, 1024}, {0x6021, 1024}})
        files.push_back({static_cast<uint16_t>(id), 0, false, made_contents(number, static_cast<uint16_t>(id), size), {}});
    return Iso7816Files(std::move(files), {}, Iso7816Files::FciWithoutLe::dropped);
}

}  // namespace

TypeBCard::TypeBCard(CardKind kind, std::string name, Bytes identity, Bytes pupi)
    : Card(kind, std::move(name), 0, 0, std::move(identity)), pupi_(std::move(pupi)) {}

// A request reaches a ready or active card too: it starts over.
std::optional<Bytes> TypeBCard::reqb(bool wake_up) {
    std::lock_guard hold(mutex_);
    if (state_ == CardState::halted && !wake_up) return std::nullopt;
    if (state_ == CardState::active) end_session_locked();
    woken_from_halt_ = state_ == CardState::halted;
    state_ = CardState::ready;
    Bytes atqb{kAtqbHead};
    atqb.insert(atqb.end(), pupi_.begin(), pupi_.end());
    atqb.insert(atqb.end(), std::begin(kApplicationData), std::end(kApplicationData));
    atqb.insert(atqb.end(), std::begin(kProtocolInfo), std::end(kProtocolInfo));
    return atqb;
}

std::optional<uint8_t> TypeBCard::attrib(ByteView frame) {
    std::lock_guard hold(mutex_);
    if (state_ != CardState::ready || frame.size() != kAttribSize || frame[0] != kAttribHead ||
        !std::equal(pupi_.begin(), pupi_.end(), frame.begin() + 1))
        return std::nullopt;
    state_ = CardState::active;
    return static_cast<uint8_t>(frame[8] & 0x0F);
}

bool TypeBCard::hltb(ByteView identifier) {
    std::lock_guard hold(mutex_);
    if ((state_ != CardState::ready && state_ != CardState::active) || identifier.size() != kPupiSize ||
        !std::ranges::equal(identifier, pupi_))
        return false;
    state_ = CardState::halted;
    woken_from_halt_ = false;
    end_session_locked();
    return true;
}

std::optional<Bytes> TypeBCard::apdu(ByteView command) {
    std::lock_guard hold(mutex_);
    if (state_ != CardState::active) return std::nullopt;
    return process_apdu_locked(command);
}

std::shared_ptr<CidCard> CidCard::make(Bytes pupi, std::string* error) {
    if (pupi.empty()) pupi = Bytes(kPupiSize, 0);
    if (pupi.size() != kPupiSize) {
        if (error) *error = "PUPI must have 4 bytes";
        return nullptr;
    }
    return std::make_shared<CidCard>(std::move(pupi));
}

CidCard::CidCard(Bytes pupi) : TypeBCard(CardKind::cid, "cid_card", pupi, pupi), number_(random_number()), files_(cid_files(number_)) {}

Bytes CidCard::file(uint16_t id) {
    std::lock_guard hold(mutex_);
    const ElementaryFile* f = files_.find(id);
    return f ? f->data : Bytes{};
}

Bytes CidCard::process_apdu_locked(ByteView command) { return files_.process(command); }

void CidCard::end_session_locked() { files_.reset(); }

}  // namespace vrsim
