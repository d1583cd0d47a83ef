// Switching the link encryption of the command exchange: the session key
// comes from the reader itself.
#include <cstring>

#include "core/errors.h"
#include "link/link.h"
#include "pcd.h"
#include "tessil.h"

namespace vr::link {

void encryption_off() { tessil.s_com.enc_on = 0; }

int set_encryption(int value) {
    if (value == 0) {
        encryption_off();
        return 0;
    }
    if (value != 1) return -1;
    unsigned char key[sizeof tessil.s_com.enc_key];
    const int rc = do_pcd_get_rand(key, sizeof key);
    if (rc == 0) {
        std::memcpy(tessil.s_com.enc_key, key, sizeof key);
        tessil.s_com.enc_on = 1;
    }
    return vr::clamped(vr::result_or_code(rc));
}

}  // namespace vr::link
