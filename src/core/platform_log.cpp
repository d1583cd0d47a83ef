#include <pthread.h>
#include <unistd.h>

#include <cstdio>
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

int write_platform(std::string_view line) {
#ifdef __ANDROID__
    return __android_log_print(ANDROID_LOG_INFO, kTag, "%.*s",
                               static_cast<int>(line.size()), line.data());
#else
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

int log_write(std::string_view line) {
    {
        MutexHold hold(&g_sink_lock);
        if (g_sink) {
            (*g_sink)(line);
            if (!g_also_platform) return static_cast<int>(line.size());
        }
    }
    return write_platform(line);
}

void set_log_sink(LogSink sink, bool also_platform) {
    MutexHold hold(&g_sink_lock);
    delete g_sink;
    g_sink = sink ? new LogSink(std::move(sink)) : nullptr;
    g_also_platform = also_platform;
}

}  // namespace vr::platform
