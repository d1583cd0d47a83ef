// The reader firmware model: its settings, and a table of command handlers
// keyed by command code. One Firmware instance is one reader; the transport
// (Simulator) hands it decoded requests and frames its replies.
//
// Commands are registered per family by installer functions, one per area
// (reader commands, the card commands that talk to the virtual cards in the
// field), so a new command is one entry in the table, not a change to the
// dispatch.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>

#include "field.h"
#include "sam.h"
#include "wire.h"

namespace vrsim {

class Pm25Sensor;

enum class Family { first = 1, second = 2 };

// Everything the reader stores and reports back. Defaults are the values a
// freshly powered reader of this model reports (see sim/README.md).
struct Settings {
    // Card protocol selected by 0x0108 (first family) or 0x87 (second).
    uint8_t picc_protocol = 'A';
    bool antenna_on = true;
    uint8_t baud_code = 0;                    // last 0x0101 argument
    std::array<uint8_t, 2> buzzer{};          // 0x010D
    std::array<uint8_t, 5> buzzer_ex{};       // 0x0110: first, second, value lo/hi, last
    unsigned beeps = 0;                       // buzzer commands obeyed
    std::array<uint8_t, 2> led{};             // 0x010E
    std::array<uint8_t, 2> ledr{};            // 0x010F
    uint8_t machine_id = 0x01;                // 0x0601 / 0x0602
    std::array<uint8_t, 8> serial_number{0x56, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    std::array<uint8_t, 6> date{};            // 0x0115, as sent
    uint8_t brightness = 0x80;                // 0x0114
    Bytes lcd_text;                           // 0x0117, as sent
    uint8_t package_max_size = 64;            // 0x0F30
    uint8_t uart_mode = 0;                    // 0x0F31
    uint8_t uart_delay = 0;                   // 0x0F32
    std::array<uint8_t, 2> valid_card{};      // 0x7F31 / 0x7F32
    std::array<uint8_t, 2> jack{0x00, 0x00};  // 0x0F0A
    std::array<uint8_t, 16> ulc_key{};        // 0x0710
    std::array<uint8_t, 16> dataenc_key{};    // 0x0711
    uint16_t poweroff_delay = 0;              // 0x0F05 sub 0x03, as sent (v * 10)
    uint8_t battery = 210;                    // 0x0F10 raw level (75 %)
    // 0x0103: 16 bytes as reported.
    std::array<uint8_t, 16> firmware_version{'v', 'a', 'n', 't', 'e', 'l', '-', 's',
                                             'i', 'm', ' ', '1', '.', '0', '.', '0'};
    // 0x0104: the model text. Its first 8 bytes double as the OTP serial
    // number (pcd_get_otp_sn reads the same command).
    std::string model = "VR1356-S";
    // 0x0403: the SAM module's 16-byte reset answer.
    std::array<uint8_t, 16> sam_answer{0x00, 0x00, 0x90, 0x00, 0x56, 0x52, 0x53, 0x41,
                                       0x4D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    // 0x0605: downloaded keys by (index, key type 0x60/0x61).
    std::map<std::pair<uint8_t, uint8_t>, Bytes> keys;
    // Second family, 0x4C: keys loaded by (key selector, sector).
    std::map<std::pair<uint8_t, uint8_t>, std::array<uint8_t, 6>> sector_keys;
};

// What the command handlers work on.
struct FirmwareState {
    Settings settings;
    std::mt19937_64 rng;
    Bytes last_random;  // the latest 0x0F09 answer
    // The link cipher's session key: the latest 8-byte 0x0F09 answer
    // (the host makes its key from the same answer). Empty until then.
    Bytes session_key;
    // The cards in the reader's field (thread-safe on its own).
    Field field;
    // The security module that reads identity cards (thread-safe on its
    // own).
    Sam sam;
};

using Handler = std::function<Reply(FirmwareState&, const Request&)>;

// Command handlers keyed by command code.
class CommandTable {
public:
    void add(uint16_t code, Handler handler) { table_[code] = std::move(handler); }
    [[nodiscard]] const Handler* find(uint16_t code) const {
        const auto it = table_.find(code);
        return it == table_.end() ? nullptr : &it->second;
    }
    [[nodiscard]] size_t size() const { return table_.size(); }

private:
    std::map<uint16_t, Handler> table_;
};

// Installers, one per command area.
void install_reader_commands(CommandTable& table);         // first family
void install_second_family_commands(CommandTable& table);  // second family
// Type A card commands of the first family: request, anticollision,
// select, halt, the one-shot activations 0x0212 / 0x0213 and the MIFARE
// Classic commands (fw_cards.cpp).
void install_card_commands(CommandTable& table);
// Echo 0x0F02 and repeat 0x0216: the link's own commands, in both families.
void install_link_commands(CommandTable& table);
// Ultralight and Ultralight C commands 0x07xx (fw_ultralight.cpp).
void install_ultralight_commands(CommandTable& table);
// ISO 14443-4: CPU card activation and APDUs, type B frames, the identity
// card's identifier, APDU batches (fw_iso_dep.cpp).
void install_iso_dep_commands(CommandTable& table);
// The SAM's commands (fw_sam.cpp): both families take 0x8B, the first
// also 0x0305 and 0x0306.
void install_sam_commands(CommandTable& table, Family family);

class Firmware {
public:
    explicit Firmware(Family family = Family::first);

    [[nodiscard]] Family family() const { return family_; }

    // Runs one request; thread-safe against the accessors below.
    [[nodiscard]] Reply handle(const Request& request);

    // Second family: a protocol-1 message that reaches the direct path
    // (first-family card command codes, first-family status bytes).
    [[nodiscard]] Reply handle_direct(const Request& request);
    // Whether this family's reader takes protocol-1 messages beside its
    // own protocol (the second family's direct path).
    [[nodiscard]] bool takes_direct_messages() const;

    // The status byte this family reports for a command it does not know
    // (both map to -22, "not such command").
    [[nodiscard]] uint8_t unknown_command_status() const;
    [[nodiscard]] uint8_t bad_argument_status() const;
    // A body too short to hold a command code.
    [[nodiscard]] uint8_t malformed_status() const;
    // A repeat request (0x0216) before any reply was sent.
    [[nodiscard]] uint8_t nothing_to_repeat_status() const;

    // A copy of the settings, taken under the firmware's lock.
    [[nodiscard]] Settings settings() const;
    // Changes settings under the lock: fw.edit([](Settings& s){ ... }).
    template <class F>
    void edit(F&& change) {
        std::lock_guard hold(mutex_);
        change(state_.settings);
    }
    void set_battery(uint8_t raw) {
        edit([raw](Settings& s) { s.battery = raw; });
    }
    void seed_random(uint64_t seed);
    [[nodiscard]] Bytes last_random() const;
    [[nodiscard]] Bytes session_key() const;

    // The reader's field; place and remove cards here.
    [[nodiscard]] Field& field() { return state_.field; }
    // The reader's SAM; inject its faults here.
    [[nodiscard]] Sam& sam() { return state_.sam; }

    // Adds or replaces a command (later command areas, tests).
    void add_command(uint16_t code, Handler handler);
    [[nodiscard]] bool has_command(uint16_t code) const;

    // Link encryption. A request that came with head 0x42 is offered to the
    // cipher with the session key in force when it arrived; the reply to a
    // request it deciphered is enciphered with that same key (a 0x0F09 in
    // between changes the key for the next exchange only). The first
    // family installs the session cipher (link_cipher.cpp); without a
    // cipher an enciphered request is refused with status 0x8F.
    struct LinkCipher {
        enum class Opened {
            plain,       // not an enciphered body (the ping): run as it is
            deciphered,  // request.data now holds the plain data
            refused,     // cannot be read: status `status`
        };
        virtual ~LinkCipher() = default;
        virtual Opened open_request(ByteView session_key, Request& request, uint8_t& status) = 0;
        // Enciphers a successful reply's data and marks it encrypted.
        virtual void seal_reply(ByteView session_key, Reply& reply) = 0;
    };
    void set_link_cipher(std::shared_ptr<LinkCipher> cipher);

    // The accessory this device is instead of a card reader (set by
    // install_pm25_commands, pm25_sensor.h); null for a card reader.
    void set_sensor(std::shared_ptr<Pm25Sensor> sensor);
    [[nodiscard]] std::shared_ptr<Pm25Sensor> sensor() const;

private:
    Family family_;
    mutable std::mutex mutex_;
    FirmwareState state_;
    CommandTable table_;
    CommandTable direct_table_;  // second family only
    std::shared_ptr<LinkCipher> cipher_;
    std::shared_ptr<Pm25Sensor> sensor_;
};

// The reader's link cipher: requests `cmd lo, cmd hi, plain length hi, lo,
// 8k bytes of ciphertext` (k at least 1) deciphered with com_alg_dec under
// the link key made from the session key; replies `plain length hi, lo,
// ciphertext` (status in front) enciphered with com_alg_enc.
[[nodiscard]] std::shared_ptr<Firmware::LinkCipher> make_session_cipher();

}  // namespace vrsim
