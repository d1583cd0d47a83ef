// The library's logging call and its hex dump.
#include "log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/time.h>

#include "core/platform.h"

// The level a process starts with when its environment names none: the
// Android log has always carried information lines; a Linux program keeps
// its terminal for its own output and shows errors only.
#ifndef VR_DEFAULT_LOG_LEVEL
#ifdef __ANDROID__
#define VR_DEFAULT_LOG_LEVEL 2
#else
#define VR_DEFAULT_LOG_LEVEL 1
#endif
#endif

namespace {

constexpr int kDefaultLevel = VR_DEFAULT_LOG_LEVEL;
static_assert(kDefaultLevel >= 0 && kDefaultLevel <= 3, "VR_DEFAULT_LOG_LEVEL is 0..3");
constexpr int kLevelUnread = -1;
constexpr const char *kLevelVariable = "VANTEL_RFID_LOG_LEVEL";
constexpr std::size_t kPrefixSize = 128;
constexpr std::size_t kDumpPiece = 999;

char level_letter(int level) {
    switch (level) {
    case 1: return 'E';
    case 2: return 'I';
    default: return 'D';
    }
}

// The level from the environment: one digit 0..3, anything else ignored.
int level_from_environment() {
#ifdef __ANDROID__
    return kDefaultLevel;
#else
    const char *text = std::getenv(kLevelVariable);
    if (!text || text[0] < '0' || text[0] > '3' || text[1] != '\0') return kDefaultLevel;
    return text[0] - '0';
#endif
}

// Read on first use rather than at load: nothing runs before main, and a
// program may set the variable before it calls the library.
std::atomic<int> g_level{kLevelUnread};

int enabled_level() {
    int level = g_level.load(std::memory_order_relaxed);
    if (level != kLevelUnread) return level;
    int unread = kLevelUnread;
    level = level_from_environment();
    // A concurrent log_set_level wins over the environment.
    if (!g_level.compare_exchange_strong(unread, level, std::memory_order_relaxed)) return unread;
    return level;
}

}  // namespace

VR_API int log_set_level(int level) {
    if (level < 0 || level > 3) {
        errno = -22;
        return -1;
    }
    const int before = g_level.exchange(level, std::memory_order_relaxed);
    return before == kLevelUnread ? level_from_environment() : before;
}

VR_API int log_print(int level, const char *format, ...) {
    if (!format) return level;
    if (level < 1 || level > 3 || level > enabled_level()) return level;

    char prefix[kPrefixSize];
    time_t now = time(nullptr);
    struct tm tmv {};
    localtime_r(&now, &tmv);
    snprintf(prefix, sizeof prefix, "<%c> %4d-%02d-%02d %02d:%02d:%02d ",
             level_letter(level), tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
             tmv.tm_hour, tmv.tm_min, tmv.tm_sec);

    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(prefix);
    if (n > 0) {
        std::string text(static_cast<std::size_t>(n) + 1, '\0');
        vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(n));
        line += text;
    }
    va_end(args);
    return vr::platform::log_write(level, line);
}

VR_API int log_vprint(int level, const char *format, va_list arguments) {
    (void)format;
    (void)arguments;
    return level;
}

VR_API int format_display(const void *bytes, int count, int mode) {
    // The dump is written at level 3; when that level is disabled, skip the
    // formatting work entirely (it runs on every reader exchange).
    if (enabled_level() < 3 || !bytes || count <= 0) return 0;

    const std::size_t size = static_cast<std::size_t>(count) * 8 + 1;
    char *text = static_cast<char *>(std::malloc(size));
    if (!text) return -1;
    std::size_t used = 0;
    const auto *b = static_cast<const unsigned char *>(bytes);
    for (int i = 0; i < count; ++i) {
        int n = 0;
        char *at = text + used;
        const std::size_t room = size - used;
        switch (mode) {
        case 0: {
            int16_t v;
            std::memcpy(&v, b + 2 * i, sizeof v);
            n = snprintf(at, room, "%d ", static_cast<int>(v));
            break;
        }
        case 2: {
            uint16_t v;
            std::memcpy(&v, b + 2 * i, sizeof v);
            n = snprintf(at, room, "%04x ", static_cast<unsigned>(v));
            break;
        }
        case 3: n = snprintf(at, room, "%01x", b[i]); break;
        default: n = snprintf(at, room, "%02x ", b[i]); break;
        }
        if (n > 0) used += static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room - 1;
    }
    text[used] = '\0';
    for (std::size_t off = 0; off < used; off += kDumpPiece) {
        std::string piece(text + off, std::min(kDumpPiece, used - off));
        log_print(3, "%s", piece.c_str());
    }
    std::free(text);
    return 0;
}
