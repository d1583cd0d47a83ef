#include "card/type_a_search.h"

#include <cstring>

#include "core/errors.h"
#include "link/reader_command.h"
#include "pcd.h"

namespace vr {
namespace {
constexpr uint16_t kCmdSearchTypeA = 0x0213;
constexpr uint8_t kWakeUp = 0x52;
}  // namespace

int search_type_a(picc *record) {
    if (!record) return fail(kENotSelected);
    if (pcd_set_picc_protocol('A') != 0) return -1;
    ReaderCommand c(kCmdSearchTypeA, {kWakeUp});
    const int rc = c.send();
    if (rc != 0) return rc;
    // Count of following bytes, ATQA (low byte first), UID of 4, 7 or 10
    // bytes, SAK.
    const auto reply = c.reply();
    const std::size_t n = reply.size();
    if (!((n == 8 || n == 11 || n == 14) && reply[0] == n - 1)) return fail(kEMsgWrong);
    record->atqa[0] = reply[1];
    record->atqa[1] = reply[2];
    record->uid_len = static_cast<int8_t>(n - 4);
    std::memcpy(record->uid, reply.data() + 3, n - 4);
    record->sak = reply[n - 1];
    record->card_status = PICC_STATUS_ACTIVE;
    return 0;
}

}  // namespace vr
