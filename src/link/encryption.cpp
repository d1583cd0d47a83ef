// Switching the link encryption of the command exchange: the session key
// comes from the reader itself.
#include <cstring>

#include "link/link.h"
#include "pcd.h"
#include "tessil.h"

namespace vr::link {

void encryption_off() { tessil.s_com.enc_on = 0; }

int encryption_on() {
    unsigned char key[sizeof tessil.s_com.enc_key];
    const int rc = do_pcd_get_rand(key, sizeof key);
    if (rc == 0) {
        std::memcpy(tessil.s_com.enc_key, key, sizeof key);
        tessil.s_com.enc_on = 1;
    }
    return rc;
}

}  // namespace vr::link
