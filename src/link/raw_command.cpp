// The raw reader-command pass-through: a whole command in a caller's
// buffer, its reply back in the same buffer; and the forms the control
// codes give it (length-prefixed, hexadecimal text, bytes behind a command
// code, batches of items).
#include "link/raw_command.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "audio.h"
#include "core/c_memory.h"
#include "core/errors.h"
#include "log.h"
#include "pboc_text.h"
#include "virt_com.h"

namespace {

constexpr int kRawTimeoutMs = 10000;

// Work buffers hold a whole reader command or reply: the largest reply
// (4097 bytes) plus the two header bytes, so no reply can overrun them.
constexpr int kWorkSize = 2 + VIRT_COM_RSP_MAX + 1;

using Work = vr::CMemory<unsigned char>;

Work new_work() { return Work(static_cast<unsigned char *>(std::calloc(1, kWorkSize))); }

void put_header(unsigned char *work, uint16_t code) {
    work[0] = static_cast<unsigned char>(code & 0xFF);
    work[1] = static_cast<unsigned char>(code >> 8);
}

// Encodes bytes as hexadecimal into the caller's text; false when the text
// cannot be made.
bool write_hex(const unsigned char *bytes, int n, char *out) {
    vr::CMemory<char> text(pboc_data2str(bytes, n));
    if (!text || !out) return false;
    std::memcpy(out, text.get(), static_cast<std::size_t>(n) * 2 + 1);
    return true;
}

// Runs the raw pass-through on a work buffer holding len command bytes;
// the reply's length, or -1.
int run_raw(unsigned char *work, int len) {
    int n = len;
    if (audio_raw_cmd(work, &n) != 0) return -1;
    return n;
}

}  // namespace

VR_API int audio_raw_cmd(unsigned char *cmd, int *len) {
    if (!cmd || !len) return vr::fail(vr::kEArg);
    if (*len >= VIRT_COM_RSP_MAX) {
        *len = 0;
        return vr::fail(vr::kEFormat);
    }
    if (*len < 2) return vr::fail(vr::kEArg);
    virt_com_req req;
    virt_com_rsp rsp;
    req.cmd = static_cast<uint16_t>(cmd[0] | cmd[1] << 8);
    req.len = *len - 2;
    std::memcpy(req.data, cmd + 2, static_cast<std::size_t>(req.len));
    rsp.len = 0;
    int rc = virt_com_command(&req, &rsp, kRawTimeoutMs);
    if (rc != 0) return rc < -1 ? vr::fail(rc) : -1;
    std::memcpy(cmd, rsp.data, static_cast<std::size_t>(rsp.len));
    *len = rsp.len;
    return 0;
}

namespace vr::link {

int raw_length_prefixed(unsigned char *buffer) {
    if (!buffer) return vr::kEArg;
    int n = buffer[0] << 8 | buffer[1];
    if (audio_raw_cmd(buffer + 2, &n) != 0) {
        log_print(1, "picc_ctrl_ex err");
        return -1;
    }
    buffer[0] = static_cast<unsigned char>(n >> 8);
    buffer[1] = static_cast<unsigned char>(n & 0xFF);
    return 0;
}

int hex_command(const char *text, char *out, int *length, int header, int encode_failure) {
    if (!text || !out || !length) return vr::kEArg;
    Work work = new_work();
    if (!work) return vr::kENoMem;
    const int at = header != kNoHeader ? 2 : 0;
    if (header != kNoHeader) put_header(work.get(), static_cast<uint16_t>(header));
    if (pboc_str2data(text, work.get() + at, kWorkSize - at - 1) != 0) return vr::kEGeneral;
    const int n = run_raw(work.get(), static_cast<int>(std::strlen(text) / 2) + at);
    if (n < 0) return vr::result_or_code(-1);
    if (!write_hex(work.get(), n, out)) return encode_failure;
    *length = 2 * n;
    return 0;
}

int byte_command(const unsigned char *in, unsigned char *out, int *length, int header) {
    if (!in || !out || !length) return vr::kEArg;
    const int at = header != kNoHeader ? 2 : 0;
    if (*length < 0 || *length > kWorkSize - at - 1) return vr::kEArg;
    Work work = new_work();
    if (!work) return vr::kENoMem;
    if (header != kNoHeader) put_header(work.get(), static_cast<uint16_t>(header));
    std::memcpy(work.get() + at, in, static_cast<std::size_t>(*length));
    const int n = run_raw(work.get(), *length + at);
    if (n < 0) return vr::result_or_code(-1);
    std::memcpy(out, work.get(), static_cast<std::size_t>(n));
    *length = n;
    return 0;
}

int batch_hex(uint16_t header, const char *text, char *out, int *length) {
    if (!text || !out || !length) return vr::kEArg;
    Work work = new_work();
    vr::CMemory<char> copy(strdup(text));
    if (!work || !copy) return vr::kENoMem;
    unsigned char *w = work.get();
    put_header(w, header);
    int at = 2;
    char *save = nullptr;
    for (char *item = strtok_r(copy.get(), ",", &save); item; item = strtok_r(nullptr, ",", &save)) {
        const int bytes = static_cast<int>(std::strlen(item) / 2);
        if (at + 2 + bytes > kWorkSize - 1) return vr::kEGeneral;
        w[at] = static_cast<unsigned char>(bytes >> 8);
        w[at + 1] = static_cast<unsigned char>(bytes & 0xFF);
        if (pboc_str2data(item, w + at + 2, kWorkSize - at - 3) != 0) return vr::kEGeneral;
        at += 2 + bytes;
    }
    const int n = run_raw(w, at);
    if (n < 0) return vr::result_or_code(-1);
    std::string joined;
    for (int i = 0; i + 2 <= n;) {
        const int len = w[i] << 8 | w[i + 1];
        if (i + 2 + len > n) return vr::kEGeneral;
        vr::CMemory<char> hex(pboc_data2str(w + i + 2, len));
        if (!hex) return vr::kEGeneral;
        joined += hex.get();
        joined += ',';
        i += 2 + len;
    }
    if (!joined.empty()) joined.pop_back();
    std::memcpy(out, joined.c_str(), joined.size() + 1);
    *length = static_cast<int>(joined.size() + 1);
    return 0;
}

}  // namespace vr::link
