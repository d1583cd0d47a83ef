/* The virtual port: the one path from the library to the reader, whatever
 * the link, with its framing and its command exchange. */
#ifndef VR_VIRT_COM_H
#define VR_VIRT_COM_H

#include <stdarg.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Port states (tessil.s_com.status). */
enum {
    VIRT_COM_CLOSED = 0,
    VIRT_COM_OPEN = 0x33,
    VIRT_COM_REMOVED = 0x55,
    VIRT_COM_CHECK = 0x77
};

#define VIRT_COM_REQ_MAX 4098
#define VIRT_COM_RSP_MAX 4097
#define VIRT_COM_BODY_MAX 4096

/* One reader command: a 16-bit code (low byte first on the wire) and its
 * data. */
typedef struct virt_com_req {
    uint16_t cmd;
    uint8_t data[VIRT_COM_REQ_MAX];
    int32_t len;
} virt_com_req;

/* One reply: the data without status byte and framing. */
typedef struct virt_com_rsp {
    uint8_t data[VIRT_COM_RSP_MAX];
    int32_t len;
} virt_com_rsp;

/* Opens the port: type is the communication type name ("uart", "usbhid",
 * "ch340g", "ch9326", "pdiusbd12", "bluetooth", "sound"), mode is handed to
 * the driver, the further arguments form the driver's argument list (the
 * serial driver takes its device path from the second of them). 0 or -1. */
VR_API int virt_com_open(const char *type, int mode, ...);
VR_API int virt_com_close(void);
VR_API int virt_com_init(const char *type, int mode, va_list list);
VR_API int virt_com_flush(int kind);
VR_API int virt_com_drain(void);
VR_API int virt_com_ioctl(int command, void *argument);
VR_API int virt_com_read(uint8_t *buffer, int length);
VR_API int virt_com_write(const uint8_t *buffer, int length);

/* Port state, read and written under the state lock. */
VR_API int virt_com_status(void);
VR_API int virt_com_setstat(int value);
/* 0 when the port may be used, else -1 with errno (-10, -80, -81). A port
 * to be checked (VIRT_COM_CHECK) is checked with the reader's echo: every
 * frame that comes before the echo's answer is dropped as a late reply;
 * each echo waits for its answer as a read of 1000 ms would; two echoes
 * without an answer fail with -81, each counting as a link failure (-10
 * when that count closes the port). */
VR_API int virt_com_chkstat(void);
/* One echo (command 0x0F02, data 11 22 33), its answer read at 1000 ms:
 * 0 or -1. The echo and the repeat request (the reader's previous reply
 * again: its length, or a negative value) leave the port to be checked
 * when their answer does not come, as a command does. */
VR_API int virt_com_ping(void);
VR_API int virt_com_get_pre_response(uint8_t *reply);

VR_API int virt_com_set_protocl(int protocol);
VR_API int virt_com_get_protocl(void);

/* Framing: writes body as one frame of the given protocol (n, or -1);
 * reads one frame into out (at least 4097 bytes) and returns the body
 * length, -2 on a protocol-3 CRC mismatch, -16 on a protocol-1 checksum
 * mismatch, or -1. */
VR_API int virt_com_writemsg(const uint8_t *body, int n, int protocol);
VR_API int virt_com_readmsg(uint8_t *out, int protocol, int timeout);

/* One reader command: 0 on success, or -1 with errno set; a second-family
 * reader status is returned as its negative code. timeout in ms, 0 for the
 * port default.
 * Stricter than the reader protocol: a late reply is never taken for a
 * later command's. A command that ends with a reply still owed (one that
 * did not come in time may still arrive) leaves the port to be checked
 * (VIRT_COM_CHECK); the next command's port check then sends the reader's
 * echo and drops every frame before its answer, waiting for each echo no
 * longer than the smaller of 1000 ms and that command's own time-out. Two
 * unanswered echoes fail the command with -81 before it is sent; each
 * counts as a link failure, so the eleventh consecutive failure still
 * closes the port (-10). Protocol 2 readers send no reply frames, so
 * nothing is owed there. */
VR_API int virt_com_command(virt_com_req *request, virt_com_rsp *reply,
                            int timeout);

/* CRC-16/MODBUS, table-driven; auchCRCHi is the first of its two tables. */
VR_API uint16_t CRC16(const uint8_t *bytes, int count);
VR_API extern const uint8_t auchCRCHi[256];

VR_END_DECLS

#endif
