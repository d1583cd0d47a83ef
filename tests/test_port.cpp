// The virtual port and the serial driver over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <termios.h>

#include "bluetooth.h"
#include "pcd.h"
#include "picc.h"
#include "raw_pty.h"
#include "suart.h"
#include "tessil.h"
#include "uart.h"
#include "usbhid.h"
#include "virt_com.h"

namespace {

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { picc_regapi(VR_FAMILY_FIRST); }
    void TearDown() override { virt_com_close(); }
    int open_uart(const char *type = "uart") { return virt_com_open(type, 0, nullptr, pty.path().c_str()); }
    vrtest::RawPty pty;
};

int init_type(const char *type, ...) {
    va_list list;
    va_start(list, type);
    int rc = virt_com_init(type, 0, list);
    va_end(list);
    return rc;
}

TEST_F(PortTest, OpensByNameIgnoringCaseAndOnlyOnce) {
    ASSERT_EQ(open_uart("UART"), 0);
    EXPECT_EQ(virt_com_status(), VIRT_COM_OPEN);
    EXPECT_STREQ(tessil.s_com.com_type, "UART");
    EXPECT_STREQ(tessil.s_com.version, "1.0.0");
    EXPECT_STREQ(tessil.s_com.dev_name, pty.path().c_str());
    EXPECT_EQ(tessil.s_com.timeout, 3000);
    const int fd = tessil.s_com.fd;
    // A second open while open does nothing and succeeds.
    EXPECT_EQ(virt_com_open("uart", 0, nullptr, "/nonexistent"), 0);
    EXPECT_EQ(tessil.s_com.fd, fd);
    EXPECT_EQ(virt_com_close(), 0);
    EXPECT_EQ(virt_com_status(), VIRT_COM_CLOSED);
    EXPECT_EQ(tessil.s_com.com_type, nullptr);
    EXPECT_EQ(virt_com_close(), 0) << "closing a closed port does nothing";
}

TEST_F(PortTest, UnknownTypesAndMissingDevicesFailToOpen) {
    // "bluetooth" has no host here: no Java VM carries the link.
    for (const char *type : {"dc_usb", "serial", "", "sound", "bluetooth"}) {
        errno = 0;
        EXPECT_EQ(virt_com_open(type, 0, nullptr, pty.path().c_str()), -1) << type;
        EXPECT_EQ(errno, -10);
        EXPECT_EQ(tessil.s_com.com_type, nullptr) << "texts released after a failed open";
    }
    errno = 0;
    EXPECT_EQ(virt_com_open("uart", 0, nullptr, "/nonexistent/tty"), -1);
    EXPECT_EQ(errno, -10);
    EXPECT_EQ(virt_com_status(), VIRT_COM_CLOSED);
    EXPECT_EQ(tessil.s_com.com_type, nullptr);
}

TEST_F(PortTest, DriverChoiceAndDefaultTimeouts) {
    // The Bluetooth link is carried by the Java host object.
    EXPECT_EQ(init_type("bluetooth"), 0);
    EXPECT_EQ(tessil.s_com.timeout, 300);
    EXPECT_EQ(tessil.s_com.ops.read, bluetooth_read);
    EXPECT_EQ(init_type("Uart_whatever", nullptr, pty.path().c_str()), 0);
    EXPECT_EQ(tessil.s_com.ops.read, uart_read);
    // The USB names share one driver and name their device; "usb" alone
    // is the HID reader. The init takes the descriptor (-1: none).
    const struct {
        const char *type, *device;
    } usb[] = {{"usbhid", "usb hid device"},
               {"USB", "usb hid device"},
               {"ch340g", "usb adapter ch340g"},
               {"ch9326", "usb hid adapter ch9326"},
               {"pdiusbd12", "usb hid adapter pdiusbd12"}};
    for (const auto &u : usb) {
        EXPECT_EQ(init_type(u.type, 7), 0) << u.type;
        EXPECT_EQ(tessil.s_com.timeout, 3000);
        EXPECT_STREQ(tessil.s_com.dev_name, u.device);
        EXPECT_EQ(tessil.s_com.ops.read, usbhid_read);
        EXPECT_EQ(tessil.s_com.attrib.usb.fd, 7);
    }
}

TEST_F(PortTest, OperationsOnAClosedPortFail) {
    uint8_t b[4];
    errno = 0;
    EXPECT_EQ(virt_com_read(b, 1), -1);
    EXPECT_EQ(errno, -10);
    EXPECT_EQ(virt_com_write(b, 1), -1);
    EXPECT_EQ(virt_com_flush(3), -1);
    EXPECT_EQ(virt_com_ioctl(UART_GET_BAUD, nullptr), -1);
    EXPECT_EQ(errno, -10);
}

TEST_F(PortTest, SerialWriteDoesNotDependOnTheAudioPlayback) {
    ASSERT_EQ(open_uart(), 0);
    ASSERT_EQ(suart_get_trackstat(), 0);
    const uint8_t out[3] = {1, 2, 3};
    EXPECT_EQ(virt_com_write(out, 3), 3);
    uint8_t in[3];
    ASSERT_EQ(read(pty.master(), in, 3), 3);
    EXPECT_EQ(in[2], 3);
}

TEST_F(PortTest, ReadWaitsForEveryByte) {
    ASSERT_EQ(open_uart(), 0);
    pty.send("abc", 3);
    uint8_t buf[4];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(virt_com_read(buf, 4), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    pty.send("wxyz", 4);
    EXPECT_EQ(virt_com_read(buf, 4), 4);
    EXPECT_EQ(buf[3], 'z');
}

TEST_F(PortTest, FlushDropsPendingInput) {
    ASSERT_EQ(open_uart(), 0);
    pty.send("stale", 5);
    usleep(20000);
    EXPECT_EQ(virt_com_flush(1), 0);
    uint8_t b;
    EXPECT_EQ(virt_com_read(&b, 1), -1);
    errno = 0;
    EXPECT_EQ(virt_com_flush(4), -1);
    EXPECT_EQ(errno, -24);
    EXPECT_EQ(virt_com_drain(), -1);
    EXPECT_EQ(errno, -22);
}

TEST_F(PortTest, SerialSettingsThroughIoctl) {
    ASSERT_EQ(open_uart(), 0);
    struct termios before {};
    tcgetattr(pty.slave(), &before);
    EXPECT_EQ(cfgetospeed(&before), B115200) << "open sets the stored baud rate";
    EXPECT_EQ(before.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

    int value = 230400;
    errno = 0;
    EXPECT_EQ(virt_com_ioctl(UART_SET_BAUD, &value), -1);
    EXPECT_EQ(errno, -24);
    struct termios after {};
    tcgetattr(pty.slave(), &after);
    EXPECT_EQ(cfgetospeed(&after), B115200) << "a refused rate leaves the device unchanged";

    value = 9600;
    EXPECT_EQ(virt_com_ioctl(UART_SET_BAUD, &value), 0);
    tcgetattr(pty.slave(), &after);
    EXPECT_EQ(cfgetospeed(&after), B9600);
    EXPECT_EQ(virt_com_ioctl(UART_GET_BAUD, nullptr), 9600);

    value = 6;
    EXPECT_EQ(virt_com_ioctl(UART_SET_DATABITS, &value), -1);
    EXPECT_EQ(errno, -24);
    // A pseudo-terminal keeps 8-bit characters; 8 is accepted.
    value = 8;
    EXPECT_EQ(virt_com_ioctl(UART_SET_DATABITS, &value), 0);
    EXPECT_EQ(virt_com_ioctl(UART_GET_DATABITS, nullptr), 8);

    const tcflag_t cflag = after.c_cflag;
    value = 2;
    EXPECT_EQ(virt_com_ioctl(UART_SET_STOPBITS, &value), 0);
    tcgetattr(pty.slave(), &after);
    EXPECT_EQ(after.c_cflag, cflag | CSTOPB) << "only the stop-bit flag changes";
    EXPECT_EQ(virt_com_ioctl(UART_GET_STOPBITS, nullptr), 2);

    for (int flow : {1, 3}) {
        value = flow;
        EXPECT_EQ(virt_com_ioctl(UART_SET_FLOW, &value), 0);
        EXPECT_EQ(virt_com_ioctl(UART_GET_FLOW, nullptr), flow);
    }
    value = 4;
    EXPECT_EQ(virt_com_ioctl(UART_SET_FLOW, &value), -24) << "flow control reports -24 directly";
    errno = 0;
    EXPECT_EQ(virt_com_ioctl(99, &value), -1);
    EXPECT_EQ(errno, -22);
}

TEST(SerialTables, CodesOfRatesSizesAndFlushKinds) {
    EXPECT_EQ(baud_bitmask(115200), 0x1002);
    EXPECT_EQ(baud_bitmask(57600), 0x1001);
    EXPECT_EQ(baud_bitmask(150), 0x5);
    EXPECT_EQ(baud_bitmask(230400), -1);
    EXPECT_EQ(data_bitmask(5), 0x00);
    EXPECT_EQ(data_bitmask(7), 0x20);
    EXPECT_EQ(data_bitmask(8), 0x30);
    EXPECT_EQ(data_bitmask(6), -1);
    EXPECT_EQ(stop_bitmask(2), 0x40);
    EXPECT_EQ(stop_bitmask(3), 0);
    EXPECT_EQ(flsh_type(1), 0);
    EXPECT_EQ(flsh_type(3), 2);
    EXPECT_EQ(flsh_type(0), -1);
}

}  // namespace
