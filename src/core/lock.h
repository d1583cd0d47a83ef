// RAII over the POSIX mutexes of the global record.
#pragma once

#include <pthread.h>

namespace vr {

// Holds a pthread mutex for the lifetime of the object.
class MutexHold {
public:
    explicit MutexHold(pthread_mutex_t *m) : m_(m) { pthread_mutex_lock(m_); }
    // Takes over a mutex the caller already holds.
    enum Adopt { kAdopt };
    MutexHold(pthread_mutex_t *m, Adopt) : m_(m) {}
    ~MutexHold() {
        if (m_) pthread_mutex_unlock(m_);
    }
    // Releases early; the destructor then does nothing.
    void release() {
        if (m_) pthread_mutex_unlock(m_);
        m_ = nullptr;
    }
    MutexHold(const MutexHold &) = delete;
    MutexHold &operator=(const MutexHold &) = delete;

private:
    pthread_mutex_t *m_;
};

}  // namespace vr
