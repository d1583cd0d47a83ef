// A bare pseudo-terminal pair for driver tests that need no reader.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace vrtest {

class RawPty {
public:
    RawPty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        path_ = ptsname(master_);
        // Keep one slave descriptor open so the master never sees a hang-up,
        // and make the line raw so nothing is echoed.
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        struct termios t {};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
    }
    ~RawPty() {
        ::close(slave_);
        ::close(master_);
    }
    const std::string &path() const { return path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }
    void send(const void *bytes, size_t n) { (void)!::write(master_, bytes, n); }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

}  // namespace vrtest
