// The one place where the audio backend is chosen.
#include "audio/backend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

#include "core/lock.h"
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
    {"android", &kAndroidBackend},
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

// The choice, made once under the lock; read without it once made.
pthread_mutex_t g_choice_lock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<bool> g_chosen_yet{false};
std::atomic<const Backend *> g_chosen{nullptr};

const Backend *from_environment() {
    const char *name = std::getenv("VANTEL_RFID_AUDIO");
    if (!name || !*name) return platform_default();
    const Backend *table = by_name(name);
    if (!table) log_print(1, "audio: unknown backend \"%s\" in VANTEL_RFID_AUDIO", name);
    return table;
}

}  // namespace

const Backend *backend() {
    if (!g_chosen_yet.load(std::memory_order_acquire)) {
        MutexHold hold(&g_choice_lock);
        if (!g_chosen_yet.load()) {
            g_chosen = from_environment();
            g_chosen_yet.store(true, std::memory_order_release);
        }
    }
    return g_chosen.load();
}

bool select(const char *name) {
    const Backend *table = name ? by_name(name) : nullptr;
    if (!table) return false;
    MutexHold hold(&g_choice_lock);
    g_chosen = table;
    g_chosen_yet.store(true, std::memory_order_release);
    return true;
}

}  // namespace vr::audio
