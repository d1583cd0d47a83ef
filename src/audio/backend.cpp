// The one place where the audio backend is chosen.
#include "audio/backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "log.h"

namespace vr::audio {

namespace {

struct Entry {
    const char *name;
    const Backend *table;
};

constexpr Entry kBackends[] = {
    {"pulse", &kPulseBackend},
    {"line", &kLineBackend},
#ifdef __ANDROID__
    {"android", &kAndroidBackend},
#endif
};

// The platform's own sound system.
const Backend *platform_default() {
#ifdef __ANDROID__
    return &kAndroidBackend;
#else
    return &kPulseBackend;
#endif
}

const Backend *by_name(const char *name) {
    for (const Entry &e : kBackends)
        if (std::strcmp(e.name, name) == 0) return e.table;
    return nullptr;
}

std::atomic<const Backend *> g_chosen{nullptr};
std::once_flag g_choose_once;

void choose_from_environment() {
    if (g_chosen.load()) return;
    const char *name = std::getenv("VANTEL_RFID_AUDIO");
    if (!name || !*name) {
        g_chosen = platform_default();
        return;
    }
    const Backend *table = by_name(name);
    if (!table) log_print(1, "audio: unknown backend \"%s\" in VANTEL_RFID_AUDIO", name);
    g_chosen = table;
}

}  // namespace

const Backend *backend() {
    std::call_once(g_choose_once, choose_from_environment);
    const Backend *table = g_chosen.load();
    // An Android build whose bridge has not been filled in has a table
    // with no operations: report no backend rather than call null slots.
    return table && table->init ? table : nullptr;
}

bool select(const char *name) {
    const Backend *table = name ? by_name(name) : nullptr;
    if (!table) return false;
    g_chosen = table;
    std::call_once(g_choose_once, [] {});
    return true;
}

}  // namespace vr::audio
