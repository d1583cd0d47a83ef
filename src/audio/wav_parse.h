// Reading a WAV header from an untrusted file: every chunk is checked
// against the file's size before it is read or skipped, so that a hostile
// size field can neither make the reader leave the file nor loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wav.h"

namespace vr::audio::wav {

// Where the bytes come from: reads exactly n bytes at offset, or fails.
struct Source {
    uint64_t size;  // the file's length
    bool (*read)(void *context, uint64_t offset, void *out, std::size_t n);
    void *context;
};

// Parses the header into the record; on success data_offset is where the
// first sample is. False for anything but a PCM file of 8- or 16-bit
// samples whose chunks all lie within the file.
bool parse(const Source &source, wav_header &header, uint64_t &data_offset);

}  // namespace vr::audio::wav
