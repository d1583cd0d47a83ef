// The WAV header reader over arbitrary file contents. Whatever it accepts
// describes samples that lie within the file, and its record writes back
// as a header that reads the same.
#include <cstring>
#include <vector>

#include "audio/wav_parse.h"
#include "fuzz_support.h"

namespace {

struct Buffer {
    const uint8_t *data;
    std::size_t size;
};

bool read_buffer(void *context, uint64_t offset, void *out, std::size_t n) {
    const auto *b = static_cast<const Buffer *>(context);
    vrfuzz::check(offset <= b->size && n <= b->size - offset, "reads stay within the file");
    std::memcpy(out, b->data + offset, n);
    return true;
}

}  // namespace

void vrfuzz::fuzz_one(Input &in) {
    const auto bytes = in.rest();
    Buffer buffer{bytes.data(), bytes.size()};
    const vr::audio::wav::Source source{bytes.size(), read_buffer, &buffer};
    wav_header h;
    uint64_t data_offset = 0;
    if (!vr::audio::wav::parse(source, h, data_offset)) return;
    const int64_t dsize = wav_file_get_dsize(&h);
    vrfuzz::check(dsize >= 0 && data_offset + static_cast<uint64_t>(dsize) <= bytes.size(), "samples within the file");
    const int64_t bits = wav_file_get_precision(&h);
    vrfuzz::check(bits == 8 || bits == 16, "8- or 16-bit samples");
    vrfuzz::check(wav_file_get_ssize(&h) == wav_file_get_channels(&h) * bits / 8, "whole frames");

    // The record, written out with its samples, reads back the same.
    const auto head = static_cast<std::size_t>(wav_file_header_size(&h));
    std::vector<uint8_t> file(h.bytes, h.bytes + head);
    file.insert(file.end(), bytes.begin() + static_cast<std::ptrdiff_t>(data_offset),
                bytes.begin() + static_cast<std::ptrdiff_t>(data_offset + static_cast<uint64_t>(dsize)));
    wav_header again;
    wav_file_set_fsize(&h, static_cast<uint32_t>(file.size()));
    std::memcpy(file.data(), h.bytes, head);
    Buffer rewritten{file.data(), file.size()};
    const vr::audio::wav::Source second{file.size(), read_buffer, &rewritten};
    vrfuzz::check(vr::audio::wav::parse(second, again, data_offset), "a written header reads back");
    vrfuzz::check(data_offset == head && std::memcmp(&again, &h, sizeof h) == 0, "the same header");
}
