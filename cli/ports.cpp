// `ports`: the serial ports a reader may be on. The kernel lists every
// terminal in /sys/class/tty; those with a device behind them are real
// ports, and a USB device above one tells the adapter (the reader's cable
// is a USB serial adapter). Built-in PC serial ports are shown with --all.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli.h"
#include "command.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

struct PortsArgs : CommandArgs {
    std::string root;  // "" for the real /sys and /dev
    bool all = false;
};

struct Port {
    std::string name;    // ttyUSB0
    std::string driver;  // ch341-uart, cdc_acm, ...
    std::string usb_id;  // 1a86:7523, or empty
    std::string usb_name;
    std::vector<std::string> aliases;  // /dev/serial/by-id/...
};

// USB serial adapters known by name; the reader's own cable is a CH340.
struct KnownAdapter {
    const char *id;
    const char *name;
};
constexpr KnownAdapter kAdapters[] = {
    {"1a86:7523", "CH340 adapter, as the reader's cable"},
    {"10c4:ea60", "CP210x adapter"},
    {"0403:6001", "FTDI adapter"},
    {"067b:2303", "PL2303 adapter"},
};

// Drivers of the built-in PC serial ports, which exist whether or not
// anything is plugged in.
bool builtin_port(const std::string &driver) { return driver == "serial8250" || driver == "port"; }

std::string first_line(const fs::path &file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device above a tty's device: the first parent directory that
// holds idVendor.
void find_usb_device(const fs::path &device, const fs::path &sys, Port &port) {
    fs::path dir = device;
    for (int up = 0; up < 6 && dir.has_parent_path() && dir.string().starts_with(sys.string()); ++up) {
        if (fs::exists(dir / "idVendor")) {
            port.usb_id = first_line(dir / "idVendor") + ":" + first_line(dir / "idProduct");
            const std::string maker = first_line(dir / "manufacturer"), product = first_line(dir / "product");
            port.usb_name = maker + (maker.empty() || product.empty() ? "" : " ") + product;
            return;
        }
        dir = dir.parent_path();
    }
}

std::vector<Port> find_ports(const PortsArgs &a) {
    const fs::path root = a.root.empty() ? fs::path("/") : fs::path(a.root);
    const fs::path sys = fs::weakly_canonical(root / "sys");
    std::vector<Port> ports;
    std::error_code ec;
    for (const fs::directory_entry &entry : fs::directory_iterator(root / "sys/class/tty", ec)) {
        const fs::path device = entry.path() / "device";
        if (!fs::exists(device, ec)) continue;  // a virtual terminal
        Port port{entry.path().filename().string(), {}, {}, {}, {}};
        const fs::path real = fs::canonical(device, ec);
        if (ec) continue;
        if (fs::exists(real / "driver")) port.driver = fs::canonical(real / "driver", ec).filename().string();
        find_usb_device(real, sys, port);
        if (port.usb_id.empty() && builtin_port(port.driver) && !a.all) continue;
        ports.push_back(std::move(port));
    }
    // The stable names udev gives USB serial devices.
    for (const fs::directory_entry &alias : fs::directory_iterator(root / "dev/serial/by-id", ec)) {
        const std::string target = fs::canonical(alias.path(), ec).filename().string();
        for (Port &p : ports)
            if (!ec && p.name == target) p.aliases.push_back("/dev/serial/by-id/" + alias.path().filename().string());
    }
    std::sort(ports.begin(), ports.end(), [](const Port &x, const Port &y) { return x.name < y.name; });
    return ports;
}

std::string adapter_note(const Port &p) {
    for (const KnownAdapter &k : kAdapters)
        if (p.usb_id == k.id) return k.name;
    return {};
}

// Why this user cannot open the device, and what gives access.
std::string access_problem(const fs::path &dev) {
    struct stat st {};
    if (::stat(dev.c_str(), &st) != 0) return "no device file " + dev.string();
    if (::access(dev.c_str(), R_OK | W_OK) == 0) return {};
    const group *g = ::getgrgid(st.st_gid);
    const std::string name = g ? g->gr_name : std::to_string(st.st_gid);
    return "no access: the device belongs to group " + name + "; join it (sudo usermod -aG " + name +
           " $USER) and log in again";
}

int run_ports(const Options &, PortsArgs &a) {
    const std::vector<Port> ports = find_ports(a);
    if (ports.empty()) {
        std::printf("no serial ports found%s\n", a.all ? "" : " (--all also lists built-in ones)");
        return 0;
    }
    for (const Port &p : ports) {
        const fs::path dev = fs::path(a.root.empty() ? "/" : a.root) / "dev" / p.name;
        std::string line = (a.root.empty() ? "/dev/" + p.name : dev.string());
        if (!p.usb_id.empty()) line += "  " + p.usb_id;
        if (!p.usb_name.empty()) line += "  " + p.usb_name;
        std::string notes = p.driver;
        if (const std::string known = adapter_note(p); !known.empty()) notes += (notes.empty() ? "" : "; ") + known;
        if (!notes.empty()) line += "  (" + notes + ")";
        std::printf("%s\n", line.c_str());
        for (const std::string &alias : p.aliases) std::printf("    %s\n", alias.c_str());
        if (const std::string problem = access_problem(dev); !problem.empty()) std::printf("    %s\n", problem.c_str());
    }
    return 0;
}

std::string set_root(PortsArgs &a, const char *value) {
    a.root = value;
    return fs::is_directory(a.root) ? std::string() : std::string(value) + ": no such directory";
}

std::string set_all(PortsArgs &a, const char *) {
    a.all = true;
    return {};
}

constexpr Option<PortsArgs> kPortsOptions[] = {
    {"all", nullptr, "also list the built-in serial ports of the machine", set_all},
    {"root", "DIR", "look under DIR (a chroot, a test tree) instead of /", set_root},
};

std::string check_ports(PortsArgs &a) {
    a.needs_reader = false;
    return a.operands.empty() ? std::string() : "ports takes no operands";
}

constexpr Command<PortsArgs> kPorts = {
    "ports",
    "list the serial ports a reader may be on",
    "",
    "Lists the serial ports with a device behind them: USB serial adapters (the reader's cable is\n"
    "one) with their USB ids and names, and says when this user may not open one.\n",
    nullptr,
    kPortsOptions,
    check_ports,
    run_ports,
};

}  // namespace

constinit const CommandEntry kPortsCommand = entry_for<kPorts>();

}  // namespace cli
