#include "iso7816_files.h"

#include <algorithm>

namespace vrsim {

namespace {

constexpr uint16_t kMasterFile = 0x3F00;

namespace sw {
constexpr uint16_t ok = 0x9000;
constexpr uint16_t end_of_file = 0x6282;
constexpr uint16_t wrong_length = 0x6700;
constexpr uint16_t wrong_structure = 0x6981;
constexpr uint16_t nothing_waiting = 0x6985;
constexpr uint16_t no_current_file = 0x6986;
constexpr uint16_t file_not_found = 0x6A82;
constexpr uint16_t record_not_found = 0x6A83;
constexpr uint16_t wrong_p1p2 = 0x6A86;
constexpr uint16_t offset_outside = 0x6B00;
constexpr uint16_t unknown_ins = 0x6D00;
constexpr uint16_t unknown_cla = 0x6E00;
}  // namespace sw

// 61 LL: LL bytes wait for GET RESPONSE (00 for 256 and more).
Bytes more_waiting(size_t n) { return {0x61, static_cast<uint8_t>(n > 255 ? 0 : n)}; }

// File control information of an EF: size, structure, identifier.
Bytes ef_fci(const ElementaryFile& f) {
    const size_t size = f.records ? f.record_list.size() * (f.record_list.empty() ? 0 : f.record_list[0].size())
                                  : f.data.size();
    Bytes inner = tlv(0x80, be16(static_cast<unsigned>(size)));
    const Bytes structure = tlv(0x82, Bytes{static_cast<uint8_t>(f.records ? 0x02 : 0x01)});
    const Bytes id = tlv(0x83, be16(f.id));
    inner.insert(inner.end(), structure.begin(), structure.end());
    inner.insert(inner.end(), id.begin(), id.end());
    return tlv(0x62, inner);
}

// ... of a DF: its name, or its identifier when it has none, then its
// proprietary template.
Bytes df_fci(uint16_t id, ByteView name, ByteView proprietary = {}) {
    Bytes inner = name.empty() ? tlv(0x83, be16(id)) : tlv(0x84, name);
    if (!proprietary.empty()) {
        const Bytes a5 = tlv(0xA5, proprietary);
        inner.insert(inner.end(), a5.begin(), a5.end());
    }
    return tlv(0x6F, inner);
}

}  // namespace

Bytes sw_only(uint16_t word) { return {static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word & 0xFF)}; }

Bytes with_status(Bytes data, uint16_t word) {
    data.push_back(static_cast<uint8_t>(word >> 8));
    data.push_back(static_cast<uint8_t>(word & 0xFF));
    return data;
}

Bytes tlv(uint16_t tag, ByteView value) {
    Bytes out;
    out.reserve(4 + value.size());
    if (tag > 0xFF) out.push_back(static_cast<uint8_t>(tag >> 8));
    out.push_back(static_cast<uint8_t>(tag & 0xFF));
    if (value.size() >= 0x80) out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes be16(unsigned v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)}; }

struct Iso7816Files::Apdu {
    uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;
    std::optional<int> le;  // absent: no response data expected

    // Short APDUs only (cases 1 to 4); false for any other layout.
    bool parse(ByteView b) {
        if (b.size() < 4) return false;
        cla = b[0];
        ins = b[1];
        p1 = b[2];
        p2 = b[3];
        if (b.size() == 4) return true;
        if (b.size() == 5) {
            le = b[4] == 0 ? 256 : b[4];
            return true;
        }
        const size_t lc = b[4];
        if (lc == 0) return false;  // an extended length
        if (b.size() != 5 + lc && b.size() != 6 + lc) return false;
        data.assign(b.begin() + 5, b.begin() + 5 + static_cast<long>(lc));
        if (b.size() == 6 + lc) le = b[5 + lc] == 0 ? 256 : b[5 + lc];
        return true;
    }
};

Iso7816Files::Iso7816Files(std::vector<ElementaryFile> master_files, std::vector<DedicatedFile> dedicated,
                           FciWithoutLe fci, NameMatch names)
    : fci_without_le_(fci), names_(names), master_(std::move(master_files)), dedicated_(std::move(dedicated)) {}

void Iso7816Files::remove(uint16_t id) {
    reset();
    std::erase_if(master_, [id](const ElementaryFile& f) { return f.id == id; });
    for (auto& df : dedicated_) std::erase_if(df.files, [id](const ElementaryFile& f) { return f.id == id; });
}

void Iso7816Files::reset() {
    current_df_ = -1;
    current_ef_ = nullptr;
    waiting_.clear();
}

ElementaryFile* Iso7816Files::find(uint16_t id) {
    for (auto& f : master_)
        if (f.id == id) return &f;
    for (auto& df : dedicated_)
        for (auto& f : df.files)
            if (f.id == id) return &f;
    return nullptr;
}

std::vector<ElementaryFile>& Iso7816Files::current_files() {
    return current_df_ < 0 ? master_ : dedicated_[static_cast<size_t>(current_df_)].files;
}

ElementaryFile* Iso7816Files::by_sfi(uint8_t sfi) {
    for (auto& f : current_files())
        if (f.sfi != 0 && f.sfi == sfi) return &f;
    return nullptr;
}

Bytes Iso7816Files::process(ByteView bytes) {
    Apdu a;
    if (!a.parse(bytes)) return sw_only(sw::wrong_length);
    if (a.cla != 0x00 && a.cla != 0x80) return sw_only(sw::unknown_cla);
    // Whatever waited for GET RESPONSE is gone after any other command.
    if (a.ins != 0xC0) waiting_.clear();
    switch (a.ins) {
    case 0xA4: return select(a);
    case 0xB0: return read_binary(a);
    case 0xB2: return read_record(a);
    case 0xC0: return get_response(a);
    default: return sw_only(sw::unknown_ins);
    }
}

// The FCI goes out when Le asks for it; without Le it waits for GET
// RESPONSE.
Bytes Iso7816Files::answer_fci(Bytes fci, const Apdu& a) {
    if (!a.le && fci_without_le_ == FciWithoutLe::dropped) return sw_only(sw::ok);
    if (!a.le && fci_without_le_ == FciWithoutLe::answered) return with_status(std::move(fci), sw::ok);
    if (!a.le) {
        const size_t n = fci.size();
        waiting_ = std::move(fci);
        return more_waiting(n);
    }
    if (static_cast<size_t>(*a.le) < fci.size() && *a.le != 256)
        return {0x6C, static_cast<uint8_t>(fci.size())};
    return with_status(std::move(fci), sw::ok);
}

Bytes Iso7816Files::select(const Apdu& a) {
    if (a.p2 != 0x00 && a.p2 != 0x0C && a.p2 != 0x04) return sw_only(sw::wrong_p1p2);
    const bool wants_fci = a.p2 != 0x0C;
    if (a.p1 == 0x04) {
        if (a.data.empty()) return sw_only(sw::wrong_length);
        for (size_t i = 0; i < dedicated_.size(); ++i) {
            const DedicatedFile& df = dedicated_[i];
            const bool named = names_ == NameMatch::partial
                                   ? df.name.size() >= a.data.size() && std::equal(a.data.begin(), a.data.end(), df.name.begin())
                                   : df.name == a.data;
            if (!named) continue;
            current_df_ = static_cast<int>(i);
            current_ef_ = nullptr;
            return wants_fci ? answer_fci(df_fci(df.id, df.name, df.proprietary), a) : sw_only(sw::ok);
        }
        return sw_only(sw::file_not_found);
    }
    if (a.p1 > 0x02) return sw_only(sw::wrong_p1p2);
    if (!a.data.empty() && a.data.size() != 2) return sw_only(sw::wrong_length);
    const uint16_t id = a.data.empty() ? kMasterFile : static_cast<uint16_t>(a.data[0] << 8 | a.data[1]);
    if (id == kMasterFile) {
        reset();
        return wants_fci ? answer_fci(df_fci(kMasterFile, {}), a) : sw_only(sw::ok);
    }
    // An EF of the current DF, then a DF, then an EF of the MF.
    for (auto& f : current_files()) {
        if (f.id != id) continue;
        current_ef_ = &f;
        return wants_fci ? answer_fci(ef_fci(f), a) : sw_only(sw::ok);
    }
    for (size_t i = 0; i < dedicated_.size(); ++i) {
        if (dedicated_[i].id != id) continue;
        current_df_ = static_cast<int>(i);
        current_ef_ = nullptr;
        return wants_fci ? answer_fci(df_fci(id, dedicated_[i].name, dedicated_[i].proprietary), a) : sw_only(sw::ok);
    }
    for (auto& f : master_) {
        if (f.id != id) continue;
        current_df_ = -1;
        current_ef_ = &f;
        return wants_fci ? answer_fci(ef_fci(f), a) : sw_only(sw::ok);
    }
    return sw_only(sw::file_not_found);
}

Bytes Iso7816Files::read_binary(const Apdu& a) {
    if (!a.le || !a.data.empty()) return sw_only(sw::wrong_length);
    size_t offset = static_cast<size_t>(a.p1 << 8 | a.p2);
    if (a.p1 & 0x80) {
        ElementaryFile* f = by_sfi(a.p1 & 0x1F);
        if (!f) return sw_only(sw::file_not_found);
        current_ef_ = f;
        offset = a.p2;
    }
    if (!current_ef_) return sw_only(sw::no_current_file);
    if (current_ef_->records) return sw_only(sw::wrong_structure);
    const Bytes& d = current_ef_->data;
    if (offset >= d.size()) return sw_only(sw::offset_outside);
    const size_t n = std::min(static_cast<size_t>(*a.le), d.size() - offset);
    Bytes out(d.begin() + static_cast<long>(offset), d.begin() + static_cast<long>(offset + n));
    return with_status(std::move(out), n < static_cast<size_t>(*a.le) ? sw::end_of_file : sw::ok);
}

Bytes Iso7816Files::read_record(const Apdu& a) {
    if (!a.le || !a.data.empty()) return sw_only(sw::wrong_length);
    if ((a.p2 & 0x07) != 0x04 || a.p1 == 0) return sw_only(sw::wrong_p1p2);
    const uint8_t sfi = a.p2 >> 3;
    ElementaryFile* f = sfi ? by_sfi(sfi) : current_ef_;
    if (sfi && !f) return sw_only(sw::file_not_found);
    if (!f) return sw_only(sw::no_current_file);
    if (!f->records) return sw_only(sw::wrong_structure);
    current_ef_ = f;
    if (a.p1 > f->record_list.size()) return sw_only(sw::record_not_found);
    const Bytes& r = f->record_list[a.p1 - 1u];
    if (*a.le != 256 && static_cast<size_t>(*a.le) < r.size()) return {0x6C, static_cast<uint8_t>(r.size())};
    return with_status(r, sw::ok);
}

Bytes Iso7816Files::get_response(const Apdu& a) {
    if (waiting_.empty()) return sw_only(sw::nothing_waiting);
    if (!a.le || !a.data.empty()) return sw_only(sw::wrong_length);
    const size_t n = std::min(static_cast<size_t>(*a.le), waiting_.size());
    Bytes out(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
    if (waiting_.empty()) return with_status(std::move(out), sw::ok);
    const Bytes more = more_waiting(waiting_.size());
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

}  // namespace vrsim
