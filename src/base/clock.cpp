#include "base/clock.h"

#include "platform/clock.h"
#include "platform/uuid.h"

namespace kelvo {
namespace rtc {
namespace web {

int64_t nowMilliseconds() { return platform_monotonic_milliseconds(); }

std::string newUniqueId() {
    const std::string uuid = platform_random_uuid_text();
    std::string id;
    id.reserve(32);
    for (const char c : uuid) {
        if (c == '-') continue;
        id.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return id;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
