// The millisecond clock and the microsecond sleep used for all time-outs.
#include <sys/time.h>

#include <cerrno>
#include <ctime>

#include "core/errors.h"
#include "sys.h"

VR_API uint32_t getTickCount(void) {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    return static_cast<uint32_t>(static_cast<uint64_t>(tv.tv_sec) * 1000u +
                                 static_cast<uint64_t>(tv.tv_usec) / 1000u);
}

VR_API void sys_delay_nus(unsigned int microseconds) {
    struct timespec ts {
        static_cast<time_t>(microseconds / 1000000u),
        static_cast<long>(microseconds % 1000000u) * 1000L
    };
    // Sleep the whole time even when a signal interrupts (the modem's
    // threads are woken by signals).
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

VR_API int sys_get_tickcount(void) { return vr::fail(vr::kENoCmd); }
