#include "platform/listening_socket.h"

#include <winsock2.h>

namespace kelvo {
namespace rtc {
namespace web {

// Address reuse (SO_REUSEADDR) on Windows would let any other program bind the port while we
// listen and take our connections; exclusive use refuses every later bind of the port instead.
std::error_code platform_prepare_listening_socket(std::uintptr_t native) {
    const BOOL on = TRUE;
    if (setsockopt(static_cast<SOCKET>(native), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                   reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        return std::error_code(WSAGetLastError(), std::system_category());
    }
    return std::error_code();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
