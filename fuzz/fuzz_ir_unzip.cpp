// ir_data_unzip over arbitrary streams, and the compress/decompress round
// trip of what it produced. Input: the stream.
#include <memory>

#include "fuzz_support.h"
#include "ir.h"

void vrfuzz::fuzz_one(Input &in) {
    const auto input = in.rest();
    const uint8_t *data = input.data();
    const size_t size = input.size();
    if (size > 1 << 16) return;
    const int count = static_cast<int>(size);
    // Room for exactly one value per byte, as the interface asks.
    auto values = std::make_unique<uint16_t[]>(size ? size : 1);
    int produced = -1;
    const int rc = ir_data_unzip(data, count, values.get(), &produced);
    vrfuzz::check(rc == produced && rc >= 0 && rc <= count, "values produced");

    // Values below 0xFF00 survive compression and decompression.
    bool representable = true;
    for (int i = 0; i < produced; ++i) representable = representable && values[i] < 0xFF00;
    auto stream = std::make_unique<uint8_t[]>(3 * static_cast<size_t>(produced) + 1);
    uint16_t reported = 0;
    const int zipped = ir_data_zip(values.get(), produced, stream.get(), &reported);
    if (zipped < 0 || !representable) return;
    const int written = produced ? zipped + 1 : 0;
    auto again = std::make_unique<uint16_t[]>(written ? static_cast<size_t>(written) : 1);
    int back = -1;
    ir_data_unzip(stream.get(), written, again.get(), &back);
    vrfuzz::check(back == produced, "round trip count");
    for (int i = 0; i < produced; ++i) vrfuzz::check(again[i] == values[i], "round trip values");
}
