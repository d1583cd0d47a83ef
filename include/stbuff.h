/* Counted byte buffer. */
#ifndef VR_STBUFF_H
#define VR_STBUFF_H

#include "vr_api.h"

VR_BEGIN_DECLS

/* A data pointer and a length; record and data are separate allocations,
 * both owned by the record. */
typedef struct stbuff {
    unsigned char *data;
    int length;
} stbuff;

/* With data: a record holding a copy of size bytes (null for a negative size
 * or a failed allocation). Without data: a zeroed, empty record. */
VR_API stbuff *stbuff_create(const void *data, int size);
/* Frees data and record, only when the record has data and length > 0. */
VR_API void stbuff_delete(stbuff *buffer);
/* The length, or -1 for a missing record or a length below 1. */
VR_API int stbuff_length(const stbuff *buffer);
VR_API unsigned char *stbuff_data(const stbuff *buffer);
/* Replaces the data with a copy of size bytes; size 0 empties. 0, or -1
 * when the copy cannot be allocated (the buffer is then left empty). */
VR_API int stbuff_replace(stbuff *buffer, const void *data, int size);

VR_END_DECLS

#endif
