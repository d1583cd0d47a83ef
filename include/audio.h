/* Raw reader commands and the audio link's channel tests. */
#ifndef VR_AUDIO_H
#define VR_AUDIO_H

#include "vr_api.h"

VR_BEGIN_DECLS

/* Sends a raw reader command through the command exchange (10 s time-out).
 * cmd holds the 16-bit command code (low byte first) and len - 2 data
 * bytes; on success the reply replaces them and *len receives its length.
 * cmd must have room for the largest reply (4097 bytes). A length of 4097
 * or more sets *len to 0 and fails with -15. 0, or -1 with errno set.
 * Serves every link. */
VR_API int audio_raw_cmd(unsigned char *cmd, int *len);

VR_END_DECLS

#endif
