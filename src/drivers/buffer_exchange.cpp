#include "drivers/buffer_exchange.h"

#include <cstring>

#include "core/errors.h"
#include "link/reader_command.h"
#include "log.h"

namespace vr {

int exchange_in_buffer(uint16_t command, unsigned char *buffer, Route route) {
    if (!buffer) return fail(kEArg);
    ReaderCommand c(command);
    c.append(buffer + 1, buffer[0]);
    const int rc = c.send(route);
    if (rc != 0) return rc;
    const auto reply = c.reply();
    // The caller's buffer is only known to hold what its length byte can
    // count: a longer answer would run past it.
    if (reply.size() > kBufferAnswerMax) {
        log_print(1, "card answer of %d bytes does not fit the exchange buffer", static_cast<int>(reply.size()));
        return fail(kEMsgWrong);
    }
    buffer[0] = static_cast<unsigned char>(reply.size());
    std::memcpy(buffer + 1, reply.data(), reply.size());
    return 0;
}

}  // namespace vr
