// The platform's USB access (core/platform.h).
#include "core/platform.h"

namespace vr::platform {

bool usb_device_walk_allowed() {
#ifdef __ANDROID__
    return false;
#else
    return true;
#endif
}

}  // namespace vr::platform
