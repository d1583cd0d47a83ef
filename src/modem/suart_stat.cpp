// The modem's status words, shared between the modem's threads and the
// caller's thread; each read or write holds the modem mutex.
#include "core/lock.h"
#include "modem/modem.h"

namespace {

using vr::modem::state;

int store(int32_t suart_state::*word, int value) {
    vr::MutexHold hold(&state().lock);
    state().*word = value;
    return 0;
}

int load(int32_t suart_state::*word) {
    vr::MutexHold hold(&state().lock);
    return state().*word;
}

}  // namespace

VR_API int suart_set_calistat(int value) { return store(&suart_state::calistat, value); }
VR_API int suart_get_calistat(void) { return load(&suart_state::calistat); }
VR_API int suart_set_trackstat(int value) { return store(&suart_state::trackstat, value); }
VR_API int suart_get_trackstat(void) { return load(&suart_state::trackstat); }
VR_API int suart_set_plugstat(int value) { return store(&suart_state::plugstat, value); }
VR_API int suart_get_plugstat(void) { return load(&suart_state::plugstat); }
VR_API int suart_set_routestat(int value) { return store(&suart_state::routestat, value); }
VR_API int suart_get_routestat(void) { return load(&suart_state::routestat); }
VR_API int suart_set_categstat(int value) { return store(&suart_state::categstat, value); }
VR_API int suart_get_categstat(void) { return load(&suart_state::categstat); }
