/* The library's one logging call and its hex dump. */
#ifndef VR_LOG_H
#define VR_LOG_H

#include <stdarg.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Log levels: 1 error, 2 information, 3 debug. */
enum { LOG_LEVEL_E = 1, LOG_LEVEL_I = 2, LOG_LEVEL_D = 3 };

/* Lines up to the enabled level are written; 0 writes none, 3 writes the
 * debug lines and the hex dumps of the traffic too. On Android the level is
 * 2. Elsewhere it is 1 (errors only) unless the environment variable
 * VANTEL_RFID_LOG_LEVEL (0..3) names another when the library first logs;
 * VANTEL_RFID_LOG=syslog sends the lines to syslog instead of standard
 * error. */
/* Sets the enabled level (0..3) for the rest of the process and returns the
 * one before; -1 (errno -22) for a level outside 0..3. */
VR_API int log_set_level(int level);

/* Writes one line "<L> YYYY-MM-DD hh:mm:ss <text>" to the platform log under
 * the tag "JNI_LIBLOG". Returns the platform call's result, or level when
 * nothing is written (missing format, disabled or unknown level). */
VR_API int log_print(int level, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Writes nothing; returns level. */
VR_API int log_vprint(int level, const char *format, va_list arguments);
/* Logs count items of bytes at level 3. mode 0: signed 16-bit decimals,
 * 1: bytes "%02x ", 2: 16-bit "%04x ", 3: bytes "%01x". 0, or -1 when the
 * text buffer cannot be allocated. */
VR_API int format_display(const void *bytes, int count, int mode);

VR_END_DECLS

#endif
