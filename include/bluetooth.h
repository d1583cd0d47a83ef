/* The Bluetooth link driver. The host application keeps the Bluetooth
 * serial connection in its reader object (com.vantel.rfid.RFIDReader) and
 * lends it to the library through five methods of that object:
 *   int bluetoothUartOpen()                 0 = opened
 *   int bluetoothUartClose()                0 = closed
 *   int bluetoothUartRead(byte[] a, int n)  count of bytes placed at the
 *                                           start of a (n at most); 0 or
 *                                           less: none yet
 *   int bluetoothUartWrite(byte[] a, int n) 0 = the first n bytes of a sent
 *   int bluetoothUartFlush()                0 = pending input dropped
 * The object is the first reader object a card open (or picc_ctrl_ex1) saw.
 * Bytes travel through two 2048-byte host arrays; longer reads and writes
 * are split into array-sized calls. The link's reply time-out is 300 ms. */
#ifndef VR_BLUETOOTH_H
#define VR_BLUETOOTH_H

#include <jni.h>
#include <stdarg.h>
#include <stdint.h>
#include "vr_api.h"

VR_BEGIN_DECLS

/* Size of each host array. */
#define BLUETOOTH_HOST_ARRAY_SIZE 2048

/* Device table of the link (see tessil.h for the slots' contract). The
 * operations return their codes directly rather than through errno:
 * open -1, close -11, flush -79, read -14, write -13; -1 on a thread
 * without a Java environment or before the host object is known. Each
 * runs with the modem's wake signal blocked. read returns n; write
 * returns 0 (not the count) on success; drain and ioctl do nothing. */
VR_API int bluetooth_init(int mode, va_list list);
VR_API int bluetooth_open(void);
VR_API int bluetooth_close(void);
VR_API int bluetooth_flush(int kind);
VR_API int bluetooth_drain(void);
VR_API int bluetooth_read(uint8_t *buffer, int length);
VR_API int bluetooth_write(const uint8_t *buffer, int length);
VR_API int bluetooth_ioctl(int command, void *argument);

/* The host-call implementations behind the portable names. */
VR_API int bluetooth_init_android(int mode, va_list list);
VR_API int bluetooth_open_android(void);
VR_API int bluetooth_close_android(void);
VR_API int bluetooth_flush_android(int kind);
VR_API int bluetooth_drain_android(void);
VR_API int bluetooth_read_android(uint8_t *buffer, int length);
VR_API int bluetooth_write_android(const uint8_t *buffer, int length);
VR_API int bluetooth_ioctl_android(int command, void *argument);

/* Finds the host methods on the class of the kept reader object and makes
 * the two host arrays (once; later calls keep them): 0, or -1 without an
 * environment, a reader object, a method or an array. */
VR_API int android_bluetooth_init(JNIEnv *env);
VR_API int android_bluetooth_uart_open(void);
VR_API int android_bluetooth_uart_close(void);
/* Waits at most length * 25 / 20 + 125 ms for length bytes. */
VR_API int android_bluetooth_uart_read(uint8_t *buffer, int length);
VR_API int android_bluetooth_uart_write(const uint8_t *buffer, int length);
VR_API int android_bluetooth_uart_flush(void);
/* The calling thread's environment (JNI 1.6) from the stored VM, or null. */
VR_API JNIEnv *android_local_jnienv_bluetooth(void);

VR_END_DECLS

#endif
