// The reader's side of link encryption. The session key is the latest
// eight random bytes the reader handed out (0x0F09 with n = 8); the link
// key is made from it exactly as the host makes it (crypto.h:
// com_alg_enc / com_alg_dec).
//
// Request body with head 0x42: cmd lo, cmd hi, plain length hi, lo, then
// whole 8-byte blocks of ciphertext. The host sends other raw bodies with
// the same head while encryption is on (its ping 02 0F 11 22 33); a body
// that is not 4 + 8k bytes (k at least 1) is such a plain one.
#include <algorithm>

#include "crypto.h"
#include "firmware.h"

namespace vrsim {
namespace {

constexpr size_t kBlock = 8;
constexpr size_t kLengthField = 2;  // plain length, high then low
constexpr uint8_t kPadMark = 0x80;

class SessionCipher final : public Firmware::LinkCipher {
public:
    Opened open_request(ByteView key, Request& rq, uint8_t& refusal) override {
        const size_t n = rq.data.size();
        if (n < kLengthField + kBlock || (n - kLengthField) % kBlock != 0) return Opened::plain;
        // No session key yet: the reader cannot read the command at all.
        if (key.size() < kBlock) {
            refusal = status::cmd_type;
            return Opened::refused;
        }
        const size_t plain = size_t{rq.data[0]} << 8 | rq.data[1];
        const size_t cipher = n - kLengthField;
        // The host pads to whole blocks and never sends a block too many.
        if (plain == 0 || plain > cipher || plain <= cipher - kBlock) {
            refusal = status::cmd_length;
            return Opened::refused;
        }
        Bytes body(rq.data.begin() + kLengthField, rq.data.end());
        uint32_t out = 0;
        if (com_alg_dec(body.data(), static_cast<uint32_t>(body.size()), key.data(), &out) != 0 ||
            !padding_intact(body, plain)) {
            refusal = status::cmd_type;  // garbage under this key
            return Opened::refused;
        }
        body.resize(plain);
        rq.data = std::move(body);
        return Opened::deciphered;
    }

    void seal_reply(ByteView key, Reply& reply) override {
        const size_t plain = reply.data.size();
        Bytes out{static_cast<uint8_t>(plain >> 8), static_cast<uint8_t>(plain & 0xFF)};
        if (plain > 0) {
            Bytes body = reply.data;
            body.resize(plain + kBlock - 1);  // room for the padding
            uint32_t sealed = 0;
            if (com_alg_enc(body.data(), static_cast<uint32_t>(plain), key.data(), &sealed) != 0) return;
            body.resize(sealed);
            out.insert(out.end(), body.begin(), body.end());
        }
        reply.data = std::move(out);
        reply.encrypted = true;
    }

private:
    // A plaintext shorter than its blocks ends in 0x80 and zeros; anything
    // else means the request was not made with this key.
    static bool padding_intact(const Bytes& body, size_t plain) {
        if (plain % kBlock == 0) return true;
        return body[plain] == kPadMark &&
               std::all_of(body.begin() + static_cast<long>(plain) + 1, body.end(),
                           [](uint8_t b) { return b == 0; });
    }
};

}  // namespace

std::shared_ptr<Firmware::LinkCipher> make_session_cipher() { return std::make_shared<SessionCipher>(); }

}  // namespace vrsim
