// The modem's control codes, on the modem's settings in the state record.
#include "modem/control.h"

#include "core/errors.h"
#include "crypto.h"
#include "modem/modem.h"
#include "port/port.h"
#include "suart_signal.h"

namespace vr::modem {

int control_settings(int sub_code, int value) {
    switch (sub_code) {
    case 1: return set_uplink_alg(value);
    case 2: return set_suart_debug(value);
    case 3: return uplink_alg();
    case 4: return suart_debug();
    case 5: return up_short_width();
    case 6: {
        const int mid = level_mid();
        return mid < 0 ? -mid : mid;
    }
    case 7:
        com_alg_test1(value);
        return 0;
    case 8:
        vr::port::set_timeout_ms(value);
        return 0;
    case 9: return vr::port::timeout_ms();
    // The channel test (0) needs the modem device, not part of this build.
    case 0: return vr::fail(vr::kENoCmd);
    default: return 0;
    }
}

int control_uplink_info(int *words) {
    if (!words) return vr::kEArg;
    words[0] = uplink_alg();
    words[1] = signal_width2freq(up_short_width());
    return 0;
}

}  // namespace vr::modem
