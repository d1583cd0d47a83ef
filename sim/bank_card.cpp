#include "bank_card.h"

#include <algorithm>
#include <cstdio>

#include "crypto.h"

namespace vrsim {
namespace {

namespace sw {
constexpr uint16_t ok = 0x9000;
constexpr uint16_t auth_failed = 0x6300;
constexpr uint16_t file_invalidated = 0x6283;
constexpr uint16_t wrong_length = 0x6700;
constexpr uint16_t out_of_sequence = 0x6985;
constexpr uint16_t wrong_mac = 0x6988;
constexpr uint16_t wrong_data = 0x6A80;
constexpr uint16_t file_not_found = 0x6A82;
constexpr uint16_t no_data_object = 0x6A88;
constexpr uint16_t unknown_ins = 0x6D00;
}  // namespace sw

constexpr uint8_t kAac = 0x00;
constexpr uint8_t kTc = 0x40;
constexpr uint8_t kArqc = 0x80;

Bytes operator+(Bytes a, ByteView b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes bytes(ByteView v) { return Bytes(v.begin(), v.end()); }

// ---- the card's data (made-up test values)

constexpr uint8_t kPse[] = {'1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'};
constexpr uint8_t kPpse[] = {'2', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1'};
constexpr uint8_t kAid[] = {0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01};
constexpr uint8_t kLabel[] = {'P', 'B', 'O', 'C', ' ', 'D', 'E', 'B', 'I', 'T'};
constexpr uint8_t kAip[] = {0x7C, 0x00};
constexpr uint8_t kAfl[] = {0x08, 0x01, 0x03, 0x00, 0x10, 0x01, 0x01, 0x01};
// Terminal transaction qualifiers, amounts, country, TVR, currency, date,
// type, unpredictable number.
constexpr uint8_t kPdol[] = {0x9F, 0x66, 0x04, 0x9F, 0x02, 0x06, 0x9F, 0x03, 0x06, 0x9F, 0x1A, 0x02, 0x95, 0x05,
                  0x5F, 0x2A, 0x02, 0x9A, 0x03, 0x9C, 0x01, 0x9F, 0x37, 0x04};
// The same, then the terminal's time and merchant.
constexpr uint8_t kCdol1[] = {0x9F, 0x02, 0x06, 0x9F, 0x03, 0x06, 0x9F, 0x1A, 0x02, 0x95, 0x05, 0x5F, 0x2A, 0x02, 0x9A,
                   0x03, 0x9C, 0x01, 0x9F, 0x37, 0x04, 0x9F, 0x21, 0x03, 0x9F, 0x4E, 0x14};
// The authorisation response code first.
constexpr uint8_t kCdol2[] = {0x8A, 0x02, 0x9F, 0x02, 0x06, 0x9F, 0x03, 0x06, 0x9F, 0x1A, 0x02, 0x95, 0x05,
                   0x5F, 0x2A, 0x02, 0x9A, 0x03, 0x9C, 0x01, 0x9F, 0x37, 0x04};
constexpr uint8_t kIssuerApplicationData[] = {0x07, 0x01, 0x01, 0x03, 0xA0, 0x00, 0x00, 0x01,
                                   0x0A, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr uint8_t kLogFormat[] = {0x9A, 0x03, 0x9F, 0x21, 0x03, 0x9F, 0x02, 0x06, 0x9F, 0x03, 0x06,
                       0x9F, 0x1A, 0x02, 0x5F, 0x2A, 0x02, 0x9F, 0x4E, 0x14, 0x9C, 0x01, 0x9F, 0x36, 0x02};

// The values a DOL asks for, in bytes.
size_t dol_size(ByteView dol) {
    size_t total = 0;
    for (size_t at = 0; at < dol.size();) {
        at += (dol[at] & 0x1F) == 0x1F ? 2 : 1;
        if (at < dol.size()) total += dol[at];
        ++at;
    }
    return total;
}

Bytes directory_entry() { return tlv(0x61, tlv(0x4F, kAid) + tlv(0x50, kLabel) + tlv(0x87, Bytes{0x01})); }

ElementaryFile records(uint16_t id, uint8_t sfi, std::vector<Bytes> list) {
    ElementaryFile f{id, sfi, true, {}, {}};
    for (Bytes& r : list) f.record_list.push_back(tlv(0x70, r));
    return f;
}

Iso7816Files bank_files() {
    // Track 2 equivalent data: PAN, D, expiry YYMM, service code, discretionary data.
    const Bytes track2{0x62, 0x29, 0x99, 0x00, 0x00, 0x12, 0x34, 0x59, 0xD3, 0x01, 0x22,
                       0x20, 0x12, 0x34, 0x56, 0x78, 0x90};
    const Bytes pan{0x62, 0x29, 0x99, 0x00, 0x00, 0x12, 0x34, 0x59};
    const Bytes id_number = text("990001200001010011  ");  // padded with spaces
    const Bytes cvm{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x42, 0x03, 0x1E, 0x03, 0x1F, 0x00};

    DedicatedFile pse{0x7F01, bytes(kPse), {records(0x0101, 1, {directory_entry()})}, {}};
    pse.proprietary = tlv(0x88, Bytes{0x01}) + tlv(0x5F2D, text("zh"));
    DedicatedFile ppse{0x7F02, bytes(kPpse), {}, {}};
    ppse.proprietary = tlv(0xBF0C, directory_entry());

    ElementaryFile sfi1 = records(0x0201, 1,
                                  {tlv(0x57, track2) + tlv(0x5F20, text("VANTEL/TEST CARD")) +
                                       tlv(0x9F61, id_number) + tlv(0x9F62, Bytes{0x00}),
                                   tlv(0x5A, pan) + tlv(0x5F24, Bytes{0x30, 0x12, 0x31}) +
                                       tlv(0x5F25, Bytes{0x20, 0x01, 0x01}) + tlv(0x5F34, Bytes{0x01}) +
                                       tlv(0x5F28, Bytes{0x01, 0x56}) + tlv(0x9F07, Bytes{0xFF, 0x00}) +
                                       tlv(0x8C, kCdol1) + tlv(0x8D, kCdol2) + tlv(0x8E, cvm) +
                                       tlv(0x9F0D, Bytes{0xD8, 0x60, 0x04, 0xA8, 0x00}) +
                                       tlv(0x9F0E, Bytes{0x00, 0x10, 0x98, 0x00, 0x00}) +
                                       tlv(0x9F0F, Bytes{0xD8, 0x68, 0x04, 0xF8, 0x00}),
                                   tlv(0x9F08, Bytes{0x00, 0x30}) + tlv(0x5F30, Bytes{0x02, 0x20}) +
                                       tlv(0x9F49, Bytes{0x9F, 0x37, 0x04})});
    ElementaryFile sfi2 = records(0x0202, 2, {tlv(0x8F, Bytes{0x08}) + tlv(0x9F32, Bytes{0x03})});
    DedicatedFile app{0x7F10, bytes(kAid), {std::move(sfi1), std::move(sfi2)}, {}};
    app.proprietary = tlv(0x50, kLabel) + tlv(0x87, Bytes{0x01}) + tlv(0x9F38, kPdol) + tlv(0x5F2D, text("zh"));

    return Iso7816Files({}, {std::move(pse), std::move(ppse), std::move(app)}, Iso7816Files::FciWithoutLe::answered,
                        Iso7816Files::NameMatch::partial);
}

// ---- the card's cryptography

// 3DES-CBC over the data padded with 80 00..., zero IV: the last block.
Bytes cbc_mac(ByteView data) {
    Bytes padded(data.begin(), data.end());
    padded.push_back(0x80);
    while (padded.size() % 8) padded.push_back(0x00);
    Bytes out(padded.size());
    const uint8_t iv[8] = {};
    Run3Des(0, 1, padded.data(), static_cast<uint32_t>(padded.size()), BankCard::kIssuerKey.data(),
            BankCard::kIssuerKey.size(), out.data(), static_cast<uint32_t>(out.size()), iv);
    return Bytes(out.end() - 8, out.end());
}

// ARPC: 3DES of the ARQC with the response code folded into its first two
// bytes.
Bytes arpc_of(ByteView arqc, ByteView arc) {
    uint8_t block[8];
    std::copy(arqc.begin(), arqc.end(), block);
    block[0] ^= arc[0];
    block[1] ^= arc[1];
    Bytes out(8);
    Run3Des(0, 0, block, 8, BankCard::kIssuerKey.data(), BankCard::kIssuerKey.size(), out.data(), 8, nullptr);
    return out;
}

bool approving(ByteView arc) {
    static const char* const kApproved[] = {"00", "10", "11", "Y1", "Y3"};
    return std::ranges::any_of(kApproved, [&](const char* c) { return arc[0] == c[0] && arc[1] == c[1]; });
}

// Six BCD bytes of a balance in cents; nothing for a digit above 9.
std::optional<uint64_t> from_bcd(ByteView v) {
    uint64_t n = 0;
    for (uint8_t b : v) {
        if ((b >> 4) > 9 || (b & 0xF) > 9) return std::nullopt;
        n = n * 100 + (b >> 4) * 10 + (b & 0xF);
    }
    return n;
}

Bytes to_bcd(uint64_t n, size_t size) {
    Bytes out(size);
    for (size_t i = size; i-- > 0;) {
        out[i] = static_cast<uint8_t>((n % 10) | (n / 10 % 10) << 4);
        n /= 100;
    }
    return out;
}

// A short APDU: header, data (after Lc), and whether it was well formed.
struct Command {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    ByteView data;
    bool valid = false;

    explicit Command(ByteView b) {
        if (b.size() < 4) return;
        cla = b[0];
        ins = b[1];
        p1 = b[2];
        p2 = b[3];
        if (b.size() <= 5) {
            valid = true;
            return;
        }
        const size_t lc = b[4];
        if (lc == 0 || (b.size() != 5 + lc && b.size() != 6 + lc)) return;
        data = b.subspan(5, lc);
        valid = true;
    }
};

}  // namespace

std::shared_ptr<BankCard> BankCard::make(Bytes uid, std::string* error) {
    if (uid.empty()) uid = Card::random_uid(4);
    if (uid.size() != 4 && uid.size() != 7) {
        if (error) *error = "UID must have 4 or 7 bytes";
        return nullptr;
    }
    return std::make_shared<BankCard>(std::move(uid));
}

BankCard::BankCard(Bytes uid)
    : CpuCard(CardKind::bank, "pboc_card", kAtqa, kSak, std::move(uid), bank_files(),
              Bytes{0x05, 0x78, 0x80, 0x70, 0x02}) {}

void BankCard::set_gpo_format(int format) {
    std::lock_guard hold(mutex_);
    gpo_format_ = format == 1 ? 1 : 2;
}

void BankCard::set_pse(bool present) {
    std::lock_guard hold(mutex_);
    pse_ = present;
}

void BankCard::fail(uint8_t ins, uint16_t word, unsigned count) {
    std::lock_guard hold(mutex_);
    if (count > 0) faults_.push_back({ins, word, count});
}

void BankCard::clear_faults() {
    std::lock_guard hold(mutex_);
    faults_.clear();
}

std::optional<Bytes> BankCard::issuer_authentication(ByteView arc) const {
    std::lock_guard hold(mutex_);
    if (arqc_.empty() || arc.size() != 2) return std::nullopt;
    return arpc_of(arqc_, arc) + arc;
}

std::optional<Bytes> BankCard::script_command(ByteView command) const {
    std::lock_guard hold(mutex_);
    const Command c(command);
    if (arqc_.empty() || !c.valid || c.data.size() + 4 > 255) return std::nullopt;
    const Bytes header{c.cla, c.ins, c.p1, c.p2, static_cast<uint8_t>(c.data.size() + 4)};
    return header + c.data + mac_locked(header, c.data);
}

uint16_t BankCard::atc() const {
    std::lock_guard hold(mutex_);
    return atc_;
}

uint64_t BankCard::balance() const {
    std::lock_guard hold(mutex_);
    return balance_;
}

bool BankCard::blocked() const {
    std::lock_guard hold(mutex_);
    return blocked_;
}

int BankCard::pin_tries() const {
    std::lock_guard hold(mutex_);
    return pin_tries_;
}

std::optional<uint8_t> BankCard::last_cryptogram() const {
    std::lock_guard hold(mutex_);
    return last_cid_;
}

std::string BankCard::describe() const {
    std::lock_guard hold(mutex_);
    char line[160];
    const char* last = !last_cid_ ? "none" : *last_cid_ == kArqc ? "ARQC" : *last_cid_ == kTc ? "TC" : "AAC";
    std::snprintf(line, sizeof line, "gpo=%d pse=%s atc=%u balance=%llu blocked=%s pin_tries=%d last=%s",
                  gpo_format_, pse_ ? "on" : "off", atc_, static_cast<unsigned long long>(balance_),
                  blocked_ ? "yes" : "no", pin_tries_, last);
    return line;
}

void BankCard::reset_transaction() {
    phase_ = Phase::none;
    issuer_auth_done_ = issuer_auth_failed_ = false;
    arqc_.clear();
    last_cid_.reset();
}

void BankCard::end_session_locked() {
    CpuCard::end_session_locked();
    reset_transaction();
}

Bytes BankCard::process_locked(ByteView bytes) {
    const Command c(bytes);
    if (bytes.size() < 4) return sw_only(sw::wrong_length);
    const auto fault = std::ranges::find_if(faults_, [&](const Fault& f) { return f.ins == c.ins; });
    if (fault != faults_.end()) {
        const uint16_t word = fault->sw;
        if (--fault->count == 0) faults_.erase(fault);
        return sw_only(word);
    }
    if (!c.valid) return sw_only(sw::wrong_length);
    if (c.cla == 0x84 || c.cla == 0x04) return script(c.ins, c.p1, c.p2, bytes, c.data);
    if (c.cla == 0x00 && c.ins == 0xA4) return select_file(bytes, c.p1, c.data);
    if (c.cla == 0x80 && c.ins == 0xA8) return processing_options(c.data);
    if (c.cla == 0x80 && c.ins == 0xCA) return get_data(c.p1, c.p2);
    if (c.cla == 0x80 && c.ins == 0xAE) return generate_ac(c.p1, c.data);
    if (c.cla == 0x00 && c.ins == 0x82) return external_authenticate(c.data);
    return CpuCard::process_locked(bytes);
}

Bytes BankCard::select_file(ByteView bytes, uint8_t p1, ByteView data) {
    const bool by_name = p1 == 0x04 && !data.empty();
    if (by_name && !pse_ && std::ranges::equal(data, kPse)) return sw_only(sw::file_not_found);
    Bytes answer = CpuCard::process_locked(bytes);
    const bool selected = answer.size() >= 2 && answer[answer.size() - 2] == 0x90;
    if (!selected) return answer;
    // The application is the one DF whose name starts with what was asked.
    const bool application =
        by_name && data.size() <= std::size(kAid) && std::equal(data.begin(), data.end(), std::begin(kAid));
    reset_transaction();
    if (!application) return answer;
    phase_ = Phase::selected;
    if (blocked_) {
        answer.resize(answer.size() - 2);
        return with_status(std::move(answer), sw::file_invalidated);
    }
    return answer;
}

Bytes BankCard::processing_options(ByteView data) {
    if (phase_ == Phase::none || blocked_) return sw_only(sw::out_of_sequence);
    const size_t values = dol_size(kPdol);
    if (data.size() != values + 2 || data[0] != 0x83 || data[1] != values) return sw_only(sw::wrong_length);
    reset_transaction();
    ++atc_;
    phase_ = Phase::initiated;
    if (gpo_format_ == 1) return with_status(tlv(0x80, bytes(kAip) + kAfl), sw::ok);
    return with_status(tlv(0x77, tlv(0x82, kAip) + tlv(0x94, kAfl)), sw::ok);
}

Bytes BankCard::get_data(uint8_t p1, uint8_t p2) {
    if (phase_ == Phase::none) return sw_only(sw::out_of_sequence);
    const uint16_t tag = static_cast<uint16_t>(p1 << 8 | p2);
    switch (tag) {
    case 0x9F36: return with_status(tlv(tag, be16(atc_)), sw::ok);
    case 0x9F13: return with_status(tlv(tag, be16(last_online_atc_)), sw::ok);
    case 0x9F17: return with_status(tlv(tag, Bytes{static_cast<uint8_t>(pin_tries_)}), sw::ok);
    case 0x9F4F: return with_status(tlv(tag, kLogFormat), sw::ok);
    case 0x9F79: return with_status(tlv(tag, to_bcd(balance_, 6)), sw::ok);
    default: return sw_only(sw::no_data_object);
    }
}

Bytes BankCard::cryptogram_answer(uint8_t cid, ByteView ac) const {
    if (gpo_format_ == 1) return with_status(tlv(0x80, Bytes{cid} + be16(atc_) + ac + kIssuerApplicationData), sw::ok);
    return with_status(tlv(0x77, tlv(0x9F27, Bytes{cid}) + tlv(0x9F36, be16(atc_)) + tlv(0x9F26, ac) +
                                     tlv(0x9F10, kIssuerApplicationData)),
                       sw::ok);
}

Bytes BankCard::generate_ac(uint8_t p1, ByteView data) {
    const uint8_t requested = p1 & 0xC0;
    uint8_t cid;
    if (phase_ == Phase::initiated) {
        if (data.size() != dol_size(kCdol1)) return sw_only(sw::wrong_length);
        // Online only: whatever is asked beyond a decline goes online.
        cid = requested == kAac ? kAac : kArqc;
        phase_ = cid == kArqc ? Phase::online : Phase::completed;
    } else if (phase_ == Phase::online) {
        if (data.size() != dol_size(kCdol2)) return sw_only(sw::wrong_length);
        const bool approve = requested != kAac && !issuer_auth_failed_ && approving(data.first(2));
        cid = approve ? kTc : kAac;
        if (approve) last_online_atc_ = atc_;
        phase_ = Phase::completed;
    } else {
        return sw_only(sw::out_of_sequence);
    }
    const Bytes ac = cbc_mac(Bytes{cid} + data + be16(atc_));
    if (cid == kArqc) arqc_ = ac;
    last_cid_ = cid;
    return cryptogram_answer(cid, ac);
}

Bytes BankCard::external_authenticate(ByteView data) {
    if (phase_ != Phase::online || issuer_auth_done_) return sw_only(sw::out_of_sequence);
    if (data.size() != 10) return sw_only(sw::wrong_length);
    issuer_auth_done_ = true;
    if (!std::ranges::equal(data.first(8), arpc_of(arqc_, data.subspan(8)))) {
        issuer_auth_failed_ = true;
        return sw_only(sw::auth_failed);
    }
    return sw_only(sw::ok);
}

Bytes BankCard::mac_locked(ByteView header, ByteView data) const {
    const Bytes mac = cbc_mac(Bytes(header.begin(), header.end()) + be16(atc_) + arqc_ + data);
    return Bytes(mac.begin(), mac.begin() + 4);
}

Bytes BankCard::script(uint8_t ins, uint8_t p1, uint8_t p2, ByteView command, ByteView data) {
    const bool put_data = ins == 0xDA;
    if (!put_data && (command[0] != 0x84 || (ins != 0x1E && ins != 0x18 && ins != 0x24)))
        return sw_only(sw::unknown_ins);
    if (arqc_.empty()) return sw_only(sw::out_of_sequence);
    if (data.size() < 4) return sw_only(sw::wrong_length);
    const ByteView plain = data.first(data.size() - 4);
    if (!std::ranges::equal(data.last(4), mac_locked(command.first(5), plain))) return sw_only(sw::wrong_mac);
    switch (ins) {
    case 0x1E: blocked_ = true; break;
    case 0x18: blocked_ = false; break;
    case 0x24: pin_tries_ = 3; break;
    default: {
        if (p1 != 0x9F || p2 != 0x79) return sw_only(sw::no_data_object);
        if (plain.size() != 6) return sw_only(sw::wrong_length);
        const auto value = from_bcd(plain);
        if (!value) return sw_only(sw::wrong_data);
        balance_ = *value;
    }
    }
    return sw_only(sw::ok);
}

}  // namespace vrsim
