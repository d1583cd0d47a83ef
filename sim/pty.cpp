#include "pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace vrsim {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool Pty::open() {
    close();
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.valid()) return false;
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return false;
    char name[128];
    if (::ptsname_r(master.get(), name, sizeof name) != 0) return false;
    UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.valid()) return false;

    termios tio{};
    if (::tcgetattr(slave.get(), &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(slave.get(), TCSANOW, &tio) != 0) return false;

    const int flags = ::fcntl(master.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0) return false;

    master_ = std::move(master);
    slave_ = std::move(slave);
    path_ = name;
    return true;
}

void Pty::close() {
    // The master goes first: the host's descriptor on the slave sees the
    // hang-up at once, not when the last slave descriptor closes.
    master_.reset();
    slave_.reset();
}

}  // namespace vrsim
