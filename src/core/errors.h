// Error codes of the library, by name, for use inside the library. The
// numbers are the interface; the message tables live in sys_err.cpp.
#pragma once

#include <cerrno>

#include "sys.h"

namespace vr {

enum Err : int {
    kOk = 0,
    kEOpen = -10,          // fail to open the port
    kEClose = -11,         // fail to close the port
    kERespond = -12,       // fail to responde the request
    kESend = -13,          // fail to send message
    kERecv = -14,          // fail to receive message
    kEFormat = -15,        // message format is illegal
    kEMsgWrong = -16,      // received message is wrong
    kEMesg = EMESG,          // received message crc check wrong (EMESG)
    kECardType = -20,      // the card type is wrong
    kEGeneral = EGENERA,       // genera error (EGENERA)
    kENoCmd = -22,         // not such command
    kEExec = -23,          // fail to execute command
    kEArg = -24,           // the argument is wrong
    kENoCard = -30,        // fail to find the card
    kEReaderIc = -31,      // the reader ic maybe wrong
    kEReq = -32,           // fail to execute reqa/reqb
    kEReset = -33,         // fail to reset the reader ic
    kEAuth = -34,          // fail to do the authentication
    kERead = -35,          // fail to read the card
    kEWrite = -36,         // fail to write the card
    kESelect = -37,        // fail to select the card
    kEAntenna = -38,       // something wrong with antenna
    kEKeyType = -39,       // the key type is wrong
    kENoMem = -40,         // fail to allocate memmory
    kENotSelected = -47,   // have not selected any card for operation
    kEBlockOp = -48,       // the block donot support the operation
    kENotOpen = -49,
    kESearchMode = -51,    // picc search mode is wrong
    kENoFamily = -61,      // no reader family registered
    kEBusy = -85,          // device busy (exclusive use held elsewhere)
    kEUnknown = -99,       // unknown error
    kEDevInval = EDEVINVAL,      // device removed (EDEVINVAL)
    kENoAnswer = -81,      // reader does not answer the link check
    kEPlayback = -84,      // playback device not ready
    kECrcErr = CRCERR,       // reader saw a CRC error (CRCERR)
    kETimeoutErr = TIMEOUTERR,   // reader timed out (TIMEOUTERR)
    kECmdTypeErr = CMDTYPEERR,   // reader: invalid command (CMDTYPEERR)
    kECmdLengthErr = CMDLENGTHERR, // reader: bad command length (CMDLENGTHERR)
};

// Stores code in the calling thread's errno and returns -1: the library's
// convention for a failing function.
inline int fail(int code) {
    errno = code;
    return -1;
}

}  // namespace vr
