// `reader ...` and `raw HEX`: the reader's own commands.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "pcd.h"
#include "virt_com.h"

namespace cli {
namespace {

void print_bytes(const char *label, const unsigned char *b, std::size_t n) {
    std::printf("%-18s %s\n", label, to_hex(b, n).c_str());
}

// The firmware version is text padded with zeros or spaces.
std::string as_text(const unsigned char *b, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n && b[i]; ++i) s.push_back(b[i] >= 0x20 && b[i] < 0x7F ? static_cast<char>(b[i]) : '.');
    return s;
}

int reader_info() {
    unsigned char buf[16] = {};
    if (pcd_get_firmware_version(buf) != 0) return report_error("firmware version", errno);
    std::printf("%-18s %s\n", "firmware version:", as_text(buf, 16).c_str());
    unsigned char *model = pcd_hard_model();
    if (!model) return report_error("model", errno);
    std::printf("%-18s %s\n", "model:", model);
    std::free(model);
    unsigned char mid = 0;
    if (pcd_get_mid(&mid) != 0) return report_error("machine id", errno);
    std::printf("%-18s %u\n", "machine id:", mid);
    unsigned char sn[8] = {};
    if (pcd_get_msn(sn) != 0) return report_error("serial number", errno);
    print_bytes("serial number:", sn, 8);
    if (pcd_get_otp_sn(sn) != 0) return report_error("OTP serial", errno);
    print_bytes("OTP serial:", sn, 8);
    int battery = pcd_get_power(nullptr);
    if (battery < 0) return report_error("battery", errno);
    std::printf("%-18s %d%%\n", "battery:", battery);
    return 0;
}

int number_arg(int argc, char **argv, int i, int fallback) {
    return i < argc ? static_cast<int>(std::strtol(argv[i], nullptr, 0)) : fallback;
}

}  // namespace

int cmd_reader(const Options &, int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: reader info|beep [ON OFF]|led [A B]|antenna on|off\n");
        return 2;
    }
    const std::string what = argv[1];
    if (what == "info") return reader_info();
    if (what == "beep") {
        if (pcd_set_buzzer(number_arg(argc, argv, 2, 1), number_arg(argc, argv, 3, 1)) != 0)
            return report_error("beep", errno);
        std::printf("beep\n");
        return 0;
    }
    if (what == "led") {
        if (pcd_set_led(number_arg(argc, argv, 2, 1), number_arg(argc, argv, 3, 1)) != 0)
            return report_error("led", errno);
        std::printf("led set\n");
        return 0;
    }
    if (what == "antenna" && argc >= 3) {
        const bool on = std::strcmp(argv[2], "on") == 0;
        if ((on ? pcd_antenna_open() : pcd_antenna_close()) != 0) return report_error("antenna", errno);
        std::printf("antenna %s\n", on ? "on" : "off");
        return 0;
    }
    std::fprintf(stderr, "unknown reader command: %s\n", what.c_str());
    return 2;
}

int cmd_raw(const Options &, int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: raw HEX   (command code low byte first, then data)\n");
        return 2;
    }
    std::string text;
    for (int i = 1; i < argc; ++i) text += argv[i];
    auto bytes = parse_hex(text);
    if (!bytes || bytes->size() < 2 || bytes->size() - 2 > VIRT_COM_REQ_MAX)
        return report_error("raw: bad hexadecimal command", -24);
    virt_com_req req{};
    virt_com_rsp rsp{};
    req.cmd = static_cast<uint16_t>((*bytes)[0] | (*bytes)[1] << 8);
    req.len = static_cast<int32_t>(bytes->size() - 2);
    std::memcpy(req.data, bytes->data() + 2, bytes->size() - 2);
    int rc = virt_com_command(&req, &rsp, 0);
    if (rc != 0) return report_error("raw", rc < -1 ? rc : errno);
    std::printf("%s\n", rsp.len ? to_hex(rsp.data, static_cast<std::size_t>(rsp.len)).c_str() : "(no data)");
    return 0;
}

}  // namespace cli
