#include "firmware.h"

namespace vrsim {

Firmware::Firmware(Family family) : family_(family) {
    state_.rng.seed(std::random_device{}());
    install_link_commands(table_);
    if (family_ == Family::second) {
        install_second_family_commands(table_);
        // The direct path: the first family's card commands in protocol-1
        // messages, answered with the first family's status bytes.
        install_card_commands(direct_table_);
        install_ultralight_commands(direct_table_);
        install_iso_dep_commands(direct_table_);
    } else {
        install_reader_commands(table_);
        install_card_commands(table_);
        install_ultralight_commands(table_);
        install_iso_dep_commands(table_);
        cipher_ = make_session_cipher();
    }
    install_sam_commands(table_, family_);
}

uint8_t Firmware::unknown_command_status() const {
    return family_ == Family::second ? status::dc_no_command : status::no_command;
}

uint8_t Firmware::bad_argument_status() const {
    return family_ == Family::second ? status::dc_bad_argument : status::bad_argument;
}

uint8_t Firmware::malformed_status() const {
    return family_ == Family::second ? status::dc_bad_argument : status::cmd_length;
}

uint8_t Firmware::nothing_to_repeat_status() const {
    return family_ == Family::second ? status::dc_no_reply : status::general;
}

Reply Firmware::handle(const Request& request) {
    std::lock_guard hold(mutex_);
    Request plain = request;
    bool seal = false;
    // The key of this exchange: a 0x0F09 run below replaces the session
    // key for the next one, while this reply still goes out under the key
    // the host used for the request.
    const Bytes key = state_.session_key;
    if (plain.encrypted) {
        // Enciphered requests need the link cipher; without it the reader
        // cannot read the command at all.
        uint8_t refusal = status::cmd_type;
        const auto opened = cipher_ ? cipher_->open_request(key, plain, refusal)
                                    : LinkCipher::Opened::refused;
        if (opened == LinkCipher::Opened::refused) return Reply::error(refusal);
        seal = opened == LinkCipher::Opened::deciphered;
        plain.encrypted = false;
    }
    const Handler* handler = table_.find(plain.cmd);
    if (handler == nullptr) return Reply::error(unknown_command_status());
    Reply reply = (*handler)(state_, plain);
    if (seal && reply.status == status::ok && !reply.repeat_previous && !reply.silent)
        cipher_->seal_reply(key, reply);
    return reply;
}

Reply Firmware::handle_direct(const Request& request) {
    std::lock_guard hold(mutex_);
    const Handler* handler = direct_table_.find(request.cmd);
    if (handler == nullptr) return Reply::error(status::no_command);
    return (*handler)(state_, request);
}

bool Firmware::takes_direct_messages() const { return family_ == Family::second; }

Settings Firmware::settings() const {
    std::lock_guard hold(mutex_);
    return state_.settings;
}

void Firmware::seed_random(uint64_t seed) {
    std::lock_guard hold(mutex_);
    state_.rng.seed(seed);
}

Bytes Firmware::last_random() const {
    std::lock_guard hold(mutex_);
    return state_.last_random;
}

Bytes Firmware::session_key() const {
    std::lock_guard hold(mutex_);
    return state_.session_key;
}

void Firmware::add_command(uint16_t code, Handler handler) {
    std::lock_guard hold(mutex_);
    table_.add(code, std::move(handler));
}

void Firmware::set_sensor(std::shared_ptr<Pm25Sensor> sensor) {
    std::lock_guard hold(mutex_);
    sensor_ = std::move(sensor);
}

std::shared_ptr<Pm25Sensor> Firmware::sensor() const {
    std::lock_guard hold(mutex_);
    return sensor_;
}

bool Firmware::has_command(uint16_t code) const {
    std::lock_guard hold(mutex_);
    return table_.find(code) != nullptr;
}

void Firmware::set_link_cipher(std::shared_ptr<LinkCipher> cipher) {
    std::lock_guard hold(mutex_);
    cipher_ = std::move(cipher);
}

}  // namespace vrsim
