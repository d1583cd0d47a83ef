#include "link/trace.h"

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "tessil.h"

namespace vr::link {
namespace {

constexpr const char *kTraceVariable = "VANTEL_RFID_TRACE";

pthread_once_t g_once = PTHREAD_ONCE_INIT;
// Made once and kept for the life of the process: frames may be recorded
// from any thread until the very end.
vr::trace::Capture *g_capture = nullptr;

void open_from_environment() {
    const char *path = std::getenv(kTraceVariable);
    if (!path || !*path) return;
    auto *capture = new vr::trace::Capture;
    if (!capture->open(path, vr::trace::Side::host)) {
        log_print(1, "link trace %s: %s", path, std::strerror(errno));
        delete capture;
        return;
    }
    g_capture = capture;
}

int family_number() {
    switch (tessil.family) {
    case VR_FAMILY_FIRST: return 1;
    case VR_FAMILY_SECOND: return 2;
    default: return 0;
    }
}

}  // namespace

bool tracing() {
    pthread_once(&g_once, open_from_environment);
    return g_capture != nullptr;
}

void trace_frame(vr::trace::Direction direction, int protocol, const uint8_t *frame, std::size_t size) {
    if (tracing()) g_capture->record(direction, protocol, family_number(), frame, size);
}

}  // namespace vr::link
