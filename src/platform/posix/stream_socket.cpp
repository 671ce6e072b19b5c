#include "platform/stream_socket.h"

#include <sys/socket.h>

namespace kelvo {
namespace rtc {
namespace web {

// Without it Linux grows the buffer up to 4 MB as the connection goes.
void platform_fit_send_buffer(std::uintptr_t native, int bytes) {
    setsockopt(static_cast<int>(native), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
