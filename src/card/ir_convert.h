// The infrared conversion pipeline behind control code 55.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vr {

// Size of each of the pipeline's two work buffers: the samples handed in
// and the compressed stream handed back are both bounded by it.
inline constexpr std::size_t kIrWorkBufferSize = 2048;

// Number of bytes ir_data_zip writes for count values (before it reports
// one byte less).
std::size_t ir_zip_size(const uint16_t *values, std::size_t count);

// Converts a recorded waveform as the host hands it to control code 55:
// *length bytes of big-endian 16-bit durations in microseconds (an odd
// last byte is ignored) become the compressed stream in out, and *length
// receives the reported length of that stream (the bytes copied to out,
// at most 2047). Steps: byte order, clustering, scaling to carrier cycles,
// compression, each in a 2048-byte work buffer.
// 0 on success; -1 with errno:
//   -24  missing argument, negative length, more than 2048 bytes in, or a
//        stream that would not fit in the 2048-byte output buffer;
//   -40  a work buffer cannot be allocated;
//   -99  more than 32 duration clusters.
int ir_convert_waveform(const uint8_t *samples, uint8_t *out, int *length);

}  // namespace vr
