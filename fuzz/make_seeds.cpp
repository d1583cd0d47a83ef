// Writes the seed corpus of every fuzz target: real reply frames as the
// reader model sends them, EMV answers, infrared waveforms and texts. Run
// after a change of an input layout:
//   cmake --build build --target fuzz_seeds && build/fuzz/fuzz_seeds fuzz/corpus
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bank_card.h"
#include "channel.h"
#include "cpu_card.h"
#include "firmware.h"
#include "identity_card.h"
#include "type_b_card.h"
#include "ultralight_card.h"
#include "ultralight_dump.h"
#include "crypto.h"
#include "dumpfile.h"
#include "frame.h"
#include "ir.h"
#include "modem_harness.h"
#include "ringbuf.h"
#include "usb_device.h"
#include "wire.h"

namespace fs = std::filesystem;
using vrsim::Bytes;

namespace {

fs::path g_root;

void write(const std::string &target, const std::string &name, const Bytes &bytes) {
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes reply(int protocol, uint8_t status, const Bytes &data = {}, uint16_t echo = 0) {
    return vrsim::encode_reply_frame(protocol, status, data, echo);
}

// A reply item of the device's framed mode: body length, status, data.
Bytes item(uint8_t status, const Bytes &data = {}) {
    Bytes b{static_cast<uint8_t>(data.size() + 1), status};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// An enciphered reply item: F0, plaintext length, plaintext.
Bytes encrypted_item(const Bytes &plain) {
    Bytes b{0xF0, static_cast<uint8_t>(plain.size())};
    b.insert(b.end(), plain.begin(), plain.end());
    return b;
}

Bytes corrupted(int protocol, uint8_t status, const Bytes &data) {
    Bytes f = reply(protocol, status, data);
    vrsim::corrupt_checksum(f, protocol);
    return f;
}

Bytes block_bytes() {
    Bytes b;
    for (int i = 0; i < 16; ++i) b.push_back(static_cast<uint8_t>(0x10 + i));
    return b;
}

// A protocol-3 reply enciphered with the link cipher under a session key:
// head 0x42, status, plain length (high, low), ciphertext.
Bytes encrypted_reply(const uint8_t key[8], const Bytes &plain) {
    Bytes data(plain);
    data.resize((plain.size() + 7) / 8 * 8 + 8);
    uint32_t n = 0;
    com_alg_enc(data.data(), static_cast<uint32_t>(plain.size()), key, &n);
    data.resize(n);
    Bytes body{0x00, static_cast<uint8_t>(plain.size() >> 8), static_cast<uint8_t>(plain.size() & 0xFF)};
    body.insert(body.end(), data.begin(), data.end());
    Bytes f{0x42, 0x02, static_cast<uint8_t>(body.size() & 0xFF), static_cast<uint8_t>(body.size() >> 8)};
    f.insert(f.end(), body.begin(), body.end());
    const uint16_t crc = vrsim::crc16_modbus(vrsim::ByteView(f).subspan(2));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

void frame_seeds() {
    // config (protocol selector: 0 -> 3, 1 -> 6, 2 -> 1, 3 -> 2), reply
    // time-out / 25, port time-out / 256.
    const Bytes p3{0x00, 40, 12}, p6{0x01, 40, 12}, p1{0x02, 40, 12};
    write("frame", "p3_block", cat({p3, reply(3, 0, block_bytes())}));
    write("frame", "p3_two_frames", cat({p3, reply(3, 0, {0x01}), reply(3, 0, block_bytes())}));
    write("frame", "p3_noise_before_head", cat({p3, {0x55, 0x02, 0x13}, reply(3, 0, {0x04})}));
    write("frame", "p3_bad_crc", cat({p3, corrupted(3, 0, block_bytes())}));
    write("frame", "p3_reader_timeout", cat({p3, reply(3, 0x90)}));
    write("frame", "p3_encrypted_head", cat({p3, vrsim::encode_reply_frame(3, 0, Bytes{0, 4, 1, 2, 3, 4, 5, 6, 7, 8}, 0, true)}));
    write("frame", "p6_short", cat({p6, reply(6, 0, {0x04, 0x11, 0x22, 0x33, 0x44})}));
    write("frame", "p6_long", cat({p6, reply(6, 0, Bytes(256, 0x5A))}));
    write("frame", "p6_status", cat({p6, reply(6, 0x1A)}));
    write("frame", "p1_stuffed", cat({p1, reply(1, 0, {0xAA, 0x01, 0xAA}, 0x0208)}));
    write("frame", "p1_removed_at_end", cat({{0x0A, 40, 40}, reply(1, 0, {0x42}, 0x0F02)}));
    // The largest bodies each protocol carries.
    write("frame", "p3_largest", cat({p3, reply(3, 0, Bytes(4095, 0xA5))}));
    write("frame", "p6_largest", cat({p6, reply(6, 0, Bytes(4096, 0x5A))}));
    write("frame", "p1_largest_stuffed", cat({p1, reply(1, 0, Bytes(4091, 0xAA), 0x0208)}));
    write("frame", "framed_p3_items", cat({{0x40, 40, 12}, item(0, block_bytes()), item(0x8F), Bytes{0xF1, 2, 0, 1}}));
    write("frame", "p2_handshake", cat({{0x13, 4, 0}, {0x10, 0x10, 0x02, 0x02}}));
}

void direct_reply_seeds() {
    // config, command (low, high), port time-out / 40, then the replies.
    const Bytes head{0x00, 0x01, 0x02, 75};
    write("direct_reply", "atqa", cat({head, reply(1, 0, {0x02, 0x00}, 0x0201)}));
    write("direct_reply", "wrong_echo", cat({head, reply(1, 0, {0x02, 0x00}, 0x0202)}));
    write("direct_reply", "status_no_card", cat({head, reply(1, 0x0D, {}, 0x0201)}));
    write("direct_reply", "stuffed_data", cat({head, reply(1, 0, Bytes(40, 0xAA), 0x0201)}));
    write("direct_reply", "largest", cat({head, reply(1, 0, Bytes(4091, 0x5A), 0x0201)}));
    write("direct_reply", "noise", cat({head, {0x02, 0x02, 0x00, 0x01, 0x55}}));
    write("direct_reply", "short_frame", cat({head, {0xAA, 0xBB, 0x04, 0x00, 0x00}}));
}

void exchange_seeds() {
    const Bytes key{0x3A, 0x91, 0x5C, 0x07, 0xE4, 0x28, 0xB6, 0x6D};
    // config, config 2 (framed replies), key, command (low, high), data
    // length (low, high), time-out / 25 (255: -1), port time-out / 40.
    auto head = [&](uint8_t config, uint16_t cmd, uint16_t len, uint8_t config2 = 0) {
        return cat({{config, config2}, key, {static_cast<uint8_t>(cmd), static_cast<uint8_t>(cmd >> 8)},
                    {static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8)}, {0, 75}});
    };
    write("exchange", "p3_read_block", cat({head(0x00, 0x0208, 1), reply(3, 0, block_bytes())}));
    write("exchange", "p3_stale_then_reply", cat({head(0x00, 0x0208, 1), reply(3, 0x90), reply(3, 0, {0x00, 0x11, 0x22, 0x33}), reply(3, 0, block_bytes())}));
    write("exchange", "p3_bad_crc_repeat", cat({head(0x00, 0x0208, 1), corrupted(3, 0, block_bytes()), reply(3, 0, block_bytes())}));
    write("exchange", "p3_resend", cat({head(0x00, 0x0108, 1), reply(3, 0x91), reply(3, 0)}));
    write("exchange", "p3_status_no_card", cat({head(0x00, 0x0212, 1), reply(3, 0x0D)}));
    write("exchange", "p3_encrypted_reply", cat({head(0x10, 0x0208, 1), encrypted_reply(key.data(), block_bytes())}));
    write("exchange", "p3_encrypted_empty", cat({head(0x10, 0x0209, 17), encrypted_reply(key.data(), {})}));
    write("exchange", "p6_reply", cat({head(0x01, 0x0046, 2), reply(6, 0, {0x04, 0x00, 0x11, 0x22})}));
    write("exchange", "p6_long_request", cat({head(0x01, 0x0046, 300), reply(6, 0x90), reply(6, 0, Bytes(300, 7))}));
    write("exchange", "p1_echo", cat({head(0x02, 0x0104, 0), reply(1, 0, text("VR1356-S"), 0x0104)}));
    write("exchange", "p3_largest_reply", cat({head(0x00, 0x0211, 5), reply(3, 0, Bytes(4095, 0x3C))}));
    write("exchange", "p3_largest_encrypted", cat({head(0x10, 0x0211, 5), encrypted_reply(key.data(), Bytes(4088, 0x3C))}));
    write("exchange", "p6_largest_reply", cat({head(0x01, 0x0046, 2), reply(6, 0, Bytes(4096, 0x3C))}));
    write("exchange", "framed_encrypted", cat({head(0x10, 0x0208, 1, 1), encrypted_item(block_bytes())}));
    write("exchange", "framed_crc_repeat", cat({head(0x00, 0x0208, 1, 1), Bytes{0xF1, 17, 0}, block_bytes(), item(0, block_bytes())}));
    write("exchange", "framed_p6_stale", cat({head(0x01, 0x0046, 2, 1), item(0x90), item(0, {0x04, 0x00})}));
    write("exchange", "framed_p1_echo", cat({head(0x02, 0x0104, 0, 1), item(0, text("VR1356-S"))}));
    write("exchange", "framed_p6_silence_then_reply", cat({head(0x01, 0x0046, 2, 1), Bytes{0xFF}, item(0, {0x04, 0x00})}));
    write("exchange", "dc_usb_stale", cat({head(0x20, 0x0208, 1), reply(3, 0x90)}));
    write("exchange", "request_too_long", cat({head(0x00, 0x0209, 4097), reply(3, 0)}));
}

void card_seeds() {
    // config, operation count - 1, then per operation: kind, block, offset
    // (low, high), length (low, high), key choice; then the replies as
    // items of the device's framed mode.
    auto op = [](uint8_t kind, uint8_t block = 0, uint16_t offset = 0, uint16_t length = 0, uint8_t key = 0) {
        return Bytes{kind, block, static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8),
                     static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), key};
    };
    const Bytes ok = item(0);
    const Bytes uid{0xDE, 0xAD, 0xBE, 0xEF};
    write("card_reply", "search_type_a_4", cat({{0, 0}, op(0), ok, item(0, {7, 0x04, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 0x08})}));
    write("card_reply", "search_type_a_7", cat({{0, 0}, op(0), ok, item(0, {10, 0x44, 0x00, 1, 2, 3, 4, 5, 6, 7, 0x00})}));
    write("card_reply", "search_type_a_10", cat({{0, 0}, op(0), ok, item(0, {13, 0x44, 0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x20})}));
    write("card_reply", "s50_query", cat({{0, 0}, op(1), ok, item(0, cat({{0x08, 4}, uid}))}));
    write("card_reply", "s70_query_halt", cat({{0, 0}, op(2), ok, item(0, {0x02, 0x00}), item(0, uid), ok}));
    write("card_reply", "s70_wupa", cat({{0, 0}, op(3), ok, item(0, {0x02, 0x00})}));
    write("card_reply", "read_and_value", cat({{0, 1}, op(4, 4), op(5, 5), item(0, block_bytes()), item(0, {0x64, 0, 0, 0})}));
    write("card_reply", "s70_read_and_value", cat({{0, 1}, op(6, 200), op(7, 201), item(0, block_bytes()), item(0, {1, 0, 0, 0})}));
    // 30 bytes from offset 40: sector 1 (blocks 6, then 8 after the trailer).
    write("card_reply", "readdata_ex_two_sectors", cat({{0, 0}, op(8, 0, 40, 30, 1), ok, item(0, block_bytes()), ok, item(0, block_bytes()), item(0, block_bytes())}));
    write("card_reply", "readdata_stored_key", cat({{0, 0}, op(10, 0, 16, 16), ok, item(0, block_bytes())}));
    write("card_reply", "writedata_ex_partial", cat({{0, 0}, op(9, 0, 5, 20, 1), ok, item(0, block_bytes()), ok, item(0, block_bytes()), ok}));
    write("card_reply", "chpw", cat({{0, 0}, op(11, 4, 0, 0, 2), item(0, block_bytes()), ok}));
    write("card_reply", "s70_chaccess", cat({{0, 0}, op(12, 130), item(0, block_bytes()), ok}));
    write("card_reply", "auth_then_read", cat({{0, 1}, op(13, 4, 0, 0, 1), op(4, 4), ok, item(0, block_bytes())}));
    write("card_reply", "s70_select", cat({{0, 0}, op(14), ok}));
    write("card_reply", "s50_getuid", cat({{0, 0}, op(15), ok, item(0, cat({{0x08, 4}, uid}))}));
    write("card_reply", "card_ops_s50_selected", cat({{0, 0}, op(16, 4, 16, 16, 3), ok, item(0, block_bytes()), ok, item(0, block_bytes()), item(0, {0x64, 0, 0, 0})}));
    write("card_reply", "card_ops_s50_reselect", cat({{0, 0}, op(16, 4, 16, 16, 1), ok, item(0, cat({{0x08, 4}, uid})), ok, item(0, block_bytes()), ok, item(0, block_bytes()), item(0, {0x64, 0, 0, 0})}));
    write("card_reply", "card_ops_s70_search", cat({{0, 0}, op(17, 130, 0, 0, 0), ok, item(0, {0x02, 0x00}), ok, ok, item(0, block_bytes()), item(0, {1, 0, 0, 0}), ok}));
    // Raw frames on the line instead of framed items.
    write("card_reply", "raw_search_type_a_4", cat({{0x04, 0}, op(0), reply(3, 0), reply(3, 0, {7, 0x04, 0x00, 0xDE, 0xAD, 0xBE, 0xEF, 0x08})}));
    write("card_reply", "short_reads", cat({{1, 0}, op(4, 1), item(0, {1, 2, 3})}));
}

void ctrl_seeds() {
    // config, operation count - 1, then per operation: kind, argument.
    const Bytes key{0x5E, 0x11, 0xA0, 0x7C, 0x33, 0x90, 0x02, 0xE8};
    const Bytes fci{0x6F, 0x0A, 0x84, 0x02, 0xA0, 0x00, 0xA5, 0x04, 0x50, 0x02, 0x41, 0x42, 0x90, 0x00};
    write("ctrl_reply", "firmware_version", cat({{0, 0, 0, 3}, item(0, text("vantel-sim 1.0.0"))}));
    write("ctrl_reply", "battery_and_settings", cat({{0, 1, 0, 7, 0, 8}, item(0, {210}), item(0, {64}), item(0, {0}), item(0, {3})}));
    write("ctrl_reply", "hard_model", cat({{0, 0, 1, 0}, item(0, text("VR1356-S"))}));
    write("ctrl_reply", "encryption_then_msn", cat({{0, 1, 2, 0, 0, 1}, item(0, key), encrypted_item({0x56, 0x52, 0, 0, 0, 0, 0, 1})}));
    write("ctrl_reply", "raw_hex_version", cat({{0, 0, 3, 0}, item(0, text("vantel-sim 1.0.0"))}));
    write("ctrl_reply", "raw_bytes", cat({{0, 0, 4, 1}, item(0, block_bytes())}));
    write("ctrl_reply", "apdu_hex_fci", cat({{0, 0, 5, 0}, item(0, fci)}));
    write("ctrl_reply", "apdu_bytes_cid", cat({{2, 0, 6, 0}, item(0, {0x6A, 0x83})}));
    write("ctrl_reply", "batch_hex", cat({{0, 0, 7, 0}, item(0, cat({{0x00, 0x0E}, fci, {0x00, 0x02, 0x6A, 0x83}, {0x00, 0x00}, {0x00, 0x02, 0x90, 0x00}}))}));
    write("ctrl_reply", "batch_bytes", cat({{0, 0, 8, 0}, item(0, {0x00, 0x02, 0x90, 0x00})}));
    write("ctrl_reply", "raw_length_prefixed", cat({{0, 0, 9, 0}, item(0, text("vantel-sim 1.0.0"))}));
}

void crypto_seeds() {
    write("base64", "decode_abc", cat({{0}, text("YWJj")}));
    write("base64", "decode_one_pad", cat({{0}, text("YWI=")}));
    write("base64", "decode_two_pads", cat({{0}, text("YQ==")}));
    write("base64", "decode_long", cat({{0}, text("VGhlIHJlYWRlciBhbnN3ZXJlZCBpbiB0aW1lLg==")}));
    write("base64", "round_trip", cat({{1}, {0x00, 0xFF, 0x10, 0x80, 0x7F}}));

    const std::string key = "0123456789ABCDEFFEDCBA98765432100011223344556677";
    const std::string plain = "card 4 holds 100 yuan\x03\x03\x03";
    write("crypt3des", "encrypt_24", cat({{0}, text(plain)}));
    char cipher[345] = {};
    Crypt3Des(0, plain.c_str(), key.c_str(), cipher);
    write("crypt3des", "decrypt_24", cat({{1}, text(cipher)}));
    write("crypt3des", "encrypt_own_key", cat({{0x80}, text(key), text("12345678")}));
    write("crypt3des", "bad_key_digit", cat({{0x80}, text("g123456789ABCDEFFEDCBA98765432100011223344556677"), text("12345678")}));

    write("str2data", "bytes", cat({{8}, text("00A1b2C3d4E5f6FF")}));
    write("str2data", "too_small", cat({{1}, text("0011223344")}));
    write("str2data", "odd", cat({{8}, text("ABC")}));
}

void reading_seeds() {
    // mode: bit 0 a list, bits 1..2 the range (temperature, humidity,
    // mass, particle count).
    write("reading", "mass", cat({{4}, text("35.2")}));
    write("reading", "temperature_negative", cat({{0}, text("-12.5")}));
    write("reading", "padded", cat({{2}, text(" 45.0\r\n"), {0}}));
    write("reading", "exponent", cat({{6}, text("1.5e3")}));
    write("reading", "too_long", cat({{4}, text("12.3456789")}));
    write("reading", "trailing_junk", cat({{4}, text("12.5ug")}));
    write("reading", "masses", cat({{5}, text("12.5,30.1,41.7,22.4,45.0")}));
    write("reading", "particles", cat({{7}, text("2112,2544,2611,22.4,45.0")}));
    write("reading", "short_list", cat({{5}, text("1,2,")}));
    write("reading", "empty_field", cat({{5}, text("1,,3")}));
}

void tlv_seeds() {
    // wanted tag (low, high), occurrence, depth (low, high), the answer.
    auto head = [](uint16_t tag, uint8_t occurrence) {
        return Bytes{static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8), occurrence, 0, 0};
    };
    // FCI of the payment system environment.
    const Bytes pse{0x6F, 0x1E, 0x84, 0x0E, '1', 'P', 'A', 'Y', '.', 'S', 'Y', 'S', '.', 'D', 'D', 'F', '0', '1',
                    0xA5, 0x0C, 0x88, 0x01, 0x01, 0x5F, 0x2D, 0x02, 'z', 'h', 0x9F, 0x11, 0x01, 0x01, 0x90, 0x00};
    write("tlv", "pse_fci_88", cat({head(0x88, 1), pse}));
    write("tlv", "pse_fci_5f2d", cat({head(0x5F2D, 1), pse}));
    // A record of the directory: two application templates.
    const Bytes dir{0x70, 0x26, 0x61, 0x11, 0x4F, 0x08, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01,
                    0x50, 0x05, 'P', 'B', 'O', 'C', ' ', 0x61, 0x11, 0x4F, 0x08, 0xA0, 0x00, 0x00, 0x03,
                    0x33, 0x01, 0x01, 0x02, 0x50, 0x05, 'Q', 'P', 'B', 'O', 'C', 0x90, 0x00};
    write("tlv", "directory_second_61", cat({head(0x61, 2), dir}));
    write("tlv", "directory_label", cat({head(0x50, 2), dir}));
    // A record with track 2, PAN, name, expiry and the holder's ID number.
    Bytes record{0x70, 0x81, 0x00, 0x57, 0x13, 0x62, 0x22, 0x02, 0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0xD2,
                 0x51, 0x22, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x5A, 0x08, 0x62, 0x22, 0x02, 0x00,
                 0x00, 0x12, 0x34, 0x56, 0x5F, 0x20, 0x0A, 'Z', 'H', 'A', 'N', 'G', '/', 'S', 'A', 'N', ' ',
                 0x5F, 0x24, 0x03, 0x25, 0x12, 0x31, 0x9F, 0x61, 0x12, '1', '1', '0', '1', '0', '1', '1',
                 '9', '9', '0', '0', '1', '0', '1', '1', '2', '3', 'X'};
    record[2] = static_cast<uint8_t>(record.size() - 3);
    write("tlv", "record_81_length_5f20", cat({head(0x5F20, 1), record}));
    write("tlv", "record_9f61", cat({head(0x9F61, 1), record}));
    // The GPO answer in format 2 and an electronic cash balance.
    write("tlv", "gpo_format2", cat({head(0x94, 1), {0x77, 0x0E, 0x82, 0x02, 0x7C, 0x00, 0x94, 0x08, 0x08, 0x01, 0x03, 0x00, 0x10, 0x01, 0x01, 0x00, 0x90, 0x00}}));
    write("tlv", "balance_9f79", cat({head(0x9F79, 1), {0x9F, 0x79, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x90, 0x00}}));
}

// A NEC-style remote key press: leader, 32 bits, stop bit.
std::vector<uint16_t> nec_waveform() {
    std::vector<uint16_t> w{9000, 4500};
    const uint32_t code = 0x20DF10EF;
    for (int i = 31; i >= 0; --i) {
        w.push_back(560);
        w.push_back((code >> i) & 1 ? 1690 : 560);
    }
    w.push_back(560);
    return w;
}

Bytes big_endian(const std::vector<uint16_t> &v) {
    Bytes b;
    for (uint16_t x : v) {
        b.push_back(static_cast<uint8_t>(x >> 8));
        b.push_back(static_cast<uint8_t>(x & 0xFF));
    }
    return b;
}

void ir_seeds() {
    auto nec = nec_waveform();
    write("ir_convert", "nec_key", big_endian(nec));
    write("ir_convert", "with_gaps", big_endian({560, 565, 1690, 1680, 0, 9000, 0, 4500}));
    std::vector<uint16_t> spread;
    for (int i = 0; i < 33; ++i) spread.push_back(static_cast<uint16_t>(100 * (i + 1) * (i + 1)));
    write("ir_convert", "too_many_clusters", big_endian(spread));

    write("ir_unzip", "escaped_value_stream", {0x15, 0xFF, 0xFF, 0xFF, 0x01, 0x2C});
    std::vector<uint16_t> values = nec;
    ir_data_adjustment(values.data(), static_cast<int>(values.size()));
    ir_data_analyzer(values.data(), static_cast<int>(values.size()));
    Bytes stream(3 * values.size());
    uint16_t reported = 0;
    ir_data_zip(values.data(), static_cast<int>(values.size()), stream.data(), &reported);
    stream.resize(reported + 1u);
    write("ir_unzip", "nec_key", stream);
    write("ir_unzip", "cut_escape", {0x10, 0x20, 0xFF, 0x01});
}

Bytes little_endian(std::span<const int16_t> v) {
    Bytes b;
    for (int16_t x : v) {
        b.push_back(static_cast<uint8_t>(x & 0xFF));
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(x) >> 8));
    }
    return b;
}

// The line signal of bytes at carrier width w through the send path, as
// mono samples, optionally through a headset-like channel; cut to whole
// receive blocks (at most three).
std::vector<int16_t> uplink(int w, int alg, const Bytes &bytes, const vrsim::ChannelConfig *channel) {
    vrtest::modem_setup(w, alg);
    vrtest::Framing framing;
    framing.lead = 4;
    framing.tail = 40;
    std::vector<int16_t> mono = vrsim::Channel::left(vrtest::modulate(bytes, framing));
    if (channel) mono = vrsim::Channel(*channel).process(mono);
    const size_t blocks = std::min<size_t>(3, (mono.size() + 2047) / 2048);
    mono.resize(blocks * 2048, 0);
    return mono;
}

void modem_seeds() {
    // config (uplink algorithm, repeat, verbose, calibrate), width - 2,
    // level (low, high), samples.
    auto seed = [](const std::string &name, uint8_t config, int w, int alg, const Bytes &bytes,
                   const vrsim::ChannelConfig *channel) {
        const auto mono = uplink(w, alg, bytes, channel);
        write("demod", name, cat({{static_cast<uint8_t>(config | alg), static_cast<uint8_t>(w - 2), 0, 0}, little_endian(mono)}));
        // The symbols the receive loop makes of it feed the symbol decoder:
        // ring size, bytes wanted, symbols.
        const std::string symbols = vrtest::receive(mono);
        write("symbols", name, cat({{0x6E, 0x0B, static_cast<uint8_t>(bytes.size())}, text(symbols)}));
        vrtest::modem_teardown();
    };
    const Bytes hello{0x55, 0xAA, 0x02, 0x02, 0x00, 0x01};
    seed("w4_simple", 0, 4, 2, hello, nullptr);
    seed("w4_biquad", 0, 4, 0, hello, nullptr);
    seed("w8_smoother_verbose", 0x08, 8, 1, hello, nullptr);
    seed("w2_biquad", 0, 2, 0, {0x00, 0xFF, 0x10}, nullptr);
    vrsim::ChannelConfig headset;
    headset.lowpass_hz = 9000;
    headset.gain = 0.4;
    headset.snr_db = 24;
    headset.clock_ppm = 80;
    headset.dc_offset = 300;
    seed("w4_headset_channel", 0, 4, 0, hello, &headset);
    vrsim::ChannelConfig drops;
    drops.drop_probability = 0.002;
    drops.drop_burst = 3;
    seed("w6_drops_calibrate", 0x10, 6, 1, hello, &drops);
    // A short stretch repeated to fill the blocks.
    auto mono = uplink(4, 2, {0x42}, nullptr);
    mono.resize(600);
    write("demod", "repeat_short", cat({{0x04 | 2, 2, 0, 0}, little_endian(mono)}));
    vrtest::modem_teardown();
    write("symbols", "one_byte", cat({{0x10, 0, 1}, text("SSSLSLSLSLSS")}));
}

// ------------------------------------------------ ISO 14443-4, Ultralight, SAM

// A reply item as the reader model answers the request; long answers as F3
// items (length low, high).
Bytes answer_item(vrsim::Firmware &fw, uint16_t cmd, const Bytes &data) {
    const vrsim::Reply r = fw.handle(vrsim::Request{cmd, data});
    Bytes body{r.status};
    body.insert(body.end(), r.data.begin(), r.data.end());
    if (body.size() < 0xF0) return cat({{static_cast<uint8_t>(body.size())}, body});
    return cat({{0xF3, static_cast<uint8_t>(body.size() & 0xFF), static_cast<uint8_t>(body.size() >> 8)}, body});
}

Bytes sam_request(uint8_t command, uint8_t parameter) {
    return {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, command, parameter, static_cast<uint8_t>(0x03 ^ command ^ parameter)};
}

void iso_card_seeds() {
    const Bytes ok = item(0);
    {
        vrsim::Firmware fw;
        fw.field().place(vrsim::CpuCard::make({0x5C, 0x11, 0x22, 0x33}, vrsim::CpuCard::kAtqa, vrsim::CpuCard::kSak, nullptr));
        const Bytes activation = answer_item(fw, 0x0210, {0x52});
        write("cpu_reply", "activation", cat({{0, 0, 0, 0}, activation}));
        write("cpu_reply", "activation_short_ats", cat({{0, 0, 0, 0}, item(0, {0x20, 4, 1, 2, 3, 4, 0, 0x05, 0x78, 0x80, 0x70, 0x02})}));
        const Bytes select = answer_item(fw, 0x0211, {0x00, 0xA4, 0x04, 0x00, 0x08, 0xF0, 'V', 'R', 'T', 'E', 'S', 'T', 0x01, 0x00});
        const Bytes record = answer_item(fw, 0x0211, {0x00, 0xB2, 0x01, 0x14, 0x00});
        write("cpu_reply", "apdu_exchanges", cat({{0, 1, 1, 14, 1, 5}, select, record}));
        write("cpu_reply", "query_getuid_halt", cat({{0, 0, 2, 0}, activation, ok}));
        write("cpu_reply", "uniform_read", cat({{0, 0, 4, 5}, record}));
        fw.field().place(vrsim::Card::type_a(0x0008, 0x20, {1, 2, 3, 4}));
        write("cpu_reply", "generic_query", cat({{0, 0, 3, 0}, ok, answer_item(fw, 0x0213, {0x52})}));
    }
    {
        vrsim::Firmware fw;
        auto card = vrsim::CidCard::make({}, nullptr);
        fw.field().place(card);
        const Bytes protocol_b = answer_item(fw, 0x0108, {'B'});
        const Bytes reqb = answer_item(fw, 0x0303, {0x05, 0x00, 0x00});
        const Bytes attrib = answer_item(fw, 0x0303, {0x1D, 0, 0, 0, 0, 0x00, 0x08, 0x01, 0x08});
        write("cid_reply", "anticoll", cat({{0, 0, 0, 0, 0}, protocol_b, reqb, attrib}));
        const Bytes select = answer_item(fw, 0x0303, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x11});
        Bytes reads;
        for (int offset : {0, 80, 160})
            reads = cat({reads, answer_item(fw, 0x0303, {0x80, 0xB0, 0x00, static_cast<uint8_t>(offset),
                                                        static_cast<uint8_t>(offset == 160 ? 54 : 80)})});
        write("cid_reply", "file_6011", cat({{0, 0, 5, 1, 0}, select, reads}));
        write("cid_reply", "select_and_read", cat({{0, 1, 3, 0x11, 0, 4, 8, 16}, select, answer_item(fw, 0x0303, {0x80, 0xB0, 0x00, 0x00, 16}),
                                                     answer_item(fw, 0x0303, {0x80, 0xB0, 0x00, 16, 16})}));
        write("cid_reply", "apdu_status_only", cat({{0, 0, 2, 6, 0}, item(0, {0x6A, 0x82, 0x00})}));
        write("cid_reply", "read_buffer", cat({{0, 0, 1, 7, 0}, select}));
    }
    {
        vrsim::Firmware fw;
        fw.field().place(vrsim::IdentityCard::make({1, 2, 3, 4, 5, 6, 7, 8}, nullptr));
        const Bytes search = answer_item(fw, 0x0305, sam_request(0x20, 0x01));
        const Bytes select = answer_item(fw, 0x0305, sam_request(0x20, 0x02));
        const Bytes all = answer_item(fw, 0x0305, sam_request(0x30, 0x10));
        const Bytes text_photo = answer_item(fw, 0x0305, sam_request(0x30, 0x01));
        const Bytes finger = answer_item(fw, 0x0306, sam_request(0x30, 0x10));
        const vrsim::Reply direct = fw.handle(vrsim::Request{0x0305, sam_request(0x30, 0x01)});
        const vrsim::Reply direct_short = fw.handle(vrsim::Request{0x0306, sam_request(0x30, 0x10)});
        write("sam_frame", "unserial_text_photo", cat({{0}, direct.data}));
        write("sam_frame", "unserial_shortcut", cat({{1}, direct_short.data}));
        // mode, config, operation, capacities (text, photo, fingerprint).
        const Bytes room{0x00, 0x01, 0x00, 0x04, 0x00, 0x04};  // little-endian 256, 1024, 1024
        write("sam_frame", "read_text_photo", cat({{2, 0, 0}, room, text_photo}));
        write("sam_frame", "read_all", cat({{2, 0, 1}, room, all}));
        write("sam_frame", "read_shortcut", cat({{2, 0, 2}, room, finger}));
        write("sam_frame", "read_finger", cat({{2, 0, 3}, room, finger}));
        write("sam_frame", "ctrl_74", cat({{2, 0, 4}, room, search, select, all}));
        write("sam_frame", "ctrl_79_small_buffer", cat({{2, 0, 5}, {0x00, 0x00, 0x00, 0x00, 0x10, 0x00}, search, select, finger}));
        fw.sam().fail(vrsim::Sam::Step::select, 0x81);
        write("sam_frame", "ctrl_74_select_fails", cat({{2, 0, 4}, room, search, answer_item(fw, 0x0305, sam_request(0x20, 0x02))}));
        write("sam_frame", "search_select_check", cat({{2, 0, 6}, room, search, select, answer_item(fw, 0x0305, sam_request(0x11, 0xFF))}));
    }
    {
        vrsim::Firmware fw;
        fw.field().place(vrsim::UltralightCard::make(true, {0x04, 1, 2, 3, 4, 5, 6}, 0x0044, 0x00, nullptr));
        const Bytes protocol_a = answer_item(fw, 0x0108, {'A'});
        const Bytes request = answer_item(fw, 0x0701, {0x26});
        const Bytes anticoll = answer_item(fw, 0x0702, {});
        auto op = [](uint8_t kind, uint8_t page = 0, uint16_t address = 0, uint16_t length = 0) {
            return Bytes{kind, page, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF),
                         static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)};
        };
        write("ultralight_reply", "query", cat({{0, 0}, op(0), protocol_a, request, anticoll}));
        write("ultralight_reply", "read_page", cat({{0, 0}, op(1, 4), answer_item(fw, 0x0705, {4})}));
        write("ultralight_reply", "readdata", cat({{0, 1}, op(2, 0, 16, 32), op(3, 0, 40, 8), answer_item(fw, 0x070C, {0, 16, 0, 32}),
                                                   answer_item(fw, 0x0714, {0, 40, 0, 8})}));
        write("ultralight_reply", "auth_and_chpw", cat({{0, 1}, op(5, 1), op(6), ok, ok}));
        write("ultralight_reply", "ulc_getuid_ctrl_halt", cat({{0, 0}, op(8, 0x30), anticoll, ok, ok}));
        vrsim::Firmware id;
        id.field().place(vrsim::IdentityCard::make({1, 2, 3, 4, 5, 6, 7, 8}, nullptr));
        const Bytes b = answer_item(id, 0x0108, {'B'});
        write("ultralight_reply", "identity_query", cat({{0, 0}, op(7), b, ok, ok, answer_item(id, 0x0301, {0x52})}));
    }
    {
        auto ul = vrsim::UltralightCard::make(false, {0x04, 1, 2, 3, 4, 5, 6}, 0x0044, 0x00, nullptr);
        write("card_files", "ultralight_bin", cat({{0}, ul->memory()}));
        vrdump::UlImage image = vrdump::UlImage::empty(vrdump::UlKind::ultralight_c);
        for (int p = 0; p < 44; ++p) image.readable[static_cast<size_t>(p)] = 1;
        image.uid = {0x04, 1, 2, 3, 4, 5, 6};
        std::vector<uint8_t> json;
        if (vrdump::encode_ultralight(vrdump::UlFormat::json, image, json)) write("card_files", "ultralight_c_json", cat({{1}, json}));
        write("card_files", "id_text", cat({{2}, vrsim::IdentityCard::make({1, 2, 3, 4, 5, 6, 7, 8}, nullptr)->records().text}));
    }
}

// The bank card's answers as the reader model gives them: the payment
// environment, its directory, the application, processing options in both
// formats, the records the AFL names, GET DATA and the cryptograms; the
// issuer's side for the purchase end.
struct BankAnswers {
    Bytes pse, directory, application, gpo, records, get_data, arqc, ext_auth, tc, script_ok;
    Bytes info_select, info_records, balance;
};

BankAnswers bank_answers(int format) {
    vrsim::Firmware fw;
    auto card = vrsim::BankCard::make({0x62, 0x01, 0x02, 0x03}, nullptr);
    card->set_gpo_format(format);
    fw.field().place(card);
    answer_item(fw, 0x0210, {0x52});
    auto apdu = [&](const Bytes &command) { return answer_item(fw, 0x0211, command); };
    BankAnswers a;
    a.pse = apdu(cat({{0x00, 0xA4, 0x04, 0x00, 0x0E}, text("1PAY.SYS.DDF01")}));
    a.directory = apdu({0x00, 0xB2, 0x01, 0x0C, 0x00});
    a.application = apdu({0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01, 0x01});
    a.gpo = apdu(cat({{0x80, 0xA8, 0x00, 0x00, 0x23, 0x83, 0x21}, Bytes(33, 0)}));
    a.records = cat({apdu({0x00, 0xB2, 0x01, 0x0C, 0x00}), apdu({0x00, 0xB2, 0x02, 0x0C, 0x00}),
                     apdu({0x00, 0xB2, 0x03, 0x0C, 0x00}), apdu({0x00, 0xB2, 0x01, 0x14, 0x00})});
    a.get_data = cat({apdu({0x80, 0xCA, 0x9F, 0x36, 0x00}), apdu({0x80, 0xCA, 0x9F, 0x17, 0x00}),
                      apdu({0x80, 0xCA, 0x9F, 0x13, 0x00}), apdu({0x80, 0xCA, 0x9F, 0x4F, 0x00})});
    a.arqc = apdu(cat({{0x80, 0xAE, 0x80, 0x00, 0x34}, Bytes(52, 0)}));
    a.ext_auth = apdu(cat({{0x00, 0x82, 0x00, 0x00, 0x0A}, card->issuer_authentication(text("00")).value_or(Bytes{})}));
    a.tc = apdu(cat({{0x80, 0xAE, 0x80, 0x00, 0x1F}, text("00"), Bytes(29, 0)}));
    a.script_ok = apdu(card->script_command(Bytes{0x84, 0x24, 0x00, 0x00, 0x00}).value_or(Bytes{}));
    a.info_select = apdu({0x00, 0xA4, 0x04, 0x00, 0x07, 0xA0, 0x00, 0x00, 0x03, 0x33, 0x01, 0x01});
    a.info_records = cat({apdu({0x00, 0xB2, 0x01, 0x0C, 0x00}), apdu({0x00, 0xB2, 0x02, 0x0C, 0x00}),
                          apdu({0x00, 0xB2, 0x03, 0x0C, 0x00}), apdu({0x00, 0xB2, 0x04, 0x0C, 0x00})});
    a.balance = apdu({0x80, 0xCA, 0x9F, 0x79, 0x09});
    return a;
}

void bank_seeds() {
    for (int format : {2, 1}) {
        const BankAnswers a = bank_answers(format);
        const std::string f = format == 2 ? "_format2" : "_format1";
        const Bytes selection = cat({a.pse, a.directory, a.application});
        const Bytes start = cat({selection, a.gpo, a.records, a.arqc});
        write("emv_read", "info_walk_records" + f, cat({{0x00}, a.gpo, a.records, a.get_data}));
        write("emv_read", "purchase_reading" + f, cat({{0x30}, a.gpo, a.records, a.arqc}));
        write("emv_read", "purchase_start" + f, cat({{0x02}, start}));
        write("emv_read", "purchase_start_control" + f, cat({{0x42}, start}));
        write("emv_read", "info_walk" + f, cat({{0x03}, selection, a.gpo, a.records, a.get_data}));
        write("emv_read", "two_starts" + f, cat({{0x04}, start, start}));
        if (format == 2) write("emv_read", "selection", cat({{0x01}, selection}));

        // The end: config, issuer answer (length low, high), card answers.
        auto end_seed = [&](const std::string &name, uint8_t config, const Bytes &issuer, const Bytes &answers) {
            const uint16_t n = static_cast<uint16_t>(issuer.size());
            write("emv_purchase_end", name + f,
                  cat({{config, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)}, issuer, answers}));
        };
        const Bytes auth = cat({{0x91, 0x0A}, Bytes(8, 0x11), text("00")});
        const Bytes arc = cat({{0x8A, 0x02}, text("00")});
        const Bytes script = {0x72, 0x15, 0x9F, 0x18, 0x04, 0x11, 0x22, 0x33, 0x44, 0x86, 0x09, 0x84, 0x24, 0x00, 0x00,
                              0x04, 0xA1, 0xA2, 0xA3, 0xA4, 0x86, 0x05, 0x84, 0x1E, 0x00, 0x00, 0x00};
        end_seed("response_code_only", 0x01, arc, a.tc);
        end_seed("authentication", 0x01, cat({auth, arc}), cat({a.ext_auth, a.tc}));
        end_seed("scripts", 0x01, cat({auth, arc, script}), cat({a.ext_auth, a.tc, a.script_ok, a.script_ok}));
        end_seed("scripts_control", 0x81, cat({arc, script}), cat({a.tc, a.script_ok, item(0, {0x69, 0x88})}));
        end_seed("script_71", 0x00, cat({auth, {0x71, 0x03, 0x86, 0x01, 0x00}}), a.ext_auth);
        end_seed("no_cdol2", 0x00, arc, a.tc);
        end_seed("cdol2_too_long", 0x02, arc, a.tc);

        if (format == 2) {
            write("pboc_info", "reading", cat({{0x00}, a.info_select, a.info_records, a.balance}));
            write("pboc_info", "reading_item_9", cat({{0x12}, a.info_select, a.info_records, a.balance}));
            write("pboc_info", "item_11", cat({{0x16}, a.info_select, a.info_records, a.balance}));
        }
    }
    const std::string record = "70415711622999000012345" "9D30122201234567890" "5F201056414E54454C2F5445535420434152449F6114393930303031323030303031303130303131"
                               "20209F620100";
    write("pboc_info", "record_text", cat({{0x01}, text(record)}));
    write("pboc_info", "long_length_text", cat({{0x01}, text("5F20818041414141" + std::string(248, '4'))}));
    write("pboc_info", "nested_text", cat({{0x01}, text("7009700770055F2002414220")}));
}

// Dump files of each form and size as the tool writes them, with an
// unreadable block and a hidden key B; key files of both forms. The first
// byte picks the reader: 0 binary, 1 eml, 2 json, 3 key file.
void dumpfile_seeds() {
    for (const auto kind : {vrdump::Kind::classic_mini, vrdump::Kind::classic_1k, vrdump::Kind::classic_4k}) {
        vrdump::CardImage image = vrdump::CardImage::empty(kind);
        image.uid = {0x11, 0x22, 0x33, 0x44};
        image.sak = kind == vrdump::Kind::classic_4k ? 0x18 : kind == vrdump::Kind::classic_1k ? 0x08 : 0x09;
        image.atqa = {kind == vrdump::Kind::classic_4k ? uint8_t{0x02} : uint8_t{0x04}, 0x00};
        for (std::size_t b = 0; b < image.blocks.size(); ++b) {
            image.readable[b] = 1;
            image.blocks[b].fill(static_cast<uint8_t>(b));
            if (vrdump::is_trailer(static_cast<int>(b))) image.blocks[b] = {0, 0, 0, 0, 0, 0, 0xFF, 0x07, 0x80, 0x69};
        }
        image.blocks[0] = {0x11, 0x22, 0x33, 0x44, 0x44, image.sak, image.atqa[0], 0};
        for (auto &keys : image.keys) keys = {vrdump::Key{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, vrdump::Key{}};
        const std::string size = kind == vrdump::Kind::classic_mini ? "mini"
                                 : kind == vrdump::Kind::classic_1k ? "1k"
                                                                    : "4k";
        const std::vector<std::pair<vrdump::Format, const char *>> forms = {
            {vrdump::Format::binary, "mfd"}, {vrdump::Format::eml, "eml"}, {vrdump::Format::json, "json"}};
        for (const auto &[format, name] : forms) {
            vrdump::CardImage written = image;
            if (format != vrdump::Format::binary) written.readable[5] = 0;
            Bytes bytes;
            (void)vrdump::encode(format, written, bytes);
            write("dumpfile", std::string(name) + "_" + size, cat({{static_cast<uint8_t>(format)}, bytes}));
        }
        Bytes keys{3};
        for (int half = 0; half < 2; ++half)
            for (int s = 0; s < vrdump::sector_count(kind); ++s) keys.insert(keys.end(), 6, half ? 0xB0 : 0xA0);
        write("dumpfile", "keys_" + size, keys);
    }
    write("dumpfile", "dictionary",
          cat({{3}, text("# default keys\nFFFFFFFFFFFF\r\na0a1a2a3a4a5  # MAD\n\nD3F7D3F7D3F7\n")}));
}

// For each USB attachment: a request frame to cut into reports, then
// reports as the reader sends them, a short reply in one report and a long
// one in several (the count of bytes sent in front of each).
void usb_seeds() {
    for (int config = 0; config < 4; ++config) {
        const auto kind = static_cast<vrsim::UsbKind>(config);
        const int protocol = kind == vrsim::UsbKind::pdiusbd12 ? 6 : 3;
        const bool packets = kind == vrsim::UsbKind::ch9326;
        const std::string name = vrsim::usb_identity(kind).name;
        vrsim::UsbReports reports(kind);
        const Bytes request = vrsim::encode_host_frame(protocol, vrsim::request_body(protocol, 0x0F02, Bytes(100, 7)));
        Bytes input{static_cast<uint8_t>(config | (packets ? 4 : 0)), static_cast<uint8_t>(request.size()), 0};
        input.insert(input.end(), request.begin(), request.end());
        for (const Bytes &data : {Bytes{0x01}, Bytes(120, 0x5A)}) {
            for (const Bytes &r : reports.to_host(reply(protocol, 0, data))) {
                input.push_back(static_cast<uint8_t>(r.size() + (packets ? 1 : 0)));
                if (packets) input.push_back(static_cast<uint8_t>(r.size()));
                input.insert(input.end(), r.begin(), r.end());
            }
        }
        write("usb_reports", name, input);
    }
}

}  // namespace

// Texts from cards and readers on their way into Java: well-formed UTF-8 of
// each sequence length, and the malformed kinds (a stray continuation, an
// overlong form, an encoded surrogate, a code point past U+10FFFF, a cut
// sequence).
void java_text_seeds() {
    write("java_text", "ascii", text("VR1356-S vantel-sim 1.0.0"));
    write("java_text", "chinese", text("\xe8\xaf\xbb\xe5\x8d\xa1\xe5\xa4\xb1\xe8\xb4\xa5"));
    write("java_text", "four_bytes", text("card \xf0\x9f\x98\x80"));
    write("java_text", "malformed",
          Bytes{0x61, 0x80, 0xC0, 0xAF, 0xED, 0xA0, 0x80, 0xF4, 0x90, 0x80, 0x80, 0xE4, 0xB8});
}

// The reader driver's commands (pcsc/): a configuration byte (bit 0 an
// Ultralight instead of a Classic 1K, bit 1 a failed link), commands of a
// length byte and the bytes, then an answer to select, a type B card's
// request answer or a device name (a serial path with options, a USB name).
void pcsc_seeds() {
    const auto commands = [](uint8_t config, std::initializer_list<Bytes> list, const Bytes &rest) {
        Bytes out{config};
        for (const Bytes &c : list) {
            out.push_back(static_cast<uint8_t>(c.size()));
            out.insert(out.end(), c.begin(), c.end());
        }
        return cat({out, rest});
    };
    const Bytes load{0xFF, 0x82, 0x00, 0x00, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const Bytes auth{0xFF, 0x86, 0x00, 0x00, 0x05, 0x01, 0x00, 0x04, 0x60, 0x00};
    const Bytes read{0xFF, 0xB0, 0x00, 0x04, 0x10};
    const Bytes update = cat({{0xFF, 0xD6, 0x00, 0x05, 0x10}, Bytes(16, 0x5A)});
    const Bytes end{0xFF};  // a length past the end: the commands stop there
    write("pcsc_apdu", "classic_session", commands(0, {load, auth, read, update, {0xFF, 0xCA, 0x00, 0x00, 0x00}}, end));
    write("pcsc_apdu", "classic_link_down", commands(2, {load, auth, read}, end));
    write("pcsc_apdu", "ultralight_pages",
          commands(1, {{0xFF, 0xB0, 0x00, 0x0E, 0x10}, {0xFF, 0xD6, 0x00, 0x04, 0x04, 1, 2, 3, 4}}, end));
    write("pcsc_apdu", "malformed_lengths",
          commands(0, {{0xFF, 0xD6, 0x00, 0x04, 0x00, 0x00, 0x01}, {0xFF, 0xCA}, {0xFF, 0xB0, 0x00, 0x04, 0x05, 1}}, end));
    write("pcsc_apdu", "ats_with_interface_bytes", commands(0, {}, {0x0A, 0x78, 0x80, 0x70, 0x02, 'V', 'R', 'C', 'P', 'U'}));
    // PUPI, application data, protocol info, the reader's own byte.
    write("pcsc_apdu", "type_b_answer",
          commands(0, {}, cat({end, {0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0x00, 0x81, 0x70, 0x00}})));
    write("pcsc_apdu", "usb_device_name", commands(0, {}, cat({end, text("usb:1a86/e010:libudev:0:/dev/bus/usb/001/002")})));
    write("pcsc_apdu", "device_name", commands(0, {}, text("/dev/ttyUSB0:family=2,timeout=500,log=1")));
}

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus directory>\n");
        return 2;
    }
    g_root = argv[1];
    frame_seeds();
    exchange_seeds();
    direct_reply_seeds();
    card_seeds();
    ctrl_seeds();
    crypto_seeds();
    reading_seeds();
    tlv_seeds();
    ir_seeds();
    modem_seeds();
    iso_card_seeds();
    bank_seeds();
    java_text_seeds();
    dumpfile_seeds();
    usb_seeds();
    pcsc_seeds();
    return 0;
}
