#include "cpu_card.h"

namespace vrsim {
namespace {

Iso7816Files cpu_files() {
    ElementaryFile label{0x0001, 0, false, Bytes{'V', 'A', 'N', 'T', 'E', 'L', '-', 'S', 'I', 'M', ' ', 'C', 'P', 'U', 0, 0}, {}};
    ElementaryFile binary{0x0101, 1, false, Bytes(300), {}};
    for (size_t i = 0; i < binary.data.size(); ++i) binary.data[i] = static_cast<uint8_t>(i % 251);
    ElementaryFile records{0x0102, 2, true, {}, {}};
    for (uint8_t n = 1; n <= 4; ++n) {
        Bytes r(16, static_cast<uint8_t>(0xA0 + n));
        r[0] = n;
        records.record_list.push_back(std::move(r));
    }
    DedicatedFile app{0x1001, Bytes{0xF0, 'V', 'R', 'T', 'E', 'S', 'T', 0x01}, {std::move(binary), std::move(records)}, {}};
    return Iso7816Files({std::move(label)}, {std::move(app)});
}

}  // namespace

std::shared_ptr<CpuCard> CpuCard::make(Bytes uid, uint16_t atqa, uint8_t sak, std::string* error) {
    if (uid.empty()) uid = Card::random_uid(4);
    if (uid.size() != 4 && uid.size() != 7) {
        if (error) *error = "UID must have 4 or 7 bytes";
        return nullptr;
    }
    return std::make_shared<CpuCard>(atqa, sak, std::move(uid));
}

CpuCard::CpuCard(uint16_t atqa, uint8_t sak, Bytes uid)
    : CpuCard(CardKind::cpu, "cpu_card", atqa, sak, std::move(uid), cpu_files(), Bytes(kAts.begin(), kAts.end())) {}

CpuCard::CpuCard(CardKind kind, std::string name, uint16_t atqa, uint8_t sak, Bytes uid, Iso7816Files files,
                 Bytes ats)
    : Card(kind, std::move(name), atqa, sak, std::move(uid)), files_(std::move(files)), ats_(std::move(ats)) {}

std::optional<Bytes> CpuCard::rats() {
    std::lock_guard hold(mutex_);
    if (state_ != CardState::active || in_protocol_) {
        if (state_ != CardState::idle && state_ != CardState::halted) drop_out_locked();
        return std::nullopt;
    }
    in_protocol_ = true;
    return ats_;
}

std::optional<Bytes> CpuCard::apdu(ByteView command) {
    std::lock_guard hold(mutex_);
    if (!in_protocol_) return std::nullopt;
    return process_locked(command);
}

bool CpuCard::in_protocol() const {
    std::lock_guard hold(mutex_);
    return in_protocol_;
}

void CpuCard::end_session_locked() {
    in_protocol_ = false;
    files_.reset();
}

}  // namespace vrsim
