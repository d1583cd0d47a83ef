// Counted byte buffer.
#include "stbuff.h"

#include <cstdlib>
#include <cstring>

VR_API stbuff *stbuff_create(const void *data, int size) {
    if (data && size < 0) return nullptr;
    auto *b = static_cast<stbuff *>(std::calloc(1, sizeof(stbuff)));
    if (!b || !data) return b;
    b->data = static_cast<unsigned char *>(std::malloc(size > 0 ? size : 1));
    if (!b->data) {
        std::free(b);
        return nullptr;
    }
    std::memcpy(b->data, data, static_cast<std::size_t>(size));
    b->length = size;
    return b;
}

VR_API void stbuff_delete(stbuff *buffer) {
    if (!buffer || !buffer->data || buffer->length <= 0) return;
    std::free(buffer->data);
    std::free(buffer);
}

VR_API int stbuff_length(const stbuff *buffer) {
    if (!buffer || buffer->length < 1) return -1;
    return buffer->length;
}

VR_API unsigned char *stbuff_data(const stbuff *buffer) {
    return buffer ? buffer->data : nullptr;
}

VR_API int stbuff_replace(stbuff *buffer, const void *data, int size) {
    if (!buffer) return -1;
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->length = 0;
    if (size <= 0 || !data) return size == 0 ? 0 : -1;
    buffer->data = static_cast<unsigned char *>(std::malloc(static_cast<std::size_t>(size)));
    if (!buffer->data) return -1;
    std::memcpy(buffer->data, data, static_cast<std::size_t>(size));
    buffer->length = size;
    return 0;
}
