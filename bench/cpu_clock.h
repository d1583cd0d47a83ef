// CPU time for the benchmarks: a thread's own CPU is what the library
// spends, whatever else the shared machine runs meanwhile, so the benches
// set it against a reference measured the same way in the same run.
#pragma once

#include <pthread.h>

#include <ctime>

namespace vrbench {

// Seconds on a clock (CLOCK_THREAD_CPUTIME_ID, CLOCK_PROCESS_CPUTIME_ID, a
// thread's CPU clock).
inline double cpu_seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The calling thread's CPU seconds.
inline double thread_cpu_seconds() { return cpu_seconds(CLOCK_THREAD_CPUTIME_ID); }

// Another thread's CPU seconds; 0 when it has no clock (not running).
inline double thread_cpu_seconds(pthread_t thread) {
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0) return 0.0;
    return cpu_seconds(clock);
}

}  // namespace vrbench
