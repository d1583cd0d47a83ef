/* Error codes, their messages, status translation and the clock. */
#ifndef VR_SYS_H
#define VR_SYS_H

#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Error codes that carry a symbolic name in the library's log lines. Every
 * other code is known by its number (see sys_strerror_ch for the set). */
enum {
    EMESG = -19,
    EGENERA = -21,
    EDEVINVAL = -80,
    CRCERR = -111,
    TIMEOUTERR = -112,
    CMDTYPEERR = -113,
    CMDLENGTHERR = -114
};

/* English message of the calling thread's errno; the platform's strerror
 * text for codes without an English message. Constant text. */
VR_API const char *sys_strerror(void);
/* Chinese message of code; the general-error text for unknown codes. */
VR_API const char *sys_strerror_ch(int code);

/* First-family reader status byte to error code: stores it in errno and
 * returns 0 (status 0) or -1. */
VR_API int return_code(int status);
/* Second-family reader status to error code; returned, errno untouched. */
VR_API int dc_errno_transform(int status);

/* Wall-clock milliseconds as a wrapping 32-bit value; compare two readings
 * by unsigned subtraction. */
VR_API uint32_t getTickCount(void);
/* Sleeps for the given number of microseconds. */
VR_API void sys_delay_nus(unsigned int microseconds);
/* Not supported: errno -22, returns -1. */
VR_API int sys_get_tickcount(void);

VR_END_DECLS

#endif
