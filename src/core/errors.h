// Error codes of the library, by name, for use inside the library. The
// numbers are the interface; the message tables live in sys_err.cpp.
#pragma once

#include <cerrno>

#include "sys.h"

namespace vr {

constexpr int kOk = 0;
constexpr int kEOpen = -10;          // fail to open the port
constexpr int kEClose = -11;         // fail to close the port
constexpr int kERespond = -12;       // fail to responde the request
constexpr int kESend = -13;          // fail to send message
constexpr int kERecv = -14;          // fail to receive message
constexpr int kEFormat = -15;        // message format is illegal
constexpr int kEMsgWrong = -16;      // received message is wrong
constexpr int kEMesg = EMESG;          // received message crc check wrong (EMESG)
constexpr int kECardType = -20;      // the card type is wrong
constexpr int kEGeneral = EGENERA;       // genera error (EGENERA)
constexpr int kENoCmd = -22;         // not such command
constexpr int kEExec = -23;          // fail to execute command
constexpr int kEArg = -24;           // the argument is wrong
constexpr int kENoCard = -30;        // fail to find the card
constexpr int kEReaderIc = -31;      // the reader ic maybe wrong
constexpr int kEReq = -32;           // fail to execute reqa/reqb
constexpr int kEReset = -33;         // fail to reset the reader ic
constexpr int kEAuth = -34;          // fail to do the authentication
constexpr int kERead = -35;          // fail to read the card
constexpr int kEWrite = -36;         // fail to write the card
constexpr int kESelect = -37;        // fail to select the card
constexpr int kEAntenna = -38;       // something wrong with antenna
constexpr int kEKeyType = -39;       // the key type is wrong
constexpr int kENoMem = -40;         // fail to allocate memmory
constexpr int kENotWav = -41;        // a file is not a WAV file the library reads
constexpr int kEThread = -42;        // a modem thread cannot be created
constexpr int kEReadTimeout = -45;   // the audio link delivered no byte in time
constexpr int kEWriteQueue = -46;    // the audio link cannot queue the bytes
constexpr int kENotSelected = -47;   // have not selected any card for operation
constexpr int kEBlockOp = -48;       // the block donot support the operation
constexpr int kENotOpen = -49;
constexpr int kESearchMode = -51;    // picc search mode is wrong
constexpr int kEHostLookup = -60;    // a host (Java) class, field or value is missing
constexpr int kENoFamily = -61;      // no reader family registered
constexpr int kEBusy = -85;          // device busy (exclusive use held elsewhere)
constexpr int kEUnknown = -99;       // unknown error
constexpr int kEJackAccess = -72;    // fail to access jack (record side not made)
constexpr int kENoProperty = -74;    // the accessory has no such property
constexpr int kENoService = -75;     // the accessory has no such service
constexpr int kETooManyProperties = -76;  // a service holds 255 properties
constexpr int kETooManyServices = -77;    // an accessory holds 255 services
constexpr int kEAccessoryType = -78;      // the device is no accessory type the library knows
constexpr int kEDevInval = EDEVINVAL;      // device removed (EDEVINVAL)
constexpr int kEDevStart = -79;     // the device cannot start (a host flush failed)
constexpr int kENoAnswer = -81;      // reader does not answer the link check
constexpr int kEVolume = -82;        // the output volume cannot be set to its maximum
constexpr int kEMicrophone = -83;    // the microphone is muted
constexpr int kEPlayback = -84;      // playback device not ready
constexpr int kECrcErr = CRCERR;       // reader saw a CRC error (CRCERR)
constexpr int kETimeoutErr = TIMEOUTERR;   // reader timed out (TIMEOUTERR)
constexpr int kECmdTypeErr = CMDTYPEERR;   // reader: invalid command (CMDTYPEERR)
constexpr int kECmdLengthErr = CMDLENGTHERR; // reader: bad command length (CMDLENGTHERR)

// Stores code in the calling thread's errno and returns -1: the library's
// convention for a failing function.
inline int fail(int code) {
    errno = code;
    return -1;
}

// A worker's result as the control dispatch reports it: the result when it
// is 0 or more, else the calling thread's error code (the result itself
// when errno holds no code).
inline int result_or_code(int rc) {
    if (rc >= 0) return rc;
    const int code = errno;
    return code < 0 ? code : rc;
}

// Results below -1 become -1 (the control codes whose results are clamped).
inline int clamped(int rc) { return rc < -1 ? -1 : rc; }

}  // namespace vr
