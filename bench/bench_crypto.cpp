// DES / triple-DES throughput of this library against OpenSSL's legacy DES
// routines, measured side by side in the same benchmark: every iteration
// runs a batch of our calls, then the same batch through OpenSSL. The
// reported time is ours; the counters give both throughputs and the ratio
// ours / OpenSSL (above 1: faster than OpenSSL).
//
//  api:    the exported Run1Des / Run3Des, which take the raw key on every
//          call; OpenSSL schedules the same key(s) on every call too.
//  engine: keys scheduled once (vr::des::Cipher / DES_key_schedule).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "crypto.h"
#include "crypto/des.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned char kKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                    0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01,
                                    0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23};
constexpr unsigned char kIv[8] = {0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, 0xEF};

enum class Op { EcbEncrypt, CbcEncrypt, CbcDecrypt };

struct OpenSslKeys {
    DES_key_schedule k1, k2, k3;
    void set(int keys) {
        DES_cblock b;
        std::memcpy(b, kKey, 8);
        DES_set_key_unchecked(&b, &k1);
        if (keys == 1) return;
        std::memcpy(b, kKey + 8, 8);
        DES_set_key_unchecked(&b, &k2);
        std::memcpy(b, kKey + 16, 8);
        DES_set_key_unchecked(&b, &k3);
    }
};

void openssl_run(OpenSslKeys &k, int keys, Op op, unsigned char *data, std::size_t n) {
    if (op == Op::EcbEncrypt) {
        for (std::size_t i = 0; i < n; i += 8) {
            auto *block = reinterpret_cast<DES_cblock *>(data + i);
            if (keys == 1)
                DES_ecb_encrypt(block, block, &k.k1, DES_ENCRYPT);
            else
                DES_ecb3_encrypt(block, block, &k.k1, &k.k2, &k.k3, DES_ENCRYPT);
        }
        return;
    }
    DES_cblock iv;
    std::memcpy(iv, kIv, 8);
    const int enc = op == Op::CbcEncrypt ? DES_ENCRYPT : DES_DECRYPT;
    if (keys == 1)
        DES_ncbc_encrypt(data, data, static_cast<long>(n), &k.k1, &iv, enc);
    else
        DES_ede3_cbc_encrypt(data, data, static_cast<long>(n), &k.k1, &k.k2, &k.k3, &iv, enc);
}

// Runs ours and theirs in batches of at least 4 KiB; reports ours.
template <class Ours, class Theirs>
void compare(benchmark::State &state, std::size_t size, Ours ours, Theirs theirs) {
    const std::size_t reps = size >= 4096 ? 1 : 4096 / size;
    double ours_s = 0, theirs_s = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (std::size_t r = 0; r < reps; ++r) ours();
        const auto t1 = Clock::now();
        for (std::size_t r = 0; r < reps; ++r) theirs();
        const auto t2 = Clock::now();
        const double a = std::chrono::duration<double>(t1 - t0).count();
        ours_s += a;
        theirs_s += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(a);
    }
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(reps * size);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["vantel_MBps"] = bytes / ours_s / 1e6;
    state.counters["openssl_MBps"] = bytes / theirs_s / 1e6;
    state.counters["ratio"] = theirs_s / ours_s;
}

void api(benchmark::State &state, int keys, Op op) {
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> ours(size, 0x5A), theirs(size, 0x5A);
    const int type = op == Op::CbcDecrypt ? 1 : 0;
    const int mode = op == Op::EcbEncrypt ? 0 : 1;
    auto fn = keys == 1 ? Run1Des : Run3Des;
    const auto n = static_cast<uint32_t>(size);
    compare(
        state, size,
        [&] {
            fn(type, mode, ours.data(), n, kKey, static_cast<uint32_t>(8 * keys), ours.data(), n,
               kIv);
            benchmark::DoNotOptimize(ours.data());
        },
        [&] {
            OpenSslKeys k;
            k.set(keys);
            openssl_run(k, keys, op, theirs.data(), size);
            benchmark::DoNotOptimize(theirs.data());
        });
}

void engine(benchmark::State &state, int keys, Op op) {
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> ours(size, 0x5A), theirs(size, 0x5A);
    vr::des::Cipher cipher;
    vr::des::init(cipher, kKey, keys);
    OpenSslKeys k;
    k.set(keys);
    const std::size_t blocks = size / 8;
    compare(
        state, size,
        [&] {
            if (op == Op::EcbEncrypt)
                vr::des::ecb(cipher, true, ours.data(), ours.data(), blocks);
            else
                vr::des::cbc(cipher, op == Op::CbcEncrypt, ours.data(), ours.data(), blocks, kIv);
            benchmark::DoNotOptimize(ours.data());
        },
        [&] {
            openssl_run(k, keys, op, theirs.data(), size);
            benchmark::DoNotOptimize(theirs.data());
        });
}

void sizes(benchmark::internal::Benchmark *b) {
    for (int size : {8, 64, 1024, 16384}) b->Arg(size);
    b->UseManualTime();
}

#define VR_DES_BENCH(kind, keys, op, label)                                           \
    void BM_##kind##_##label(benchmark::State &state) { kind(state, keys, Op::op); } \
    BENCHMARK(BM_##kind##_##label)->Apply(sizes)

VR_DES_BENCH(api, 1, EcbEncrypt, DES_ECB_encrypt);
VR_DES_BENCH(api, 1, CbcEncrypt, DES_CBC_encrypt);
VR_DES_BENCH(api, 1, CbcDecrypt, DES_CBC_decrypt);
VR_DES_BENCH(api, 3, EcbEncrypt, 3DES_ECB_encrypt);
VR_DES_BENCH(api, 3, CbcEncrypt, 3DES_CBC_encrypt);
VR_DES_BENCH(api, 3, CbcDecrypt, 3DES_CBC_decrypt);
VR_DES_BENCH(engine, 1, EcbEncrypt, DES_ECB_encrypt);
VR_DES_BENCH(engine, 1, CbcEncrypt, DES_CBC_encrypt);
VR_DES_BENCH(engine, 1, CbcDecrypt, DES_CBC_decrypt);
VR_DES_BENCH(engine, 3, EcbEncrypt, 3DES_ECB_encrypt);
VR_DES_BENCH(engine, 3, CbcEncrypt, 3DES_CBC_encrypt);
VR_DES_BENCH(engine, 3, CbcDecrypt, 3DES_CBC_decrypt);

}  // namespace

BENCHMARK_MAIN();
