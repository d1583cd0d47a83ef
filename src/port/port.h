// Internal interface of the virtual port: the port's part of the state
// record (tessil.s_com without the link's encryption fields and the modem's
// state, the driver init table, the connection marker) as the layers above
// reach it. The link and the card framework use these instead of the
// record's fields; the drivers of the port fill the fields themselves.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "tessil.h"

namespace vr::port {

// ---- opening and closing
// The port's part of opening: copies of the type name and "1.0.0", the
// driver's init and open, then the state 0x33. 0, or -1 with errno -10 (the
// texts are released again). The caller has checked that the port is not
// open yet; what the reader needs after an open is the caller's business.
int open_device(const char *type, int mode, va_list list);
// Registration forgets the port without closing it: the descriptor, the
// two texts and the state go back to zero (the texts are released).
void forget();
// Calls the driver's close when the port is open (0x33); the port's state
// and texts are left alone.
void close_device_if_open();

// ---- the connection marker: written after a successful connect, compared
// by registration, cleared when the port closes
bool connection_marked();
void mark_connection();
void clear_connection_mark();

// ---- the device behind the port, unchecked: the driver's slot, or -1
// with errno -22 when the driver has none
int device_read(uint8_t *buffer, int length);
int device_write(const uint8_t *buffer, int length);
int device_flush(int kind);
int device_drain();
int device_ioctl(int command, void *argument);

// The "sound" link needs a ready playback stream before anything is sent;
// other links have no such stream and are never refused for its lack.
bool playback_missing();

// The USB ids of the device behind a USB link (control codes 67, 68); -22
// on a link that is not USB.
int usb_vendor_id();
int usb_product_id();

// ---- the keep-alive of links that need one (USB): one harmless reader
// command after a silence, sent by the layers that send reader commands,
// which install it here. The action runs on the link's timer thread.
enum class KeepAliveResult {
    sent,
    failed,
    busy,  // the link was in use: nothing sent
};
using KeepAliveAction = KeepAliveResult (*)();
void set_keep_alive_action(KeepAliveAction action);
// Runs the installed action; busy while none is installed.
KeepAliveResult run_keep_alive_action();

// ---- the port's settings
// Default reply time-out in milliseconds (3000; 300 on Bluetooth).
int timeout_ms();
void set_timeout_ms(int ms);
// Whether the device name the driver set contains part.
bool device_name_contains(const char *part);

// ---- for the link drivers' init functions
// Names the device (a path, "usb hid device", ...; a copy is kept, null
// clears it) and puts the driver's operation table in force.
void install_device(const char *name, const vr_dev_ops &ops);

}  // namespace vr::port
