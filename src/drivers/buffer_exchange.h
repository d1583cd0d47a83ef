// One exchange with a card over a caller's length-prefixed buffer, the
// read operation of the CPU and CID card drivers.
#pragma once

#include <cstdint>

#include "link/reader_command.h"

namespace vr {

// Largest answer the buffer's length byte can count.
constexpr int kBufferAnswerMax = 255;

// Sends buffer[1 .. buffer[0]] as the data of the reader command; on
// success buffer[0] holds the answer's length and the answer follows it.
// An answer longer than 255 bytes is refused (-1, errno -16) and nothing
// is copied. 0, or the exchange's result.
int exchange_in_buffer(uint16_t command, unsigned char *buffer, Route route = Route::exchange);

}  // namespace vr
