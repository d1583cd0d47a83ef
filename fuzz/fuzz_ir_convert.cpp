// The infrared conversion pipeline (byte order, clustering, scaling,
// compression) over arbitrary recorded waveforms, as control code 55 hands
// them over. Input: the waveform bytes (big-endian durations).
#include <cerrno>
#include <cstring>
#include <memory>

#include "card/ir_convert.h"
#include "fuzz_support.h"
#include "ir.h"

void vrfuzz::fuzz_one(Input &in) {
    const auto input = in.rest();
    const uint8_t *data = input.data();
    const size_t size = input.size();
    if (size > 4096) return;
    // The stream handed back is at most 2047 bytes.
    constexpr size_t kOut = vr::kIrWorkBufferSize - 1;
    auto out = std::make_unique<uint8_t[]>(kOut);
    int length = static_cast<int>(size);
    errno = 0;
    const int rc = vr::ir_convert_waveform(data, out.get(), &length);
    if (rc == 0) {
        vrfuzz::check(length >= 0 && static_cast<size_t>(length) <= kOut, "stream length");
    } else {
        vrfuzz::check(rc == -1 && (errno == -24 || errno == -40 || errno == -99), "failure codes");
    }

    // The stages one by one on the same durations.
    const size_t count = (size < vr::kIrWorkBufferSize ? size : vr::kIrWorkBufferSize) / 2;
    auto values = std::make_unique<uint16_t[]>(count ? count : 1);
    std::memcpy(values.get(), data, count * 2);
    endian_swap(values.get(), static_cast<int>(count));
    if (ir_data_adjustment(values.get(), static_cast<int>(count)) != 0) return;
    ir_data_analyzer(values.get(), static_cast<int>(count));
    const size_t need = vr::ir_zip_size(values.get(), count);
    auto stream = std::make_unique<uint8_t[]>(need ? need : 1);
    uint16_t reported = 0;
    const int zipped = ir_data_zip(values.get(), static_cast<int>(count), stream.get(), &reported);
    vrfuzz::check(zipped == (need ? static_cast<int>(need) - 1 : 0), "reported length");
}
