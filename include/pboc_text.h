/* Hexadecimal text as the control codes and the host bridge take and give
 * data: two digits a byte, produced upper-case, accepted in either case. */
#ifndef VR_PBOC_TEXT_H
#define VR_PBOC_TEXT_H

#include "vr_api.h"

VR_BEGIN_DECLS

/* Hexadecimal text (either case, two digits a byte) to bytes: 0, or -1 when
 * an argument is missing, the capacity is negative or smaller than half the
 * text length, or the text is not hexadecimal of even length. */
VR_API int pboc_str2data(const char *text, unsigned char *out, int capacity);
/* Bytes to a new upper-case hexadecimal text that the caller frees; null
 * when it cannot be allocated or the arguments are missing. */
VR_API char *pboc_data2str(const unsigned char *bytes, int count);

VR_END_DECLS

#endif
