// Numbers as text for the log, each followed by a space ("7350 5512 ").
// Formatted with the C library: std::to_string would instantiate a
// libstdc++ template that an unoptimised build exports from the library.
#pragma once

#include <string>

namespace vr {

std::string int_list_text(const int *values, int count);

}  // namespace vr
