#include "scripted_device.h"

#include "frame.h"
#include "tessil.h"
#include "virt_com.h"

namespace vrtest {
namespace {

ScriptedDevice *g_device = nullptr;

int dev_open() { return 0; }
int dev_close() { return 0; }
int dev_flush(int) { return 0; }
int dev_drain() { return 0; }
int dev_ioctl(int, void *) { return 0; }

// Like the serial driver: all requested bytes, or -1 when they are not
// there (the driver's byte time-out).
int dev_read(uint8_t *buf, int n) {
    ScriptedDevice &d = *g_device;
    ++d.reads;
    if (static_cast<int>(d.input_.size()) < n) {
        d.input_.clear();
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        buf[i] = d.input_.front();
        d.input_.pop_front();
    }
    return n;
}

int dev_write(const uint8_t *buf, int n) {
    g_device->written_.insert(g_device->written_.end(), buf, buf + n);
    return n;
}

}  // namespace

ScriptedDevice &ScriptedDevice::install(int protocol, int timeout_ms) {
    static ScriptedDevice device;
    device = ScriptedDevice{};
    g_device = &device;
    tessil.s_com.ops = vr_dev_ops{dev_open, dev_close, dev_flush, dev_drain, dev_ioctl, dev_read, dev_write};
    tessil.s_com.protocol = static_cast<int8_t>(protocol);
    tessil.s_com.timeout = timeout_ms;
    virt_com_setstat(VIRT_COM_OPEN);
    return device;
}

ScriptedDevice &ScriptedDevice::get() { return *g_device; }

void ScriptedDevice::feed(const std::vector<uint8_t> &bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }

// The simulator's reply encoder: its checksums are its own, so a fault in
// the library's cannot hide behind frames made with the same code.
std::vector<uint8_t> p3_reply(const std::vector<uint8_t> &body, uint8_t head) {
    return vrsim::encode_reply_frame(3, body.at(0), vrsim::ByteView(body).subspan(1), 0, head == 0x42);
}

std::vector<uint8_t> p6_reply(uint8_t status, const std::vector<uint8_t> &data) {
    return vrsim::encode_reply_frame(6, status, data);
}

}  // namespace vrtest
