// An owner of memory from the C allocator: the texts and tables the C API
// hands out (and the work buffers kept beside them) are malloc'd, so they
// are freed with free, on every path.
#pragma once

#include <cstdlib>
#include <memory>

namespace vr {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

template <typename T>
using CMemory = std::unique_ptr<T, FreeDeleter>;

}  // namespace vr
