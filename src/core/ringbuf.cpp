// Locked byte ring.
#include "ringbuf.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/lock.h"

namespace {

// Copies n bytes into the ring after tail; caller holds the lock and has
// checked the room.
void put(ringbuf *r, const uint8_t *src, uint32_t n) {
    uint32_t start = (r->tail + 1) % r->size;
    uint32_t first = std::min(n, r->size - start);
    std::memcpy(r->buffer + start, src, first);
    std::memcpy(r->buffer, src + first, n - first);
    r->tail = (r->tail + n) % r->size;
    r->count += n;
}

void take(ringbuf *r, uint8_t *dst, uint32_t n) {
    uint32_t start = (r->head + 1) % r->size;
    uint32_t first = std::min(n, r->size - start);
    std::memcpy(dst, r->buffer + start, first);
    std::memcpy(dst + first, r->buffer, n - first);
    r->head = (r->head + n) % r->size;
    r->count -= n;
}

bool usable(const ringbuf *r) { return r && r->buffer && r->size > 0; }

}  // namespace

VR_API int ringbuf_create(ringbuf *ring, uint32_t size) {
    if (!ring) return 0;
    std::memset(ring, 0, sizeof *ring);
    ring->buffer = static_cast<uint8_t *>(std::malloc(size ? size : 1));
    if (!ring->buffer) return -1;
    ring->size = size;
    pthread_mutex_init(&ring->lock, nullptr);
    return 0;
}

VR_API int ringbuf_destroy(ringbuf *ring) {
    if (!ring) return 0;
    std::free(ring->buffer);
    std::memset(ring, 0, sizeof *ring);
    return 0;
}

VR_API int ringbuf_insert(ringbuf *ring, const void *bytes, uint32_t n) {
    if (!usable(ring) || (n && !bytes)) return -1;
    vr::MutexHold hold(&ring->lock);
    if (ring->size - ring->count < n) return -1;
    put(ring, static_cast<const uint8_t *>(bytes), n);
    return static_cast<int>(n);
}

VR_API int ringbuf_delete(ringbuf *ring, void *out, uint32_t n) {
    if (!usable(ring) || (n && !out)) return -1;
    vr::MutexHold hold(&ring->lock);
    if (ring->count < n) return -1;
    take(ring, static_cast<uint8_t *>(out), n);
    return static_cast<int>(n);
}

VR_API int ringbuf_empty(ringbuf *ring) {
    if (!usable(ring)) return 0;
    vr::MutexHold hold(&ring->lock);
    return ring->count == 0 ? 0 : -1;
}

VR_API int ringbuf_len(ringbuf *ring) {
    if (!usable(ring)) return 0;
    vr::MutexHold hold(&ring->lock);
    return static_cast<int>(ring->count);
}

VR_API int ringbuf_free(ringbuf *ring) {
    if (!usable(ring)) return 0;
    vr::MutexHold hold(&ring->lock);
    return static_cast<int>(ring->size - ring->count);
}

VR_API int ringbuf_flush(ringbuf *ring) {
    if (!usable(ring)) return 0;
    vr::MutexHold hold(&ring->lock);
    ring->count = 0;
    ring->head = ring->tail;
    return 0;
}

VR_API int ringbuf_front(ringbuf *ring) {
    if (!usable(ring)) return -1;
    vr::MutexHold hold(&ring->lock);
    if (ring->count == 0) return -1;
    return static_cast<signed char>(ring->buffer[(ring->head + 1) % ring->size]);
}

VR_API int ringbuf_rear(ringbuf *ring) {
    if (!usable(ring)) return -1;
    vr::MutexHold hold(&ring->lock);
    if (ring->count == 0) return -1;
    return static_cast<signed char>(ring->buffer[ring->tail]);
}
