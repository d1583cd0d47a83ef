// pboc_str2data over arbitrary texts and capacities, checked against
// pboc_data2str. Input: the capacity byte (as a signed number), then the
// text up to its first NUL.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "pboc.h"

void vrfuzz::fuzz_one(Input &in) {
    const int capacity = static_cast<int8_t>(in.byte()) * 4;  // -512..508
    const auto rest = in.rest();
    const auto text = vrfuzz::c_string(rest);
    const size_t n = std::strlen(text.get());

    auto out = std::make_unique<unsigned char[]>(capacity > 0 ? static_cast<size_t>(capacity) : 1);
    const int rc = pboc_str2data(text.get(), out.get(), capacity);
    vrfuzz::check(rc == 0 || rc == -1, "result");
    if (rc != 0) return;
    vrfuzz::check(n % 2 == 0 && n / 2 <= static_cast<size_t>(capacity), "accepted text fits");
    char *again = pboc_data2str(out.get(), static_cast<int>(n / 2));
    vrfuzz::check(again != nullptr, "data2str");
    for (size_t i = 0; i < n; ++i)
        vrfuzz::check(again[i] == std::toupper(static_cast<unsigned char>(text[i])), "round trip");
    vrfuzz::check(again[n] == '\0', "terminated");
    std::free(again);
}
