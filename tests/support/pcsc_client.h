// What the reader driver's tests do as a libpcsclite client of their
// private pcscd: wait for a reader and for its card events, and carry one
// command. Header only: the tests that include it link libpcsclite.
#pragma once

#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vrtest {

// The reader pcscd lists first (or the one named `name`), "" when none
// shows within `timeout`.
inline std::string wait_for_reader(SCARDCONTEXT context, std::string_view name = {},
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        char names[1024];
        DWORD n = sizeof names;
        if (SCardListReaders(context, nullptr, names, &n) == SCARD_S_SUCCESS && names[0] &&
            (name.empty() || name == names))
            return names;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "";
}

// Whether the reader's state gets the flag (SCARD_STATE_PRESENT or
// SCARD_STATE_EMPTY) within `timeout`; each wait ends at pcscd's event.
inline bool wait_reader_state(SCARDCONTEXT context, const char *reader, DWORD flag,
                              std::chrono::milliseconds timeout) {
    SCARD_READERSTATE state{};
    state.szReader = reader;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        const LONG rv = SCardGetStatusChange(context, static_cast<DWORD>(left.count()), &state, 1);
        if (rv != SCARD_S_SUCCESS) return false;
        if (state.dwEventState & flag) return true;
        state.dwCurrentState = state.dwEventState;
    }
}

// The card's answer to one command (empty when the transmission failed),
// and the transmission's result.
inline LONG transmit(SCARDHANDLE card, const std::vector<uint8_t> &command, std::vector<uint8_t> &answer) {
    BYTE out[600];
    DWORD n = sizeof out;
    const LONG rv =
        SCardTransmit(card, SCARD_PCI_T1, command.data(), static_cast<DWORD>(command.size()), nullptr, out, &n);
    answer.assign(out, out + (rv == SCARD_S_SUCCESS ? n : 0));
    return rv;
}

}  // namespace vrtest
