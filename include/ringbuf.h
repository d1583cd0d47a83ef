/* Locked byte ring. */
#ifndef VR_RINGBUF_H
#define VR_RINGBUF_H

#include <pthread.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* A ring owned by its user. Every function except create and destroy holds
 * the ring's mutex for its whole run, so one producer and one consumer
 * thread may use a ring at the same time. All size slots are usable. */
typedef struct ringbuf {
    pthread_mutex_t lock;
    uint32_t head;   /* index of the last slot read */
    uint32_t tail;   /* index of the last slot written */
    uint32_t size;   /* capacity in bytes */
    uint32_t count;  /* bytes stored */
    uint8_t *buffer; /* size bytes, owned by the ring */
} ringbuf;

VR_API int ringbuf_create(ringbuf *ring, uint32_t size);
VR_API int ringbuf_destroy(ringbuf *ring);
/* All n bytes or none: n, or -1 when fewer than n slots are free. */
VR_API int ringbuf_insert(ringbuf *ring, const void *bytes, uint32_t n);
/* Removes n bytes into out, or none: n, or -1 when fewer are stored. */
VR_API int ringbuf_delete(ringbuf *ring, void *out, uint32_t n);
/* 0 when empty, -1 when the ring holds data. */
VR_API int ringbuf_empty(ringbuf *ring);
VR_API int ringbuf_len(ringbuf *ring);
VR_API int ringbuf_free(ringbuf *ring);
VR_API int ringbuf_flush(ringbuf *ring);
/* Next byte a read would return / byte written last, as a signed byte;
 * -1 when empty (and so also for a byte 0xFF). */
VR_API int ringbuf_front(ringbuf *ring);
VR_API int ringbuf_rear(ringbuf *ring);

VR_END_DECLS

#endif
