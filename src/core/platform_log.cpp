#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/lock.h"
#include "core/platform.h"

#ifdef __ANDROID__
#include <android/log.h>
#endif

namespace vr::platform {
namespace {

constexpr const char *kTag = "JNI_LIBLOG";

// The sink is a test facility; guarded so a test may swap it while modem or
// simulator threads log.
pthread_mutex_t g_sink_lock = PTHREAD_MUTEX_INITIALIZER;
LogSink *g_sink = nullptr;  // heap-held so nothing is constructed at load
bool g_also_platform = false;

#ifndef __ANDROID__
enum class Target { unread, standard_error, system_log };

// VANTEL_RFID_LOG names the target: "syslog", or standard error (the
// default, also for any other text). Read on first use, like the level.
std::atomic<Target> g_target{Target::unread};

Target target() {
    Target t = g_target.load(std::memory_order_relaxed);
    if (t != Target::unread) return t;
    const char *name = std::getenv("VANTEL_RFID_LOG");
    t = name && std::strcmp(name, "syslog") == 0 ? Target::system_log : Target::standard_error;
    g_target.store(t, std::memory_order_relaxed);
    return t;
}

int syslog_priority(int level) {
    switch (level) {
    case 1: return LOG_ERR;
    case 2: return LOG_INFO;
    default: return LOG_DEBUG;
    }
}

// The host program owns openlog(); the library only adds its tag to the
// message, under whatever name the program logs with.
int write_syslog(int level, std::string_view line) {
    syslog(LOG_USER | syslog_priority(level), "%s: %.*s", kTag, static_cast<int>(line.size()), line.data());
    return static_cast<int>(line.size());
}
#endif

int write_platform(int level, std::string_view line) {
#ifdef __ANDROID__
    (void)level;
    return __android_log_print(ANDROID_LOG_INFO, kTag, "%.*s",
                               static_cast<int>(line.size()), line.data());
#else
    if (target() == Target::system_log) return write_syslog(level, line);
    std::string out;
    out.reserve(line.size() + 16);
    out.append(kTag).append(": ").append(line);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    out.push_back('\n');
    // One write call per line keeps lines from different threads whole.
    ssize_t n = ::write(STDERR_FILENO, out.data(), out.size());
    return static_cast<int>(n);
#endif
}

}  // namespace

int log_write(int level, std::string_view line) {
    {
        MutexHold hold(&g_sink_lock);
        if (g_sink) {
            (*g_sink)(line);
            if (!g_also_platform) return static_cast<int>(line.size());
        }
    }
    return write_platform(level, line);
}

void set_log_sink(LogSink sink, bool also_platform) {
    MutexHold hold(&g_sink_lock);
    delete g_sink;
    g_sink = sink ? new LogSink(std::move(sink)) : nullptr;
    g_also_platform = also_platform;
}

}  // namespace vr::platform
