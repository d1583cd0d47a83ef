// Headset jack readings: see jack.h.
#include "modem/jack.h"

#include <fcntl.h>
#include <unistd.h>

namespace vr::modem {

int jack_from_presence(int present) {
    if (present == 1) return '2';
    if (present == 0) return '0';
    return -1;
}

int jack_from_switch_files(const char *const *paths, int count) {
    int last = -1;
    for (int i = 0; i < count; ++i) {
        const int fd = ::open(paths[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char byte = 0;
        const bool got = ::read(fd, &byte, 1) == 1;
        ::close(fd);
        if (!got) continue;
        last = byte;
        if (byte == '1' || byte == '2') break;
    }
    switch (last) {
    case '1': return '2';
    case '2': return '1';
    case '0': return '0';
    default: return -1;
    }
}

}  // namespace vr::modem
