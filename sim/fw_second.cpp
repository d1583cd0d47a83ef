// Reader commands of the second family (protocol 6, one-byte codes).
#include "firmware.h"

namespace vrsim {
namespace {

// 0x87: card protocol 'A' or 'B'.
Reply set_picc_protocol(FirmwareState& st, const Request& rq) {
    if (rq.data.size() != 1 || (rq.data[0] != 'A' && rq.data[0] != 'B'))
        return Reply::error(status::dc_bad_argument);
    st.settings.picc_protocol = rq.data[0];
    return Reply::ok();
}

}  // namespace

void install_second_family_commands(CommandTable& t) {
    t.add(0x87, set_picc_protocol);
}

}  // namespace vrsim
