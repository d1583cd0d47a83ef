// CPU per second of audio streamed through the "android" backend (the
// library's JNI calls into android.media.AudioTrack, here the stand-in
// class with a sink that takes samples at audio pace) against the "pulse"
// backend (a private PulseAudio server) in the same run. Both stream the
// same stereo samples in the modem's pieces for the same audio time; the
// process's CPU time divided by the seconds of audio is reported for each,
// and their ratio.
#include <benchmark/benchmark.h>
#include <jni.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "audio/backend.h"
#include "core/jvm.h"
#include "private_pulse.h"

namespace {

constexpr int kRate = 44100;
constexpr int kPieceFrames = 512;  // what the modem's send thread writes at once
constexpr double kSeconds = 2.0;

double process_cpu() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Streams kSeconds of a tone through the backend: CPU seconds per second of
// audio, or -1 when the stream cannot be made.
double stream(const vr::audio::Backend &b) {
    using vr::audio::kPlayback;
    if (b.init(kPlayback, 2, kRate, kPieceFrames) != 0 || b.start(kPlayback) != 0) return -1;
    std::vector<int16_t> piece(2 * kPieceFrames);
    for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<int16_t>((i / 8) % 2 ? 9000 : -9000);
    const long pieces = static_cast<long>(kSeconds * kRate / kPieceFrames);
    const double cpu0 = process_cpu();
    for (long p = 0; p < pieces; ++p) {
        for (int done = 0; done < static_cast<int>(piece.size());) {
            const int n = b.write(piece.data() + done, static_cast<int>(piece.size()) - done);
            if (n < 0) return -1;
            done += n;
        }
    }
    const double cpu = process_cpu() - cpu0;
    b.uninit(kPlayback);
    return cpu / kSeconds;
}

JavaVM *g_vm = nullptr;

bool start_vm() {
    if (g_vm) return true;
    JavaVMOption options[] = {{const_cast<char *>("-Djava.class.path=" VR_AUDIO_BENCH_CLASSPATH), nullptr}};
    JavaVMInitArgs args{JNI_VERSION_1_6, 1, options, JNI_FALSE};
    JNIEnv *env = nullptr;
    if (JNI_CreateJavaVM(&g_vm, reinterpret_cast<void **>(&env), &args) != JNI_OK) return false;
    vr::jni::set_vm(g_vm);
    jclass sink_class = env->FindClass("PacedSink");
    jclass line_class = env->FindClass("com/vantel/rfid/standins/SampleLine");
    if (!sink_class || !line_class) return false;
    jobject sink = env->NewObject(sink_class, env->GetMethodID(sink_class, "<init>", "()V"));
    jmethodID install = env->GetStaticMethodID(line_class, "install", "(Lcom/vantel/rfid/standins/SampleLine;)V");
    if (!sink || !install) return false;
    env->CallStaticVoidMethod(line_class, install, sink);
    return !env->ExceptionCheck();
}

void BM_StreamingCpu(benchmark::State &state) {
    vrtest::PrivatePulse server;
    if (!server.running()) {
        state.SkipWithError(("no private sound server: " + server.error()).c_str());
        return;
    }
    if (!start_vm()) {
        state.SkipWithError("the Java VM with the stand-in media classes did not start");
        return;
    }
    double jni = 0, pulse = 0;
    // One warm-up pass each: the VM compiles the stand-in's hot paths.
    stream(vr::audio::kAndroidBackend);
    for (auto _ : state) {
        jni = stream(vr::audio::kAndroidBackend);
        pulse = stream(vr::audio::kPulseBackend);
        if (jni < 0 || pulse < 0) {
            state.SkipWithError("a stream could not be made");
            return;
        }
    }
    state.counters["jni_cpu_per_audio_s"] = jni;
    state.counters["pulse_cpu_per_audio_s"] = pulse;
    state.counters["jni_over_pulse"] = pulse > 0 ? jni / pulse : 0;
}
BENCHMARK(BM_StreamingCpu)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
