// What a Java native call adds to the C call it wraps. A Java VM runs in
// this process with the library's jar; a card record whose driver answers
// at once (no reader traffic) stands in the open-card list, so that only
// the bridge's own work is left: the reader object's fields read, the card
// found, the arrays copied, the buffer field written. Each round times a
// batch of C calls and a batch of the same calls made from Java, back to
// back, and reports the thread's CPU microseconds per call for both and
// their difference.
#include <benchmark/benchmark.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "cpu_clock.h"
#include "jobj.h"
#include "picc.h"
#include "tessil.h"

namespace {

constexpr int kBatch = 2000;
constexpr int kWarmUp = 50000;
constexpr int kUplinkInfo = 48;  // writes two words into an area; no reader traffic

JavaVM *vm = nullptr;
JNIEnv *env = nullptr;
jclass bench_class = nullptr;
jmethodID read_loop = nullptr;
jmethodID ctrl_loop = nullptr;
jobject reader = nullptr;
jbyteArray java_block = nullptr;
picc *card = nullptr;

int instant_read(unsigned char *buffer, uint8_t block) {
    std::memset(buffer, block, 16);
    return 0;
}
int block_length(uint16_t) { return 16; }

// A MIFARE-like card record in the open-card list, whose read needs no
// reader.
picc *instant_card() {
    auto *record = static_cast<picc *>(std::calloc(1, sizeof(picc)));
    record->read = instant_read;
    record->blklen = block_length;
    const unsigned char uid[4] = {0xB1, 0xB2, 0xB3, 0xB4};
    std::memcpy(record->uid, uid, sizeof uid);
    record->uid_len = 4;
    record->vendor = strdup("bench");
    record->picc_type = strdup("Mifare S50");
    record->card_status = PICC_STATUS_ACTIVE;
    piccs_list_add(&tessil.piccs, record);
    return record;
}

bool check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "bench_bridge: %s\n", what);
        if (env && env->ExceptionCheck()) env->ExceptionDescribe();
    }
    return ok;
}

bool start_vm() {
    std::string class_path = "-Djava.class.path=" VR_BRIDGE_CLASSPATH;
    std::string library_path = "-Djava.library.path=" VR_LIBRARY_DIR;
    JavaVMOption options[2];
    options[0].optionString = class_path.data();
    options[1].optionString = library_path.data();
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = 2;
    args.options = options;
    void *e = nullptr;
    if (!check(JNI_CreateJavaVM(&vm, &e, &args) == JNI_OK, "the Java VM did not start")) return false;
    env = static_cast<JNIEnv *>(e);

    card = instant_card();
    jclass reader_class = env->FindClass("com/vantel/rfid/RFIDReader");
    bench_class = env->FindClass("BridgeBench");
    if (!check(reader_class && bench_class, "classes not found")) return false;
    read_loop = env->GetStaticMethodID(bench_class, "readLoop", "(Lcom/vantel/rfid/RFIDReader;[BI)I");
    ctrl_loop = env->GetStaticMethodID(bench_class, "ctrlLoop", "(Lcom/vantel/rfid/RFIDReader;II)I");
    jmethodID make = env->GetMethodID(reader_class, "<init>", "()V");
    if (!check(read_loop && ctrl_loop && make, "methods not found")) return false;
    reader = env->NewGlobalRef(env->NewObject(reader_class, make));
    java_block = static_cast<jbyteArray>(env->NewGlobalRef(env->NewByteArray(16)));
    // Bound to the card as picc_open would bind it.
    if (!check(jobj_settype(env, reader, card->picc_type) == 0 && jobj_setvendor(env, reader, card->vendor) == 0 &&
                   jobj_setuid(env, reader, card->uid, card->uid_len) == 0,
               "the reader object cannot be bound"))
        return false;
    // Let the VM compile the loops before anything is timed.
    return check(env->CallStaticIntMethod(bench_class, read_loop, reader, java_block, kWarmUp) == 0 &&
                     env->CallStaticIntMethod(bench_class, ctrl_loop, reader, kUplinkInfo, kWarmUp) == 0,
                 "the native calls fail");
}

// Both kinds of call run on this thread (the Java loop too), so its CPU
// time measures them without the time other processes take the CPU.
template <typename CCall, typename JavaBatch>
void compare(benchmark::State &state, CCall c_call, JavaBatch java_batch) {
    if (!env) {
        state.SkipWithError("no Java VM");
        return;
    }
    double c_s = 0;
    double java_s = 0;
    int failures = 0;
    for (auto _ : state) {
        double t0 = vrbench::thread_cpu_seconds();
        for (int i = 0; i < kBatch; ++i) failures += c_call() != 0;
        c_s += vrbench::thread_cpu_seconds() - t0;
        t0 = vrbench::thread_cpu_seconds();
        failures += java_batch() != 0;
        java_s += vrbench::thread_cpu_seconds() - t0;
    }
    const double calls = static_cast<double>(state.iterations()) * kBatch;
    state.counters["c_us"] = c_s / calls * 1e6;
    state.counters["java_us"] = java_s / calls * 1e6;
    state.counters["added_us"] = (java_s - c_s) / calls * 1e6;
    state.counters["failures"] = failures;
}

void BM_NativeRead(benchmark::State &state) {
    unsigned char block[16];
    compare(
        state, [&] { return picc_read(card, block, 4); },
        [&] { return env->CallStaticIntMethod(bench_class, read_loop, reader, java_block, kBatch); });
}
BENCHMARK(BM_NativeRead)->Unit(benchmark::kMillisecond);

void BM_NativeCtrlWithBuffer(benchmark::State &state) {
    int area[8];
    compare(
        state, [&] { return picc_ctrl(card, kUplinkInfo, area); },
        [&] { return env->CallStaticIntMethod(bench_class, ctrl_loop, reader, kUplinkInfo, kBatch); });
}
BENCHMARK(BM_NativeCtrlWithBuffer)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!start_vm()) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vm->DestroyJavaVM();
    return 0;
}
