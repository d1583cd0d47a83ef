// The USB links' cost, through each emulated attachment (umockdev, run
// under its preload): echo exchanges per second and the calling thread's
// CPU per exchange through the virtual port, against the same USB traffic
// done with direct libusb transfers on the same handle in the same run.
// The difference, per report moved, is what the library adds to a report.
#include <benchmark/benchmark.h>
#include <libusb.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

#include "cpu_clock.h"
#include "frame.h"
#include "pcd.h"
#include "picc.h"
#include "port/usb_reports.h"
#include "sim_harness.h"
#include "tessil.h"
#include "usb_bed.h"
#include "usb_device.h"
#include "virt_com.h"

namespace {

using vrsim::Bytes;
using vrsim::UsbKind;

double thread_cpu_us() { return vrbench::thread_cpu_seconds() * 1e6; }

double now_us() {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The echo request and its reply as frames, and the reports each takes.
struct Echo {
    Bytes body;          // 02 0F data
    Bytes request;       // the request frame
    int in_reports = 0;  // reports of the reply
};

Echo make_echo(UsbKind kind, int protocol, int data) {
    Echo e;
    e.body = {0x02, 0x0F};
    for (int i = 0; i < data; ++i) e.body.push_back(static_cast<uint8_t>(i));
    e.request = vrsim::encode_host_frame(protocol, e.body);
    const Bytes reply = vrsim::encode_reply_frame(protocol, 0, Bytes(e.body.begin() + 2, e.body.end()));
    e.in_reports = static_cast<int>(vrsim::UsbReports(kind).to_host(reply).size());
    return e;
}

// One exchange's reports moved with libusb alone, as the attachment moves
// them; false when a transfer fails.
bool direct_exchange(UsbKind kind, libusb_device_handle *h, const Echo &e, int size) {
    uint8_t reports[1024];
    const int bytes = vr::port::usb::cut_message(e.request.data(), static_cast<int>(e.request.size()), size, reports,
                                                 sizeof reports);
    int moved = 0;
    for (int at = 0; at < bytes; at += size) {
        uint8_t *r = reports + at;
        uint8_t packet[33] = {0x1F};
        int rc = 0;
        switch (kind) {
        case UsbKind::hid_reader: rc = libusb_control_transfer(h, 0x21, 9, 0x0200, 0, r, 48, 5000) == 48 ? 0 : -1; break;
        case UsbKind::pdiusbd12: rc = libusb_control_transfer(h, 0x21, 9, 0x0300, 0, r, 32, 3000) == 32 ? 0 : -1; break;
        case UsbKind::ch340g: rc = libusb_bulk_transfer(h, 0x02, r, 32, &moved, 100); break;
        case UsbKind::ch9326:
            std::copy(r, r + 31, packet + 1);
            rc = libusb_bulk_transfer(h, 0x02, packet, 32, &moved, 100);
            break;
        }
        if (rc != 0) return false;
    }
    for (int i = 0; i < e.in_reports; ++i) {
        uint8_t in[64];
        int rc = 0;
        switch (kind) {
        case UsbKind::hid_reader: rc = libusb_interrupt_transfer(h, 0x81, in, 48, &moved, 1000); break;
        case UsbKind::pdiusbd12: rc = libusb_control_transfer(h, 0xA1, 1, 0x0300, 0, in, 32, 3000) == 32 ? 0 : -1; break;
        case UsbKind::ch340g:
        case UsbKind::ch9326: rc = libusb_bulk_transfer(h, 0x82, in, 32, &moved, 1000); break;
        }
        if (rc != 0) return false;
    }
    return true;
}

bool library_exchange(const Echo &e, int protocol, std::vector<uint8_t> &reply) {
    if (virt_com_flush(3) != 0) return false;
    if (virt_com_writemsg(e.body.data(), static_cast<int>(e.body.size()), protocol) < 0) return false;
    return virt_com_readmsg(reply.data(), protocol, 3000) == static_cast<int>(e.body.size()) - 1;
}

void BM_UsbEcho(benchmark::State &state) {
    const auto kind = static_cast<UsbKind>(state.range(0));
    const int data = static_cast<int>(state.range(1));
    vrsim::SimOptions o;
    o.family = kind == UsbKind::pdiusbd12 ? 2 : 1;
    auto sim = vrsim::start_simulator(o);
    vrtest::UsbBed bed;
    if (!sim || !bed.ok()) {
        state.SkipWithError(sim ? bed.why().c_str() : "simulator did not start");
        return;
    }
    vrtest::EmulatedUsb *dev = bed.plug(kind, sim->path(), sim->protocol());
    picc_regapi(VR_FAMILY_FIRST);
    if (!dev || virt_com_open(vrsim::usb_identity(kind).name, 0, -1, -1, nullptr) != 0) {
        state.SkipWithError("the port did not open");
        return;
    }
    const int protocol = sim->protocol();
    const int size = static_cast<int>(vrsim::usb_identity(kind).report_size);
    const Echo e = make_echo(kind, protocol, data);
    const int reports = vr::port::usb::reports_for(static_cast<int>(e.request.size()), size) + e.in_reports;
    auto *handle = static_cast<libusb_device_handle *>(tessil.s_com.attrib.usb.handle);
    std::vector<uint8_t> reply(VIRT_COM_RSP_MAX);

    double lib_us = 0, lib_cpu = 0, direct_us = 0, direct_cpu = 0;
    int64_t failures = 0;
    for (auto _ : state) {
        double t = now_us(), c = thread_cpu_us();
        if (!library_exchange(e, protocol, reply)) ++failures;
        lib_us += now_us() - t;
        lib_cpu += thread_cpu_us() - c;
        t = now_us(), c = thread_cpu_us();
        if (!direct_exchange(kind, handle, e, size)) ++failures;
        direct_us += now_us() - t;
        direct_cpu += thread_cpu_us() - c;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["exchanges_per_s"] = n / (lib_us * 1e-6);
    state.counters["lib_us"] = lib_us / n;
    state.counters["lib_cpu_us"] = lib_cpu / n;
    state.counters["direct_us"] = direct_us / n;
    state.counters["direct_cpu_us"] = direct_cpu / n;
    state.counters["reports"] = reports;
    state.counters["overhead_us_per_report"] = (lib_us - direct_us) / n / reports;
    state.counters["cpu_overhead_us_per_report"] = (lib_cpu - direct_cpu) / n / reports;
    state.counters["failures"] = static_cast<double>(failures);
    virt_com_close();
}
BENCHMARK(BM_UsbEcho)
    ->ArgNames({"kind", "data"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 16, 200}})
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
