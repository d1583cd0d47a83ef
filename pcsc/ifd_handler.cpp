// The driver's entry points for pcsc-lite (IFD handler API v3). pcscd loads
// the library and calls these from its reader threads; each takes the
// reader's lock and keeps exceptions on this side.
#include <cstring>
#include <exception>

extern "C" {
#include <ifdhandler.h>
#include <reader.h>  // SCARD_ATTR_*
}

#include "ifd_reader.h"

#define VR_IFD_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using vrpcsc::Reader;

// The library drives one reader per process, so the driver serves one
// reader: the first channel pcscd creates.
constexpr DWORD kNoLun = ~DWORD{0};
constexpr UCHAR kIccPresent = 2, kIccAbsent = 0;
constexpr char kVendorName[] = "vantel-rfid";

struct Driver {
    Reader reader;
    DWORD lun = kNoLun;
};

Driver &driver() {
    static Driver d;
    return d;
}

// The reader behind a Lun pcscd gave, or null for one the driver does not
// serve.
Reader *reader_of(DWORD lun) {
    Driver &d = driver();
    return d.lun == lun ? &d.reader : nullptr;
}

template <typename Call>
RESPONSECODE guarded(DWORD lun, Call call) {
    Reader *r = reader_of(lun);
    if (!r) return IFD_NO_SUCH_DEVICE;
    try {
        std::lock_guard hold(r->lock());
        return call(*r);
    } catch (const std::exception &) {
        return IFD_COMMUNICATION_ERROR;
    }
}

RESPONSECODE one_byte(UCHAR value, PDWORD length, PUCHAR out) {
    if (*length < 1) return IFD_ERROR_INSUFFICIENT_BUFFER;
    *length = 1;
    out[0] = value;
    return IFD_SUCCESS;
}

}  // namespace

VR_IFD_EXPORT RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName) {
    Driver &d = driver();
    if (d.lun != kNoLun || !DeviceName) return IFD_COMMUNICATION_ERROR;
    try {
        const auto options = vrpcsc::parse_device_name(DeviceName);
        if (!options) return IFD_COMMUNICATION_ERROR;
        std::lock_guard hold(d.reader.lock());
        const RESPONSECODE rc = d.reader.open(*options);
        if (rc == IFD_SUCCESS) d.lun = Lun;
        return rc;
    } catch (const std::exception &) {
        return IFD_COMMUNICATION_ERROR;
    }
}

// Serial readers are declared by their device path (DEVICENAME), USB
// attachments named by pcscd's hot-plug (usb:VVVV/PPPP:...): both by name.
VR_IFD_EXPORT RESPONSECODE IFDHCreateChannel(DWORD, DWORD) { return IFD_COMMUNICATION_ERROR; }

VR_IFD_EXPORT RESPONSECODE IFDHCloseChannel(DWORD Lun) {
    const RESPONSECODE rc = guarded(Lun, [](Reader &r) {
        r.close();
        return IFD_SUCCESS;
    });
    if (rc == IFD_SUCCESS) driver().lun = kNoLun;
    return rc;
}

VR_IFD_EXPORT RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value) {
    if (!Length || !Value) return IFD_ERROR_TAG;
    return guarded(Lun, [&](Reader &r) -> RESPONSECODE {
        switch (Tag) {
        case TAG_IFD_ATR:
        case SCARD_ATTR_ATR_STRING: return r.atr(Value, Length);
        case TAG_IFD_SLOTS_NUMBER:
        case TAG_IFD_SIMULTANEOUS_ACCESS: return one_byte(1, Length, Value);
        case TAG_IFD_THREAD_SAFE:
        case TAG_IFD_SLOT_THREAD_SAFE: return one_byte(0, Length, Value);
        case SCARD_ATTR_ICC_PRESENCE: {
            DWORD atr_length = MAX_ATR_SIZE;
            UCHAR atr[MAX_ATR_SIZE];
            return one_byte(r.atr(atr, &atr_length) == IFD_SUCCESS ? kIccPresent : kIccAbsent, Length, Value);
        }
        case SCARD_ATTR_VENDOR_NAME:
            if (*Length < sizeof kVendorName) return IFD_ERROR_INSUFFICIENT_BUFFER;
            std::memcpy(Value, kVendorName, sizeof kVendorName);
            *Length = sizeof kVendorName;
            return IFD_SUCCESS;
        default:
            // No polling thread of its own: pcscd asks IFDHICCPresence.
            return IFD_ERROR_TAG;
        }
    });
}

VR_IFD_EXPORT RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR) { return IFD_NOT_SUPPORTED; }

VR_IFD_EXPORT RESPONSECODE IFDHSetProtocolParameters(DWORD Lun, DWORD Protocol, UCHAR, UCHAR, UCHAR, UCHAR) {
    if (!reader_of(Lun)) return IFD_NO_SUCH_DEVICE;
    // The reader frames the card's protocol itself; either choice works.
    return Protocol == SCARD_PROTOCOL_T0 || Protocol == SCARD_PROTOCOL_T1 ? IFD_SUCCESS : IFD_PROTOCOL_NOT_SUPPORTED;
}

VR_IFD_EXPORT RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength) {
    if (!AtrLength) return IFD_ERROR_POWER_ACTION;
    return guarded(Lun, [&](Reader &r) -> RESPONSECODE {
        switch (Action) {
        case IFD_POWER_DOWN:
            r.power_down();
            *AtrLength = 0;
            return IFD_SUCCESS;
        case IFD_POWER_UP:
        case IFD_RESET: {
            if (!Atr) return IFD_ERROR_POWER_ACTION;
            const RESPONSECODE rc = r.power_up(Atr, AtrLength);
            if (rc != IFD_SUCCESS) *AtrLength = 0;
            return rc;
        }
        default: return IFD_NOT_SUPPORTED;
        }
    });
}

VR_IFD_EXPORT RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER, PUCHAR TxBuffer, DWORD TxLength,
                                             PUCHAR RxBuffer, PDWORD RxLength, PSCARD_IO_HEADER RecvPci) {
    if (!RxLength || !RxBuffer || (!TxBuffer && TxLength)) return IFD_COMMUNICATION_ERROR;
    if (RecvPci) {
        RecvPci->Protocol = SCARD_PROTOCOL_T1;
        RecvPci->Length = 0;
    }
    const RESPONSECODE rc =
        guarded(Lun, [&](Reader &r) { return r.transmit(TxBuffer, TxLength, RxBuffer, RxLength); });
    if (rc != IFD_SUCCESS) *RxLength = 0;
    return rc;
}

VR_IFD_EXPORT RESPONSECODE IFDHControl(DWORD Lun, DWORD dwControlCode, PUCHAR TxBuffer, DWORD TxLength,
                                       PUCHAR RxBuffer, DWORD RxLength, LPDWORD pdwBytesReturned) {
    if (!pdwBytesReturned) return IFD_COMMUNICATION_ERROR;
    *pdwBytesReturned = 0;
    return guarded(Lun, [&](Reader &r) {
        return r.control(dwControlCode, TxBuffer, TxLength, RxBuffer, RxLength, pdwBytesReturned);
    });
}

VR_IFD_EXPORT RESPONSECODE IFDHICCPresence(DWORD Lun) {
    return guarded(Lun, [](Reader &r) { return r.presence(); });
}
