// Infrared waveform conversion: byte order, clustering of durations,
// scaling to carrier cycles and byte compression, plus the decompressor.
// All stages are pure functions over the caller's arrays.
#include "card/ir_convert.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "core/errors.h"
#include "ir.h"
#include "log.h"

namespace vr {
namespace {

constexpr std::size_t kClusters = 32;
constexpr double kTolerance = 0.18;
constexpr uint8_t kEscape = 0xFF;

// One cluster of durations: its running-mean centre and member count. A
// centre of 0 marks a free entry.
struct Cluster {
    float centre = 0.0f;
    uint16_t members = 0;

    bool is_free() const { return centre == 0.0f; }
};
using ClusterTable = std::array<Cluster, kClusters>;

// v belongs to a cluster with centre c when it lies within 18% of c. The
// ratio is formed in single precision and compared in double precision,
// so a duration exactly 18% off (0.18f > 0.18) stays outside; kept so that
// conversions match earlier ones value for value.
bool matches(float centre, float value) {
    const float ratio = std::fabs(centre - value) / centre;
    return static_cast<double>(ratio) <= kTolerance;
}

uint16_t saturating_sum(uint16_t a, uint16_t b) {
    const unsigned sum = static_cast<unsigned>(a) + b;
    return static_cast<uint16_t>(sum > 0xFFFF ? 0xFFFF : sum);
}

// Merges members of weight `members` around `centre` into the entry.
void absorb(Cluster &entry, float centre, uint16_t members) {
    const float total = static_cast<float>(entry.members) + static_cast<float>(members);
    entry.centre = (entry.centre * entry.members + centre * members) / total;
    entry.members = saturating_sum(entry.members, members);
}

// First pass: each non-zero duration joins the first cluster it matches or
// opens the next free one. False when all 32 are taken and none matches.
bool gather(std::span<const uint16_t> values, ClusterTable &table) {
    for (const uint16_t v : values) {
        if (v == 0) continue;
        const float value = static_cast<float>(v);
        bool placed = false;
        for (Cluster &entry : table) {
            if (entry.is_free()) {
                entry = Cluster{value, 1};
                placed = true;
            } else if (matches(entry.centre, value)) {
                absorb(entry, value, 1);
                placed = true;
            }
            if (placed) break;
        }
        if (!placed) return false;
    }
    return true;
}

std::size_t used_entries(const ClusterTable &table) {
    std::size_t n = 0;
    while (n < table.size() && table[n].members != 0) ++n;
    return n;
}

// Second pass: running means drift, so clusters opened early may have
// moved within tolerance of each other; fold them together.
ClusterTable merge(const ClusterTable &first, std::size_t used) {
    ClusterTable merged{};
    for (std::size_t k = 0; k < used; ++k) {
        const Cluster &from = first[k];
        if (static_cast<unsigned>(from.centre) == 0) continue;
        for (Cluster &entry : merged) {
            if (entry.is_free()) {
                entry = from;
                break;
            }
            if (matches(entry.centre, from.centre)) {
                absorb(entry, from.centre, from.members);
                break;
            }
        }
    }
    return merged;
}

// Final pass: each non-zero duration takes the centre of the first merged
// cluster it matches; one that matches none keeps its value.
void snap(std::span<uint16_t> values, const ClusterTable &merged) {
    for (uint16_t &v : values) {
        if (v == 0) continue;
        for (const Cluster &entry : merged) {
            if (entry.is_free()) continue;
            if (matches(entry.centre, static_cast<float>(v))) {
                v = static_cast<uint16_t>(entry.centre);
                break;
            }
        }
    }
}

std::size_t zipped_size(uint16_t v) {
    return v >= 256 ? 3 : v == 255 ? 2 : 1;
}

}  // namespace

std::size_t ir_zip_size(const uint16_t *values, std::size_t count) {
    std::size_t size = 0;
    for (std::size_t i = 0; values && i < count; ++i) size += zipped_size(values[i]);
    return size;
}

int ir_convert_waveform(const uint8_t *samples, uint8_t *out, int *length) {
    if (!samples || !out || !length || *length < 0) return fail(kEArg);
    const auto in_bytes = static_cast<std::size_t>(*length);
    if (in_bytes > kIrWorkBufferSize) return fail(kEArg);

    constexpr std::size_t kValues = kIrWorkBufferSize / sizeof(uint16_t);
    std::unique_ptr<uint16_t[]> durations(new (std::nothrow) uint16_t[kValues]);
    std::unique_ptr<uint8_t[]> stream(new (std::nothrow) uint8_t[kIrWorkBufferSize]);
    if (!durations || !stream) return fail(kENoMem);

    // The host sends each duration most significant byte first.
    const std::size_t count = in_bytes / 2;
    std::memcpy(durations.get(), samples, count * sizeof(uint16_t));
    if constexpr (std::endian::native == std::endian::little) {
        endian_swap(durations.get(), static_cast<int>(count));
    }
    if (ir_data_adjustment(durations.get(), static_cast<int>(count)) != 0) return -1;
    ir_data_analyzer(durations.get(), static_cast<int>(count));

    if (ir_zip_size(durations.get(), count) > kIrWorkBufferSize) return fail(kEArg);
    uint16_t reported = 0;
    if (ir_data_zip(durations.get(), static_cast<int>(count), stream.get(), &reported) < 0) {
        return -1;
    }
    std::memcpy(out, stream.get(), reported);
    *length = reported;
    return 0;
}

}  // namespace vr

using vr::fail;

extern "C" {

VR_API int endian_swap(uint16_t *values, int count) {
    if (count <= 0) return 0;
    if (!values) return fail(vr::kEArg);
    for (int i = 0; i < count; ++i) {
        values[i] = static_cast<uint16_t>(values[i] << 8 | values[i] >> 8);
    }
    return 0;
}

VR_API int ir_data_adjustment(uint16_t *values, int count) {
    if (count <= 0) return 0;
    if (!values) return fail(vr::kEArg);
    const std::span<uint16_t> durations(values, static_cast<std::size_t>(count));

    vr::ClusterTable first{};
    if (!vr::gather(durations, first)) {
        log_print(LOG_LEVEL_E, "ir_data_adjustment: more than %zu duration clusters\n",
                  vr::kClusters);
        format_display(values, count, 2);
        return fail(vr::kEUnknown);
    }
    const std::size_t used = vr::used_entries(first);
    for (std::size_t k = 0; k < used; ++k) {
        log_print(LOG_LEVEL_D, "tmp_cnt[%zu]:%x, %f, %x ", k,
                  static_cast<unsigned>(first[k].centre), static_cast<double>(first[k].centre),
                  static_cast<unsigned>(first[k].members));
    }
    vr::snap(durations, vr::merge(first, used));
    return 0;
}

VR_API int ir_data_analyzer(uint16_t *values, int count) {
    if (count <= 0) return 0;
    if (!values) return fail(vr::kEArg);
    for (int i = 0; i < count; ++i) {
        const unsigned v = values[i];
        values[i] = static_cast<uint16_t>((v * 76 / 1000 + 1) / 2);
    }
    return 0;
}

VR_API int ir_data_zip(const uint16_t *values, int count, uint8_t *out, uint16_t *out_length) {
    if (count < 0 || (count > 0 && (!values || !out))) return fail(vr::kEArg);
    const std::size_t size = vr::ir_zip_size(values, static_cast<std::size_t>(count));
    // The loader is told the offset of the last byte, not the byte count.
    const std::size_t reported = size == 0 ? 0 : size - 1;
    if (reported > 0xFFFF) return fail(vr::kEArg);

    std::size_t n = 0;
    for (int i = 0; i < count; ++i) {
        const uint16_t v = values[i];
        if (v >= 256) {
            out[n++] = vr::kEscape;
            out[n++] = static_cast<uint8_t>(v >> 8);
            out[n++] = static_cast<uint8_t>(v & 0xFF);
        } else if (v == 255) {
            out[n++] = vr::kEscape;
            out[n++] = vr::kEscape;
        } else {
            out[n++] = static_cast<uint8_t>(v);
        }
    }
    if (out_length) *out_length = static_cast<uint16_t>(reported);
    return static_cast<int>(reported);
}

VR_API int ir_data_unzip(const uint8_t *bytes, int byte_count, uint16_t *values,
                         int *value_count) {
    if (byte_count > 0 && (!bytes || !values)) return fail(vr::kEArg);
    const std::size_t size = byte_count > 0 ? static_cast<std::size_t>(byte_count) : 0;
    int produced = 0;
    std::size_t i = 0;
    while (i < size) {
        if (bytes[i] != vr::kEscape) {
            values[produced++] = bytes[i++];
        } else if (i + 1 < size && bytes[i + 1] == vr::kEscape) {
            values[produced++] = 255;
            i += 2;
        } else if (i + 2 < size) {
            values[produced++] = static_cast<uint16_t>(bytes[i + 1] << 8 | bytes[i + 2]);
            i += 3;
        } else {
            break;  // an escape cut short by the end of the stream
        }
    }
    if (value_count) *value_count = produced;
    return produced;
}

}  // extern "C"
