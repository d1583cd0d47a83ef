/* The USB links: a reader that is itself a USB HID device ("usbhid") and
 * readers behind a CH340G, a CH9326 or a PDIUSBD12 attachment. The four
 * share one driver; each init names the attachment. */
#ifndef VR_USBHID_H
#define VR_USBHID_H

#include <stdarg.h>
#include <stdint.h>
#include "ringbuf.h"
#include "vr_api.h"

VR_BEGIN_DECLS

/* Inits: the argument list starts with the descriptor (an int) of a USB
 * device the host application has opened, or -1: the open then takes the
 * first attached device with the attachment's vendor and product id. 0. */
VR_API int usbhid_init(int mode, va_list list);
VR_API int ch340g_init(int mode, va_list list);
VR_API int ch9326_init(int mode, va_list list);
VR_API int pdiusbd12_init(int mode, va_list list);

/* The device operations; the portable names forward to the libusb ones.
 * open: 0, or -1 with errno -10 (no such device, a device that cannot be
 * configured or claimed), -31 (the descriptor or the device cannot be
 * opened). close: 0. flush(kind): 1 the received bytes, 2 the reports not
 * yet sent, 3 both; another kind -24. drain, ioctl: not supported (-23).
 * read(buf, n): n below 4097; n, or -1 with errno -14 (nothing came within
 * the transfer's time-out, a refused report, a failed transfer) or -24.
 * write(buf, n): n below 263; n, or -1 with errno -13 or -24. */
VR_API int usbhid_open(void);
VR_API int usbhid_close(void);
VR_API int usbhid_flush(int kind);
VR_API int usbhid_drain(void);
VR_API int usbhid_ioctl(int command, void *argument);
VR_API int usbhid_read(uint8_t *buffer, int length);
VR_API int usbhid_write(const uint8_t *buffer, int length);
VR_API int usbhid_open_linux(void);
VR_API int usbhid_close_linux(void);
VR_API int usbhid_flush_linux(int kind);
VR_API int usbhid_drain_linux(void);
VR_API int usbhid_ioctl_linux(int command, void *argument);
VR_API int usbhid_read_linux(uint8_t *buffer, int length);
VR_API int usbhid_write_linux(const uint8_t *buffer, int length);

/* Report movers of each attachment. A reader moves the frame bytes of one
 * report from the device into the ring: their count (0 when the report
 * carried none), or -1 with errno -10 (not open), -14 (time-out, ring
 * full, a report that is refused or a failed transfer). A writer sends one
 * report from the ring: the report size, or -1 with errno -10, -13 or -14
 * (fewer than a report's bytes in the ring). */
VR_API int usbhid_device_read_linux(ringbuf *ring);
VR_API int usbhid_device_write_linux(ringbuf *ring);
VR_API int ch340g_read_linux(ringbuf *ring);
VR_API int ch340g_write_linux(ringbuf *ring);
VR_API int ch9326_read_linux(ringbuf *ring);
VR_API int ch9326_write_linux(ringbuf *ring);
VR_API int pdiusbd12_read_linux(ringbuf *ring);
VR_API int pdiusbd12_write_linux(ringbuf *ring);

/* The adapters' line rate: 9600, 19200, 38400, 56700 (which the adapters
 * run as 57600) or 115200; 0, or -1 (errno -24 for another rate, -10 with
 * no device open, -13 for a failed transfer). */
VR_API int ch340g_config(int baud);
VR_API int ch9326_config(int baud);
/* One control transfer on the open device (2000 ms time-out): the bytes
 * transferred, or -1 with errno -10 (not open) or -13. */
VR_API int ch340g_control_transfer(int request_type, int request, int value, int index,
                                   unsigned char *data, int length);

/* Keep-alive: after 3 s without report traffic a timer thread sends the
 * reader a harmless command. keep_alive arms it, wakeup cancels it; both 0
 * (-1 with errno -10 while no USB device is open). */
VR_API int usbhid_keep_alive(void);
VR_API int usbhid_wakeup(void);
/* Gives the device back to the system: interface 0 released, its kernel
 * driver attached again, the device closed. 0. */
VR_API int usbhid_attach_kernel_driver(void);

/* One attached device of the four kinds, as usbhid_list_devices finds it. */
typedef struct usbhid_device_info {
    char type[16];          /* "usbhid", "ch340g", "ch9326", "pdiusbd12" */
    uint16_t vendor_id;
    uint16_t product_id;
    uint8_t bus;
    uint8_t address;
    /* 1 when the device could be opened (the strings are then read), 0
     * when the user lacks permission, else a negative code (-31). */
    int access;
    char manufacturer[256];
    char product[256];
    char serial[256];
} usbhid_device_info;

/* Fills up to max entries (out may be null when max is 0); returns the
 * number of matching devices attached, which may exceed max, or -1 with
 * errno -10 when USB devices cannot be listed. */
VR_API int usbhid_list_devices(usbhid_device_info *out, int max);

VR_END_DECLS

#endif
