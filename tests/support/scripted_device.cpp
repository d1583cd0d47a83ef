#include "scripted_device.h"

#include <cstring>

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

std::vector<uint8_t> p3_reply(const std::vector<uint8_t> &body, uint8_t head) {
    std::vector<uint8_t> f{head, 0x02, static_cast<uint8_t>(body.size() & 0xFF),
                           static_cast<uint8_t>(body.size() >> 8)};
    f.insert(f.end(), body.begin(), body.end());
    uint16_t crc = CRC16(f.data() + 2, static_cast<int>(body.size() + 2));
    f.push_back(static_cast<uint8_t>(crc & 0xFF));
    f.push_back(static_cast<uint8_t>(crc >> 8));
    return f;
}

std::vector<uint8_t> p6_reply(uint8_t status, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> f{0x02};
    if (data.size() < 256) {
        f.insert(f.end(), {0x02, status, static_cast<uint8_t>(data.size())});
    } else {
        f.insert(f.end(), {0x42, status, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size() & 0xFF)});
    }
    f.insert(f.end(), data.begin(), data.end());
    uint8_t x = 0;
    for (std::size_t i = 1; i < f.size(); ++i) x ^= f[i];
    f.push_back(x);
    return f;
}

}  // namespace vrtest
