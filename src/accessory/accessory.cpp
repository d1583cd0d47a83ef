// The accessory's life cycle: connecting the link, opening (type check,
// record built, open operation), closing, the control codes, and the
// device commands every accessory answers.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "accessory.h"
#include "accessory/device.h"
#include "audio.h"
#include "core/errors.h"
#include "core/lock.h"
#include "link/link.h"
#include "modem/modem.h"
#include "pcd.h"
#include "picc.h"
#include "pm25.h"
#include "port/link_drivers.h"
#include "port/port.h"
#include "tessil.h"
#include "virt_com.h"

namespace {

using vr::ReaderCommand;
using vr::accessory::kGroupControl;
using vr::accessory::kGroupIdentity;
using vr::accessory::read_item;
using vr::port::Link;

// Identity items (group 3) and the power item of the control group.
constexpr uint8_t kItemType = 0x01;
constexpr uint8_t kItemVersion = 0x02;
constexpr uint8_t kItemUid = 0x03;
constexpr uint8_t kItemPower = 0x03;
constexpr uint8_t kPowerRestart = 0x02;
constexpr uint8_t kPowerHalt = 0x03;
constexpr uint8_t kPowerUltraLow = 0x04;

// A 16-bit identity item, low byte first.
int read_identity_word(uint8_t item) {
    ReaderCommand c(vr::accessory::kReadItem);
    const int rc = read_item(c, item, kGroupIdentity);
    if (rc < 0) return rc;
    if (c.reply().size() < 2) return vr::fail(vr::kEMsgWrong);
    return c.reply()[0] | c.reply()[1] << 8;
}

int write_power(uint8_t state) { return vr::accessory::write_item(kItemPower, kGroupControl, {state}); }

const char *next_text(va_list *args) { return args ? va_arg(*args, const char *) : nullptr; }

// The audio link: the handshake with uplink algorithm 0 first, then 2.
// (The card connect tries them the other way round; an accessory keeps
// its own order.)
int connect_sound() {
    vr::modem::set_uplink_alg(0);
    int rc = signal_try_communicate(0);
    if (virt_com_status() != VIRT_COM_OPEN) return -1;
    if (rc != 0) {
        vr::modem::set_uplink_alg(2);
        rc = signal_try_communicate(0);
        if (rc != 0) return -1;
    }
    return 0;
}

int open_port(const char *com, int p1, va_list *args) {
    const vr::port::LinkDriver *driver = vr::port::find_link_driver(com);
    const Link link = driver ? driver->link : Link::bluetooth;
    int rc;
    switch (link) {
    case Link::sound: return connect_sound();
    case Link::uart: {
        const char *first = next_text(args);
        rc = virt_com_open(com, p1, first, first, args);
        break;
    }
    case Link::usbhid:
    case Link::ch340g:
    case Link::ch9326:
    case Link::pdiusbd12: {
        // The USB drivers take the descriptor of a device the host opened
        // (-1: look the device up by its ids).
        const int fd = args ? va_arg(*args, int) : -1;
        rc = virt_com_open(com, p1, fd, fd, args);
        break;
    }
    default:
        // Bluetooth (any other name): the host carries the link; the two
        // further arguments are not read by its driver.
        rc = virt_com_open(com, p1, nullptr, nullptr);
        break;
    }
    return rc == 0 ? 0 : vr::fail(vr::kEOpen);
}

// Builds the record of a device of a known type and runs its open
// operation; null (errno set) after releasing what was built.
accessory *build_accessory() {
    auto *acc = static_cast<accessory *>(std::calloc(1, sizeof(accessory)));
    if (!acc) return errno = vr::kENoMem, nullptr;
    int rc = accessory_init(acc, ACCESSORY_TYPE_PM25);
    if (rc == 0 && acc->open) rc = acc->open(acc);
    if (rc < 0) {
        // The initialiser returns its code, the open operation -1 with errno.
        const int code = rc < -1 ? rc : errno;
        accessory_free(acc);
        std::free(acc);
        errno = code < 0 ? code : vr::kEGeneral;
        return nullptr;
    }
    return acc;
}

}  // namespace

VR_API int accessory_init(accessory *acc, int type) {
    if (!acc) return vr::kEArg;
    std::memset(acc, 0, sizeof *acc);
    if (type != ACCESSORY_TYPE_PM25) return vr::kEAccessoryType;
    return pm25_init(acc);
}

VR_API int accessory_connect(const char *com, int p1, uint8_t flag, va_list *args) {
    (void)flag;
    if (!com) return vr::kEArg;
    if (vr::port::connection_marked()) return 0;
    // The link drivers come with a reader family; an accessory opened
    // before any card has none yet.
    if (!vr::link::family_registered()) picc_regapi(VR_FAMILY_FIRST);
    if (virt_com_status() != VIRT_COM_OPEN && open_port(com, p1, args) != 0) return -1;
    vr::port::mark_connection();
    return 0;
}

VR_API accessory *accessory_open(const char *com, ...) {
    if (!com) return errno = vr::kEArg, nullptr;
    vr::MutexHold hold(&tessil.api_lock);
    va_list args;
    va_start(args, com);
    const int connected = accessory_connect(com, 0, 0, &args);
    va_end(args);
    if (connected != 0) return nullptr;
    const int type = get_accessory_type();
    if (type < 0) return nullptr;
    if (type != ACCESSORY_TYPE_PM25) return errno = vr::kEAccessoryType, nullptr;
    return build_accessory();
}

VR_API int accessory_close(accessory *acc, void *first, void *second) {
    if (!acc) return vr::kEArg;
    if (acc->close) acc->close(acc, first, second);
    accessory_free(acc);
    std::free(acc);
    return 0;
}

VR_API int accessory_ctrl_va(accessory *acc, int code, va_list args) {
    (void)acc;
    vr::MutexHold hold(&tessil.api_lock);
    switch (code) {
    case ACCESSORY_CTRL_CLOSE_LINK: return virt_com_close();
    case ACCESSORY_CTRL_POWER: return vr::result_or_code(do_pcd_get_power(nullptr));
    case ACCESSORY_CTRL_POWEROFF_DELAY: {
        const int delay = va_arg(args, int);
        if (delay < 0 || delay > 0xFF) return vr::kEArg;
        return vr::result_or_code(do_pcd_set_poweroff_delay(static_cast<uint8_t>(delay)));
    }
    default: return vr::kENoCmd;
    }
}

VR_API int accessory_ctrl(accessory *acc, int code, ...) {
    va_list args;
    va_start(args, code);
    const int rc = accessory_ctrl_va(acc, code, args);
    va_end(args);
    return rc;
}

// ---- device commands

VR_API int get_accessory_type(void) { return read_identity_word(kItemType); }
VR_API int get_accessory_version(void) { return read_identity_word(kItemVersion); }

VR_API int get_accessory_uid(uint8_t *buffer, int size) {
    if (!buffer || size < 0) return vr::fail(vr::kEArg);
    ReaderCommand c(vr::accessory::kReadItem);
    const int rc = read_item(c, kItemUid, kGroupIdentity);
    if (rc < 0) return rc;
    const auto reply = c.reply();
    if (reply.size() > static_cast<std::size_t>(size)) return vr::fail(vr::kEMsgWrong);
    std::memcpy(buffer, reply.data(), reply.size());
    return static_cast<int>(reply.size());
}

VR_API int accessory_restart(void) { return write_power(kPowerRestart); }
VR_API int accessory_halt(void) { return write_power(kPowerHalt); }
VR_API int accessory_ulp(void) { return write_power(kPowerUltraLow); }
