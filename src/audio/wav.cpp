// The WAV header record, and reading and writing it: see wav.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "audio/wav_parse.h"
#include "core/errors.h"

namespace vr::audio::wav {

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint32_t kFormatChunkSize = 16;
constexpr uint32_t kFactChunkSize = 4;
// A file with more chunks before its samples is not one of ours.
constexpr int kMaxChunks = 64;

// Offsets of the fields in the header bytes.
constexpr std::size_t kRiffSize = 4;
constexpr std::size_t kFormat = 20;
constexpr std::size_t kChannels = 22;
constexpr std::size_t kRate = 24;
constexpr std::size_t kBytesPerSecond = 28;
constexpr std::size_t kFrameSize = 32;
constexpr std::size_t kPrecision = 34;
constexpr std::size_t kAfterFormat = 36;
constexpr std::size_t kFactCount = 44;

constexpr std::size_t kPlainSize = 44;
constexpr std::size_t kFactSize = 56;

bool known(const wav_header *h) { return h && (h->layout == WAV_LAYOUT_PLAIN || h->layout == WAV_LAYOUT_FACT); }

std::size_t data_size_at(const wav_header &h) { return h.layout == WAV_LAYOUT_FACT ? 52 : 40; }

void put16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
uint16_t get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t *p) { return get16(p) | static_cast<uint32_t>(get16(p + 2)) << 16; }

void put_tag(uint8_t *p, const char *tag) { std::memcpy(p, tag, 4); }
bool is_tag(const uint8_t *p, const char *tag) { return std::memcmp(p, tag, 4) == 0; }

// The tags and fixed fields of a layout, from the data chunk head back.
void write_skeleton(wav_header &h) {
    uint8_t *b = h.bytes;
    put_tag(b, "RIFF");
    put_tag(b + 8, "WAVE");
    put_tag(b + 12, "fmt ");
    put32(b + 16, kFormatChunkSize);
    put16(b + kFormat, kPcm);
    if (h.layout == WAV_LAYOUT_FACT) {
        put_tag(b + kAfterFormat, "fact");
        put32(b + 40, kFactChunkSize);
        put_tag(b + 48, "data");
    } else {
        put_tag(b + kAfterFormat, "data");
    }
}

template <typename T>
int set(wav_header *h, std::size_t at, T value) {
    if (!known(h)) return -1;
    if constexpr (sizeof(T) == 2) put16(h->bytes + at, value);
    else put32(h->bytes + at, value);
    return 0;
}

int64_t get16_at(const wav_header *h, std::size_t at) { return known(h) ? int64_t{get16(h->bytes + at)} : -1; }
int64_t get32_at(const wav_header *h, std::size_t at) { return known(h) ? int64_t{get32(h->bytes + at)} : -1; }

// ---- parsing

struct Chunk {
    uint8_t id[4];
    uint32_t size;
    uint64_t body;  // offset of its first byte
};

bool read_chunk_head(const Source &s, uint64_t at, uint64_t end, Chunk &c) {
    uint8_t head[8];
    if (at + sizeof head > end || !s.read(s.context, at, head, sizeof head)) return false;
    std::memcpy(c.id, head, 4);
    c.size = get32(head + 4);
    c.body = at + sizeof head;
    return c.body + c.size <= end;  // a chunk never reaches past its file
}

bool parse_format(const Source &s, const Chunk &c, wav_header &h) {
    if (c.size < kFormatChunkSize) return false;
    uint8_t *f = h.bytes + kFormat;  // the 16 bytes after the chunk head
    if (!s.read(s.context, c.body, f, kFormatChunkSize)) return false;
    const uint16_t format = get16(h.bytes + kFormat), channels = get16(h.bytes + kChannels);
    const uint16_t frame = get16(h.bytes + kFrameSize), bits = get16(h.bytes + kPrecision);
    if (format != kPcm || (bits != 8 && bits != 16) || channels == 0 || get32(h.bytes + kRate) == 0) return false;
    // Players step through the samples by frames: the frame size must be
    // what the channels and precision make.
    return frame == channels * (bits / 8);
}

}  // namespace

bool parse(const Source &s, wav_header &h, uint64_t &data_offset) {
    std::memset(&h, 0, sizeof h);
    uint8_t riff[12];
    if (s.size < sizeof riff || !s.read(s.context, 0, riff, sizeof riff)) return false;
    if (!is_tag(riff, "RIFF") || !is_tag(riff + 8, "WAVE")) return false;
    const uint64_t end = uint64_t{get32(riff + kRiffSize)} + 8;
    if (end > s.size) return false;
    std::memcpy(h.bytes, riff, sizeof riff);

    bool have_format = false, have_fact = false;
    uint32_t fact_count = 0;
    uint64_t at = sizeof riff;
    for (int i = 0; i < kMaxChunks; ++i) {
        Chunk c;
        if (!read_chunk_head(s, at, end, c)) return false;
        if (is_tag(c.id, "fmt ")) {
            if (have_format || !parse_format(s, c, h)) return false;
            have_format = true;
        } else if (is_tag(c.id, "fact")) {
            uint8_t count[4];
            if (c.size < kFactChunkSize || !s.read(s.context, c.body, count, sizeof count)) return false;
            have_fact = true;
            fact_count = get32(count);
        } else if (is_tag(c.id, "data")) {
            if (!have_format) return false;
            h.layout = have_fact ? WAV_LAYOUT_FACT : WAV_LAYOUT_PLAIN;
            write_skeleton(h);
            if (have_fact) put32(h.bytes + kFactCount, fact_count);
            put32(h.bytes + data_size_at(h), c.size);
            data_offset = c.body;
            return true;
        }
        at = c.body + c.size + (c.size & 1);  // chunks are padded to even lengths
    }
    return false;
}

}  // namespace vr::audio::wav

using namespace vr::audio::wav;

namespace {

bool read_fd(void *context, uint64_t offset, void *out, std::size_t n) {
    const int fd = *static_cast<int *>(context);
    auto *p = static_cast<uint8_t *>(out);
    while (n > 0) {
        const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace

VR_API void wav_file_init_header(wav_header *header, int layout) {
    if (!header) return;
    std::memset(header, 0, sizeof *header);
    header->layout = layout;
    if (known(header)) write_skeleton(*header);
}

VR_API int wav_file_header_size(const wav_header *header) {
    if (!known(header)) return -1;
    return static_cast<int>(header->layout == WAV_LAYOUT_FACT ? kFactSize : kPlainSize);
}

VR_API int wav_file_set_fsize(wav_header *h, uint32_t fsize) { return set(h, kRiffSize, fsize - 8); }
VR_API int wav_file_set_dsize(wav_header *h, uint32_t dsize) { return known(h) ? set(h, data_size_at(*h), dsize) : -1; }
VR_API int wav_file_set_rate(wav_header *h, uint32_t rate) { return set(h, kRate, rate); }
VR_API int wav_file_set_bps(wav_header *h, uint32_t bps) { return set(h, kBytesPerSecond, bps); }
VR_API int wav_file_set_ssize(wav_header *h, uint16_t ssize) { return set(h, kFrameSize, ssize); }
VR_API int wav_file_set_precision(wav_header *h, uint16_t bits) { return set(h, kPrecision, bits); }
VR_API int wav_file_set_channels(wav_header *h, uint16_t channels) { return set(h, kChannels, channels); }

VR_API int64_t wav_file_get_fsize(const wav_header *h) {
    const int64_t field = get32_at(h, kRiffSize);
    return field < 0 ? -1 : field + 8;
}
VR_API int64_t wav_file_get_dsize(const wav_header *h) { return known(h) ? get32_at(h, data_size_at(*h)) : int64_t{-1}; }
VR_API int64_t wav_file_get_rate(const wav_header *h) { return get32_at(h, kRate); }
VR_API int64_t wav_file_get_bps(const wav_header *h) { return get32_at(h, kBytesPerSecond); }
VR_API int64_t wav_file_get_ssize(const wav_header *h) { return get16_at(h, kFrameSize); }
VR_API int64_t wav_file_get_precision(const wav_header *h) { return get16_at(h, kPrecision); }
VR_API int64_t wav_file_get_channels(const wav_header *h) { return get16_at(h, kChannels); }

VR_API int wav_file_set_header(int fd, const wav_header *header) {
    const int size = wav_file_header_size(header);
    if (size < 0 || fd < 0) return vr::fail(vr::kEArg);
    if (lseek(fd, 0, SEEK_SET) != 0) return -1;
    const uint8_t *p = header->bytes;
    for (int left = size; left > 0;) {
        const ssize_t n = write(fd, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        p += n;
        left -= static_cast<int>(n);
    }
    return 0;
}

VR_API int wav_file_get_header(int fd, wav_header *header) {
    struct stat st;
    if (!header || fd < 0 || fstat(fd, &st) != 0) return vr::fail(vr::kEArg);
    int descriptor = fd;
    const Source source{static_cast<uint64_t>(st.st_size), read_fd, &descriptor};
    uint64_t data_offset = 0;
    if (!parse(source, *header, data_offset)) return vr::fail(vr::kENotWav);
    if (lseek(fd, static_cast<off_t>(data_offset), SEEK_SET) < 0) return -1;
    return 0;
}

VR_API int wav_file_open(const char *path, wav_header *header) {
    if (!path || !header) return vr::fail(vr::kEArg);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (wav_file_get_header(fd, header) != 0) {
        const int code = errno;
        close(fd);
        errno = code;
        return -1;
    }
    return fd;
}
