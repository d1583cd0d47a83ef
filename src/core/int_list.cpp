#include "core/int_list.h"

#include <cstdio>

namespace vr {

std::string int_list_text(const int *values, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        char number[16];
        const int n = std::snprintf(number, sizeof number, "%d ", values[i]);
        if (n > 0) text.append(number, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace vr
