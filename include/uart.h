/* The serial link driver. */
#ifndef VR_UART_H
#define VR_UART_H

#include <stdarg.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Serial ioctl commands; the setters take a pointer to a 4-byte integer. */
enum {
    UART_SET_BAUD = 10,
    UART_SET_DATABITS = 11,
    UART_SET_STOPBITS = 12,
    UART_SET_FLOW = 13,
    UART_GET_BAUD = 15,
    UART_GET_DATABITS = 16,
    UART_GET_STOPBITS = 17,
    UART_GET_FLOW = 19
};

VR_API int uart_init(int mode, va_list list);
VR_API int uart_open(void);
VR_API int uart_close(void);
VR_API int uart_flush(int kind);
VR_API int uart_drain(void);
VR_API int uart_read(uint8_t *buffer, int length);
VR_API int uart_write(const uint8_t *buffer, int length);
VR_API int uart_ioctl(int command, void *argument);

/* Terminal-device implementations behind the portable names. */
VR_API int uart_init_android(int mode, va_list list);
VR_API int uart_open_android(void);
VR_API int uart_close_android(void);
VR_API int uart_flush_android(int kind);
VR_API int uart_drain_android(void);
VR_API int uart_read_android(uint8_t *buffer, int length);
VR_API int uart_write_android(const uint8_t *buffer, int length);
VR_API int uart_ioctl_android(int command, void *argument);

/* Terminal control-word codes: -1 for a value the tables refuse. */
VR_API int baud_bitmask(unsigned int rate);
VR_API int data_bitmask(int bits);
VR_API int stop_bitmask(int bits);
/* Flush kind 1, 2, 3 to the terminal queue selector, -1 for another. */
VR_API int flsh_type(int kind);
/* Waits until the descriptor is readable: 0, or -1 on time-out. */
VR_API int uart_io_wait(int microseconds);

VR_END_DECLS

#endif
