#include "platform/listening_socket.h"

#include <errno.h>
#include <sys/socket.h>

namespace kelvo {
namespace rtc {
namespace web {

// Here address reuse only concerns connections in TIME_WAIT: a port that another socket
// listens on is never shared.
std::error_code platform_prepare_listening_socket(std::uintptr_t native) {
    const int on = 1;
    if (setsockopt(static_cast<int>(native), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return std::error_code(errno, std::system_category());
    }
    return std::error_code();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
