// A private pcscd for end-to-end tests of the reader driver: run in the
// foreground in a mount namespace of its own (its socket and pid file are
// fixed under /run, so a private /run keeps it apart from any other pcscd),
// with a reader.conf that declares one reader, or with its USB hot-plug
// looking at bundles of the test's own. Clients reach it through
// PCSCLITE_CSOCK_NAME, which start() sets for this process. The daemon is
// stopped (SIGINT, then SIGKILL) and its directory removed when the object
// goes. One daemon at a time per process: the client library keeps the
// socket path it first saw, so every daemon of the process uses the same.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace vrtest {

class PrivatePcscd {
public:
    PrivatePcscd() = default;
    ~PrivatePcscd();
    PrivatePcscd(const PrivatePcscd &) = delete;
    PrivatePcscd &operator=(const PrivatePcscd &) = delete;

    // Starts pcscd with one reader: its DEVICENAME and the driver's path.
    // False (and the reason in error()) when it cannot start.
    bool start(const std::string &device_name, const std::string &driver);
    // Starts pcscd without declared readers: its hot-plug finds USB
    // readers through the bundles in `drivers` (mounted over pcscd's own
    // drivers directory) and the devices the process's umockdev test bed
    // holds, whose preload (`preload`) goes into pcscd too.
    bool start_hotplug(const std::string &drivers, const std::string &preload);
    // Stops the daemon: the exit status, -1 when it had to be killed.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Whether the daemon still runs (it has not crashed or exited).
    bool running();
    // Stops the daemon and says whether it went cleanly: it exited on its
    // own after SIGINT (0, or 1 after a signal), not through a crash (128 +
    // the signal). Its shutdown sometimes stalls in its hot-plug thread on a
    // loaded machine, outside the driver: a daemon killed after `grace`
    // counts as clean when every channel close it began (on shutdown or on
    // a device's removal) came back from the driver.
    bool stop_cleanly(std::chrono::milliseconds grace);

    const std::string &error() const { return error_; }
    std::string log() const;
    static constexpr const char *kReaderName = "Vantel Test Reader 00 00";

private:
    bool make_directory();
    bool driver_closes_returned() const;
    bool spawn(const std::string &script);

    pid_t pid_ = -1;
    std::string dir_, error_;
};

}  // namespace vrtest
