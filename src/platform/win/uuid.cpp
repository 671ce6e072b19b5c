#include "platform/uuid.h"

#include <windows.h>
#include <rpc.h>

namespace kelvo {
namespace rtc {
namespace web {

std::string platform_random_uuid_text() {
    UUID uuid;
    const RPC_STATUS created = UuidCreate(&uuid);
    // A local-only UUID is still unique on this machine, which is all its users need.
    if (created != RPC_S_OK && created != RPC_S_UUID_LOCAL_ONLY) return std::string();
    RPC_CSTR text = nullptr;
    if (UuidToStringA(&uuid, &text) != RPC_S_OK || text == nullptr) return std::string();
    std::string result(reinterpret_cast<const char*>(text));
    RpcStringFreeA(&text);
    return result;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
