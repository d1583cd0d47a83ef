// Reader commands of the first family, and the link commands both families
// answer.
#include <algorithm>

#include "firmware.h"

namespace vrsim {
namespace {

Reply wrong_length() { return Reply::error(status::cmd_length); }
Reply bad_argument() { return Reply::error(status::bad_argument); }

// A setter that takes exactly the bytes of one array setting.
template <size_t N>
Handler store(std::array<uint8_t, N> Settings::*field) {
    return [field](FirmwareState& st, const Request& rq) {
        if (rq.data.size() != N) return wrong_length();
        std::ranges::copy(rq.data, (st.settings.*field).begin());
        return Reply::ok();
    };
}

template <size_t N>
Handler report(std::array<uint8_t, N> Settings::*field) {
    return [field](FirmwareState& st, const Request& rq) {
        if (!rq.data.empty()) return wrong_length();
        const auto& value = st.settings.*field;
        return Reply::ok(Bytes(value.begin(), value.end()));
    };
}

Handler store_byte(uint8_t Settings::*field) {
    return [field](FirmwareState& st, const Request& rq) {
        if (rq.data.size() != 1) return wrong_length();
        st.settings.*field = rq.data[0];
        return Reply::ok();
    };
}

Handler report_byte(uint8_t Settings::*field) {
    return [field](FirmwareState& st, const Request& rq) {
        if (!rq.data.empty()) return wrong_length();
        return Reply::ok(Bytes{st.settings.*field});
    };
}

// The link settings commands 0x0F30..0x0F32: sub-command 0x01 sets the
// value, 0x02 reports it. `echo_on_set`: the set reply carries the value
// now in effect (the internal delay's setter reports it).
Handler link_setting(uint8_t Settings::*field, bool echo_on_set) {
    return [field, echo_on_set](FirmwareState& st, const Request& rq) {
        if (rq.data.empty()) return wrong_length();
        switch (rq.data[0]) {
        case 0x01:
            if (rq.data.size() != 2) return wrong_length();
            st.settings.*field = rq.data[1];
            return echo_on_set ? Reply::ok(Bytes{st.settings.*field}) : Reply::ok();
        case 0x02:
            if (rq.data.size() != 1) return wrong_length();
            return Reply::ok(Bytes{st.settings.*field});
        default:
            return bad_argument();
        }
    };
}

Reply set_picc_protocol(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    if (rq.data[0] != 'A' && rq.data[0] != 'B') return bad_argument();
    st.settings.picc_protocol = rq.data[0];
    return Reply::ok();
}

Reply antenna(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1) return wrong_length();
    if (rq.data[0] > 1) return bad_argument();
    st.settings.antenna_on = rq.data[0] == 1;
    // Without the field the card loses power; it comes back idle.
    if (!st.settings.antenna_on) st.field.power_off();
    return Reply::ok();
}

Reply beep(FirmwareState& st, const Request& rq, auto field) {
    Reply r = store(field)(st, rq);
    if (r.status == status::ok) ++st.settings.beeps;
    return r;
}

// 0x0104 serves two readers of the same answer: the model text (taken as
// a string) and the 8-byte OTP serial number (its first 8 bytes). The
// text is padded with zeros to 8 bytes and always ends with a zero byte.
Reply model(FirmwareState& st, const Request& rq) {
    if (!rq.data.empty()) return wrong_length();
    Bytes text(st.settings.model.begin(), st.settings.model.end());
    if (text.size() < 8) text.resize(8, 0x00);
    text.push_back(0x00);
    return Reply::ok(std::move(text));
}

// 0x0605: key type, index, key bytes. Stored per (index, type) for the
// card commands that authenticate with a downloaded key.
Reply download_key(FirmwareState& st, const Request& rq) {
    constexpr size_t kMaxKey = 16;
    if (rq.data.size() < 3 || rq.data.size() > 2 + kMaxKey) return wrong_length();
    const uint8_t type = rq.data[0];
    const uint8_t index = rq.data[1];
    if (type != 0x60 && type != 0x61) return bad_argument();
    st.settings.keys[{index, type}] = Bytes(rq.data.begin() + 2, rq.data.end());
    return Reply::ok();
}

Reply set_lcd_text(FirmwareState& st, const Request& rq) {
    st.settings.lcd_text = rq.data;
    return Reply::ok();
}

// 0x0F05: sub-command 0x03 sets the power-off delay (2 bytes, high, low).
Reply poweroff_delay(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 3) return wrong_length();
    if (rq.data[0] != 0x03) return bad_argument();
    st.settings.poweroff_delay = static_cast<uint16_t>((rq.data[1] << 8) | rq.data[2]);
    return Reply::ok();
}

// 0x0F09: n random bytes from the reader's generator. Eight of them are
// what the host asks for when it switches link encryption on: they become
// the session key of the link cipher.
Reply random_bytes(FirmwareState& st, const Request& rq) {
    constexpr size_t kSessionKeySize = 8;
    if (rq.data.size() != 1) return wrong_length();
    Bytes out(rq.data[0]);
    for (auto& b : out) b = static_cast<uint8_t>(st.rng());
    st.last_random = out;
    if (out.size() == kSessionKeySize) st.session_key = out;
    return Reply::ok(std::move(out));
}

}  // namespace

void install_link_commands(CommandTable& t) {
    t.add(kCmdEcho, [](FirmwareState&, const Request& rq) { return Reply::ok(rq.data); });
    t.add(kCmdRepeat, [](FirmwareState&, const Request&) { return Reply::repeat(); });
}

void install_reader_commands(CommandTable& t) {
    t.add(0x0101, store_byte(&Settings::baud_code));
    t.add(0x0103, report(&Settings::firmware_version));
    t.add(0x0104, model);
    t.add(0x0108, set_picc_protocol);
    t.add(0x010C, antenna);
    t.add(0x010D, [](FirmwareState& st, const Request& rq) { return beep(st, rq, &Settings::buzzer); });
    t.add(0x010E, store(&Settings::led));
    t.add(0x010F, store(&Settings::ledr));
    t.add(0x0110, [](FirmwareState& st, const Request& rq) { return beep(st, rq, &Settings::buzzer_ex); });
    t.add(0x0114, store_byte(&Settings::brightness));
    t.add(0x0115, store(&Settings::date));
    t.add(0x0117, set_lcd_text);
    t.add(0x0403, report(&Settings::sam_answer));
    t.add(0x0601, report_byte(&Settings::machine_id));
    t.add(0x0602, store_byte(&Settings::machine_id));
    t.add(0x0603, report(&Settings::serial_number));
    t.add(0x0604, store(&Settings::serial_number));
    t.add(0x0605, download_key);
    t.add(0x0710, store(&Settings::ulc_key));
    t.add(0x0711, store(&Settings::dataenc_key));
    t.add(0x0F05, poweroff_delay);
    t.add(0x0F09, random_bytes);
    t.add(0x0F0A, report(&Settings::jack));
    t.add(0x0F10, report_byte(&Settings::battery));
    t.add(0x0F30, link_setting(&Settings::package_max_size, false));
    t.add(0x0F31, link_setting(&Settings::uart_mode, false));
    t.add(0x0F32, link_setting(&Settings::uart_delay, true));
    t.add(0x7F31, store(&Settings::valid_card));
    t.add(0x7F32, report(&Settings::valid_card));
}

}  // namespace vrsim
