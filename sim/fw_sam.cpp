// The reader's SAM commands. The reader hands the SAM frame it is sent to
// its SAM (sam.h) and returns the SAM's answer frame as the reply data.
//
//   0x0305 frame   the SAM's answer (a body that does not open with the
//                  SAM preamble is an APDU batch for a type B card,
//                  fw_iso_dep.cpp)
//   0x0306 frame   for 30 10: the answer without the text and photo
//                  records (the SAM's length field stays; the check byte
//                  is made anew); any other answer unchanged
//   0x008B frame   as 0x0305, for hosts that can send only one-byte
//                  command codes (protocol 6)
#include <algorithm>

#include "fw_activation.h"
#include "sam.h"

namespace vrsim {
namespace {

constexpr uint8_t kSamPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};

bool is_sam_frame(ByteView body) {
    return body.size() >= sizeof kSamPreamble && std::equal(std::begin(kSamPreamble), std::end(kSamPreamble), body.begin());
}

Reply to_sam(FirmwareState& st, const Request& rq) {
    return Reply::ok(st.sam.answer(rq.data, st.field, st.settings.antenna_on));
}

Reply sam_or_batch(FirmwareState& st, const Request& rq) {
    return is_sam_frame(rq.data) ? to_sam(st, rq) : type_b_batch(st, rq);
}

Reply sam_fingerprint_only(FirmwareState& st, const Request& rq) {
    return Reply::ok(sam_frame::without_text_and_photo(st.sam.answer(rq.data, st.field, st.settings.antenna_on)));
}

}  // namespace

void install_sam_commands(CommandTable& t, Family family) {
    t.add(0x008B, to_sam);
    if (family == Family::second) return;
    t.add(0x0305, sam_or_batch);
    t.add(0x0306, sam_fingerprint_only);
}

}  // namespace vrsim
