/* Control codes of the vantel-rfid reader driver for pcsc-lite, for
 * SCardControl. Each is SCARD_CTL_CODE(n) of pcsc-lite (0x42000000 + n).
 *
 *   VR_IFD_BUZZER            in: 2 bytes, the buzzer's on and off times as
 *                            the reader's buzzer command takes them; out:
 *                            nothing.
 *   VR_IFD_LED               in: 2 bytes, the two LED values as the reader's
 *                            LED command takes them; out: nothing.
 *   VR_IFD_FIRMWARE_VERSION  in: nothing; out: the reader's 16-byte
 *                            firmware version text (NUL-padded).
 *
 * A wrong input length or a reader that does not answer fails the call
 * (pcscd reports SCARD_E_NOT_TRANSACTED); a buffer too small for the
 * version, SCARD_E_INSUFFICIENT_BUFFER. The feature request
 * (SCARD_CTL_CODE(3400)) answers an empty list: the driver offers no
 * PIN-pad features. Any other code is SCARD_E_UNSUPPORTED_FEATURE. */
#ifndef VANTELRFID_IFD_H
#define VANTELRFID_IFD_H

#define VR_IFD_CTL_CODE(n) (0x42000000UL + (n))
#define VR_IFD_BUZZER VR_IFD_CTL_CODE(0x3601)
#define VR_IFD_LED VR_IFD_CTL_CODE(0x3602)
#define VR_IFD_FIRMWARE_VERSION VR_IFD_CTL_CODE(0x3603)

#endif
