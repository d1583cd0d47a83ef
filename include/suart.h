/* The audio modem ("sound" link): its state record and its functions. */
#ifndef VR_SUART_H
#define VR_SUART_H

#include <pthread.h>
#include <stdint.h>
#include "ringbuf.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Modem state, part of the global record. Every status word is read and
 * written under `lock` (the modem mutex), so the modem's threads and the
 * caller's thread may share them. */
typedef struct suart_state {
    pthread_mutex_t lock;
    /* 0 record side not ready, 204 record stream made, 221 volume set,
     * 170 calibrating, 255 ready, 187 calibration failed */
    int32_t calistat;
    /* 0 playback stream not ready, 255 ready */
    int32_t trackstat;
    /* 0 initial, '0' no headset, '2' headset present */
    int32_t plugstat;
    int32_t routestat; /* stored for the host, read by nobody */
    int32_t categstat; /* nonzero: abort the pending framed read */
} suart_state;

VR_API int suart_set_calistat(int value);
VR_API int suart_get_calistat(void);
VR_API int suart_set_trackstat(int value);
VR_API int suart_get_trackstat(void);
VR_API int suart_set_plugstat(int value);
VR_API int suart_get_plugstat(void);
VR_API int suart_set_routestat(int value);
VR_API int suart_get_routestat(void);
VR_API int suart_set_categstat(int value);
VR_API int suart_get_categstat(void);

VR_END_DECLS

#endif
