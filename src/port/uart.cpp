// Serial link driver: a terminal device in raw mode. Fills the seven slots
// of the device operation table; the portable names forward to the
// terminal implementations.
#include "uart.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "log.h"
#include "port/port.h"
#include "sys.h"
#include "tessil.h"

static_assert(CLOCAL == 0x800 && CBAUD == 0x100F && CSIZE == 0x30 && PARENB == 0x100 &&
                  CSTOPB == 0x40 && CRTSCTS == 0x80000000u,
              "terminal control-word bits as the driver expects them");

namespace {

// The driver's operation table, at the end of this file.
extern const vr_dev_ops kUartOps;

uart_attrib &attrib() { return tessil.s_com.attrib.uart; }

struct BaudCode {
    unsigned rate;
    tcflag_t code;
};
constexpr BaudCode kBauds[] = {
    {50, B50},       {75, B75},       {110, B110},     {150, B150},       {300, B300},
    {600, B600},     {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};
static_assert(B57600 == 0x1001 && B115200 == 0x1002 && B9600 == 0xD, "speed codes");

constexpr tcflag_t kSoftwareFlow = IXON | IXOFF;   // 0x1400
constexpr tcflag_t kSoftwareMask = IXON | IXOFF | IXANY;  // 0x1C00
constexpr int kReadWaitUs = 100000;
constexpr int kWriteWaitMs = 1000;
constexpr int kTrickleBatch = 4;  // fewest bytes worth a sleep on a slow line

int read_settings(struct termios *tio) {
    if (tcgetattr(tessil.s_com.fd, tio) != 0) return vr::fail(vr::kERespond);
    return 0;
}

int write_settings(const struct termios *tio) {
    if (tcsetattr(tessil.s_com.fd, TCSANOW, tio) != 0) return vr::fail(vr::kERespond);
    return 0;
}

// Reads the device settings, lets change() alter its own bits and writes
// them back. change() returns false for a value the tables refuse.
template <typename Change>
int change_settings(Change change) {
    struct termios tio {};
    if (read_settings(&tio) != 0) return -1;
    if (!change(tio)) return vr::fail(vr::kEArg);
    return write_settings(&tio);
}

int int_argument(void *argument, int *value) {
    if (!argument) return vr::fail(vr::kEArg);
    std::memcpy(value, argument, sizeof *value);
    return 0;
}

void log_settings(const char *path, const struct termios &tio) {
    log_print(2, "%s lflag:0x%x c_iflag:0x%x c_oflag:0x%x c_cflag:0x%x", path,
              static_cast<unsigned>(tio.c_lflag), static_cast<unsigned>(tio.c_iflag),
              static_cast<unsigned>(tio.c_oflag), static_cast<unsigned>(tio.c_cflag));
}

// Once a frame is coming in, the bytes still missing cannot arrive sooner
// than their wire time at the line's rate: one sleep that long (never
// shorter than a few bytes, never longer than the read's silence limit)
// replaces a wake-up per byte, so the CPU a read costs does not grow with
// its length.
void wait_for_wire(int missing) {
    const uint32_t baud = tessil.s_com.attrib.uart.baud;
    if (baud == 0) return;
    const int bytes = std::max(missing, kTrickleBatch);
    const uint64_t us = static_cast<uint64_t>(bytes) * 10u * 1000000u / baud;
    sys_delay_nus(static_cast<unsigned>(std::min<uint64_t>(us, kReadWaitUs)));
}

// Hands out up to n read-ahead bytes; the count.
int take_read_ahead(uint8_t *out, int n) {
    uart_attrib &a = attrib();
    const int have = a.rx_end - a.rx_start;
    const int k = have < n ? have : n;
    std::memcpy(out, a.rx + a.rx_start, static_cast<std::size_t>(k));
    a.rx_start = static_cast<uint16_t>(a.rx_start + k);
    if (a.rx_start == a.rx_end) a.rx_start = a.rx_end = 0;
    return k;
}

// Reads whatever the device holds into the (empty) read-ahead buffer: the
// count, 0 when nothing came after all, -1 on a read error or hang-up.
// Bytes that did not fill the buffer are all the device had: the rest of
// their frame is still on the wire (rx_trickle).
int refill_read_ahead() {
    uart_attrib &a = attrib();
    ssize_t n = ::read(tessil.s_com.fd, a.rx, sizeof a.rx);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        a.rx_trickle = 0;
        return 0;
    }
    if (n <= 0) return -1;
    a.rx_start = 0;
    a.rx_end = static_cast<uint16_t>(n);
    a.rx_trickle = static_cast<std::size_t>(n) < sizeof a.rx ? 1 : 0;
    return static_cast<int>(n);
}

void drop_read_ahead() {
    uart_attrib &a = attrib();
    a.rx_start = a.rx_end = 0;
    a.rx_trickle = 0;
}

// Waits until the descriptor can take more output; false on time-out.
bool wait_writable(int fd) {
    struct pollfd p {fd, POLLOUT, 0};
    return poll(&p, 1, kWriteWaitMs) > 0 && (p.revents & POLLOUT);
}

}  // namespace

VR_API int baud_bitmask(unsigned int rate) {
    for (const BaudCode &b : kBauds)
        if (b.rate == rate) return static_cast<int>(b.code);
    return -1;
}

VR_API int data_bitmask(int bits) {
    switch (bits) {
    case 5: return CS5;
    case 7: return CS7;
    case 8: return CS8;
    default: return -1;
    }
}

VR_API int stop_bitmask(int bits) { return bits == 2 ? CSTOPB : 0; }

VR_API int flsh_type(int kind) {
    switch (kind) {
    case 1: return TCIFLUSH;
    case 2: return TCOFLUSH;
    case 3: return TCIOFLUSH;
    default: return -1;
    }
}

VR_API int uart_io_wait(int microseconds) {
    // poll rather than select: select cannot watch descriptors above 1023.
    struct pollfd p {tessil.s_com.fd, POLLIN, 0};
    int r = poll(&p, 1, microseconds / 1000);
    return r > 0 ? 0 : -1;
}

VR_API int uart_init_android(int mode, va_list list) {
    (void)mode;
    va_list args;
    va_copy(args, list);
    (void)va_arg(args, void *);  // first argument: not used by the serial link
    const char *path = va_arg(args, const char *);
    va_end(args);

    vr::port::install_device(path, kUartOps);
    uart_attrib &a = attrib();
    a.baud = 115200;
    a.databits = 8;
    a.stopbits = 1;
    a.parity = 3;
    a.flow = 3;
    return 0;
}

VR_API int uart_open_android(void) {
    s_com_t &com = tessil.s_com;
    uart_attrib &a = attrib();
    a.tio.c_iflag = a.tio.c_oflag = a.tio.c_cflag = a.tio.c_lflag = 0;
    const char *path = com.dev_name ? com.dev_name : "";
    drop_read_ahead();
    int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        log_print(1, "open %s fail", path);
        return vr::fail(vr::kEOpen);
    }
    com.fd = fd;
    if (read_settings(&a.tio) != 0) log_print(1, "TCGETS %s fail", path);
    log_settings(path, a.tio);

    a.tio.c_iflag = 0;
    a.tio.c_oflag = 0;
    a.tio.c_lflag = 0;
    tcflag_t c = a.tio.c_cflag | CLOCAL;
    c = (c & ~static_cast<tcflag_t>(CBAUD)) | static_cast<tcflag_t>(baud_bitmask(a.baud) & CBAUD);
    c = (c & ~static_cast<tcflag_t>(CSIZE)) | static_cast<tcflag_t>(data_bitmask(a.databits) & CSIZE);
    c &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CRTSCTS);
    a.tio.c_cflag = c;
    if (tcsetattr(fd, TCSANOW, &a.tio) != 0) {
        log_print(1, "ioctl %s fail", path);
        ::close(fd);  // the port is not open: do not keep the descriptor
        com.fd = -1;
        return vr::fail(vr::kERespond);
    }
    if (read_settings(&a.tio) != 0) log_print(1, "TCGETS %s fail", path);
    log_print(2, "open %s success", path);
    return 0;
}

VR_API int uart_close_android(void) {
    int fd = tessil.s_com.fd;
    tessil.s_com.fd = -1;
    if (::close(fd) != 0) return vr::fail(vr::kEClose);
    return 0;
}

VR_API int uart_flush_android(int kind) {
    int selector = flsh_type(kind);
    if (selector < 0) return vr::fail(vr::kEArg);
    if (kind != 2) drop_read_ahead();
    if (tcflush(tessil.s_com.fd, selector) != 0) return vr::fail(vr::kERespond);
    return 0;
}

VR_API int uart_drain_android(void) { return vr::fail(vr::kENoCmd); }

VR_API int uart_read_android(uint8_t *buffer, int length) {
    if (!buffer || length < 0) return vr::fail(vr::kEArg);
    std::memset(buffer, 0xFF, static_cast<std::size_t>(length));
    int got = take_read_ahead(buffer, length);
    while (got < length) {
        // While a frame trickles in, sleep through the wire time of all
        // that is missing and read once; wait on the descriptor only for
        // the first byte, or when the line has gone quiet.
        int n = 0;
        if (attrib().rx_trickle) {
            wait_for_wire(length - got);
            n = refill_read_ahead();
        }
        if (n == 0) {
            if (uart_io_wait(kReadWaitUs) != 0) {
                log_print(2, "uart_io_wait fail");
                return -1;
            }
            n = refill_read_ahead();
        }
        // A readable descriptor that yields no byte has hung up.
        if (n < 0) {
            log_print(1, "uart read fail");
            return vr::fail(vr::kERecv);
        }
        got += take_read_ahead(buffer + got, length - got);
    }
    errno = 0;
    log_print(3, "<--");
    format_display(buffer, length, 1);
    return length;
}

VR_API int uart_write_android(const uint8_t *buffer, int length) {
    if (!buffer || length < 0) return vr::fail(vr::kEArg);
    int fd = tessil.s_com.fd;
    int sent = 0;
    // The descriptor is non-blocking: a frame larger than the kernel's
    // buffer goes out in parts as room frees up.
    while (sent < length) {
        ssize_t n = ::write(fd, buffer + sent, static_cast<std::size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && wait_writable(fd)) continue;
        return vr::fail(vr::kESend);
    }
    log_print(3, "-->");
    format_display(buffer, length, 1);
    return length;
}

VR_API int uart_ioctl_android(int command, void *argument) {
    uart_attrib &a = attrib();
    int value = 0;
    switch (command) {
    case UART_SET_BAUD:
        if (int_argument(argument, &value) != 0) return -1;
        return change_settings([&](struct termios &tio) {
            int code = baud_bitmask(static_cast<unsigned>(value));
            if (code < 0) return false;
            tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CBAUD)) | static_cast<tcflag_t>(code);
            a.baud = static_cast<uint32_t>(value);
            return true;
        });
    case UART_SET_DATABITS:
        if (int_argument(argument, &value) != 0) return -1;
        return change_settings([&](struct termios &tio) {
            int code = data_bitmask(value);
            if (code < 0) return false;
            tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | static_cast<tcflag_t>(code);
            a.databits = static_cast<uint8_t>(value);
            return true;
        });
    case UART_SET_STOPBITS:
        if (int_argument(argument, &value) != 0) return -1;
        return change_settings([&](struct termios &tio) {
            tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSTOPB)) |
                          static_cast<tcflag_t>(stop_bitmask(value));
            a.stopbits = value == 2 ? 2 : 1;
            return true;
        });
    case UART_SET_FLOW:
        if (int_argument(argument, &value) != 0) return -1;
        if (value < 1 || value > 3) return vr::kEArg;
        return change_settings([&](struct termios &tio) {
            tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
            tio.c_iflag &= ~kSoftwareMask;
            if (value == 2) tio.c_cflag |= CRTSCTS;
            if (value == 1) tio.c_iflag |= kSoftwareFlow;
            a.flow = static_cast<uint8_t>(value);
            return true;
        });
    case UART_GET_BAUD: return static_cast<int>(a.baud);
    case UART_GET_DATABITS: return a.databits;
    case UART_GET_STOPBITS: return a.stopbits;
    case UART_GET_FLOW: {
        struct termios tio {};
        if (read_settings(&tio) != 0) return -1;
        if (tio.c_cflag & CRTSCTS) return 2;
        return (tio.c_iflag & kSoftwareMask) == 0 ? 3 : 1;
    }
    default: return vr::fail(vr::kENoCmd);
    }
}

VR_API int uart_init(int mode, va_list list) {
    log_print(2, "uart_init");
    return uart_init_android(mode, list);
}
VR_API int uart_open(void) { return uart_open_android(); }
VR_API int uart_close(void) { return uart_close_android(); }
VR_API int uart_flush(int kind) { return uart_flush_android(kind); }
VR_API int uart_drain(void) { return uart_drain_android(); }
VR_API int uart_read(uint8_t *buffer, int length) { return uart_read_android(buffer, length); }
VR_API int uart_write(const uint8_t *buffer, int length) { return uart_write_android(buffer, length); }
VR_API int uart_ioctl(int command, void *argument) { return uart_ioctl_android(command, argument); }

namespace {

constexpr vr_dev_ops kUartOps = {
    .open = uart_open,
    .close = uart_close,
    .flush = uart_flush,
    .drain = uart_drain,
    .ioctl = uart_ioctl,
    .read = uart_read,
    .write = uart_write,
};

}  // namespace
