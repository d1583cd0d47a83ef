// The process's link trace: when the environment variable
// VANTEL_RFID_TRACE names a file, every frame the link writes or reads is
// recorded there in pcapng (core/pcapng.h), frames with bad checksums and
// cut-off frames included.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/pcapng.h"

namespace vr::link {

// Whether frames are recorded; the first call opens the file.
bool tracing();
// Records a frame of the protocol with the registered family.
void trace_frame(vr::trace::Direction direction, int protocol, const uint8_t *frame, std::size_t size);

}  // namespace vr::link
