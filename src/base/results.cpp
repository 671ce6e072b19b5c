#include "base/results.h"

namespace kelvo {
namespace rtc {
namespace web {

// The magnitude is taken in unsigned arithmetic, so the most negative result has one too.
void set_reply_code(JsonValue& reply, int32_t code, reply_sign sign) {
    if (code == 0) {
        reply.setBool("code", true);
    } else if (sign == reply_sign::engine) {
        reply.setInt("code", code);
    } else {
        reply.setUInt("code", code < 0 ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code));
    }
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
