// The native side of the stand-in media classes' line (class
// com.vantel.rfid.testing.SimulatedLine): a simulated reader's audio front
// end on a virtual line, with the line's host end driven by the stand-in
// AudioTrack and AudioRecord. The library under test reaches those through
// the Java VM, so samples go library -> JNI -> stand-in -> here -> reader.
//
// This library carries its own copy of the virtual line and the simulator
// (linked statically, every symbol kept private), apart from the library
// under test that the VM loaded: the line it serves is the one the
// "line" backend would use, but in this copy.
#include <jni.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/backend.h"
#include "card_words.h"
#include "jni_chars.h"
#include "line_port.h"

namespace {

using vr::audio::kLineBackend;
using vr::audio::kPlayback;
using vr::audio::kRecord;

// The simulated reader, made by open and dropped by shut, both under
// g_lock. A plain pointer: a global with a destructor would run at the
// VM's exit on whatever thread calls exit, without the lock, and could
// race a late shut.
std::mutex g_lock;
vrsim::AudioFrontEnd *g_front = nullptr;

using vrtest::chars;

}  // namespace

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_vantel_rfid_testing_SimulatedLine_open(JNIEnv *env, jclass, jstring card,
                                                                             jdouble speed) {
    std::lock_guard hold(g_lock);
    if (g_front) return JNI_FALSE;
    vr::audio::line::Options line;
    line.speed = speed;
    g_front = vrsim::start_line_simulator({}, line).release();
    if (!g_front) return JNI_FALSE;
    const std::string described = chars(env, card);
    if (!described.empty()) {
        std::string error;
        auto c = vrsim::make_card_from_option(described, &error);
        if (!c) return JNI_FALSE;
        g_front->field().place(c);
    }
    return JNI_TRUE;
}

JNIEXPORT void JNICALL Java_com_vantel_rfid_testing_SimulatedLine_shut(JNIEnv *, jclass) {
    std::lock_guard hold(g_lock);
    delete g_front;
    g_front = nullptr;
}

JNIEXPORT void JNICALL Java_com_vantel_rfid_testing_SimulatedLine_plug(JNIEnv *, jclass, jboolean in) {
    vr::audio::line::plug(in == JNI_TRUE);
}

JNIEXPORT jdouble JNICALL Java_com_vantel_rfid_testing_SimulatedLine_uplinkFrequency(JNIEnv *, jclass) {
    std::lock_guard hold(g_lock);
    return g_front ? g_front->uplink_frequency() : -1.0;
}

JNIEXPORT jlong JNICALL Java_com_vantel_rfid_testing_SimulatedLine_bytesHeard(JNIEnv *, jclass) {
    std::lock_guard hold(g_lock);
    return g_front ? static_cast<jlong>(g_front->bytes_heard()) : -1;
}

// Starts (making it first) or stops one direction of the line's host end.
JNIEXPORT jint JNICALL Java_com_vantel_rfid_testing_SimulatedLine_lineRun(JNIEnv *, jclass, jboolean playback,
                                                                      jboolean on) {
    const int direction = playback ? kPlayback : kRecord;
    if (!on) return kLineBackend.stop(direction);
    if (kLineBackend.init(direction, playback ? 2 : 1, 44100, 512) != 0) return -1;
    return kLineBackend.start(direction);
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_testing_SimulatedLine_linePlay(JNIEnv *env, jclass, jbyteArray data,
                                                                       jint offset, jint n) {
    std::vector<int16_t> samples(static_cast<std::size_t>(n / 2));
    env->GetByteArrayRegion(data, offset, n & ~1, reinterpret_cast<jbyte *>(samples.data()));
    const int taken = kLineBackend.write(samples.data(), static_cast<int>(samples.size()));
    return taken < 0 ? -1 : taken * 2;
}

JNIEXPORT jint JNICALL Java_com_vantel_rfid_testing_SimulatedLine_lineRecord(JNIEnv *env, jclass, jbyteArray out,
                                                                         jint offset, jint n) {
    std::vector<int16_t> samples(static_cast<std::size_t>(n / 2));
    const int got = kLineBackend.read(samples.data(), static_cast<int>(samples.size()));
    if (got <= 0) return got;
    env->SetByteArrayRegion(out, offset, got * 2, reinterpret_cast<const jbyte *>(samples.data()));
    return got * 2;
}

}  // extern "C"
