// The "android" audio backend: the host's media classes (AudioTrack,
// AudioRecord, AudioManager) through the Java VM. Its operations come with
// the Android audio bridge; until then the slot has a name and no
// operations, and the modem reports that it cannot open its audio device.
#ifdef __ANDROID__
#include "audio/backend.h"

namespace vr::audio {

const Backend kAndroidBackend = {
    .name = "android",
};

}  // namespace vr::audio
#endif
