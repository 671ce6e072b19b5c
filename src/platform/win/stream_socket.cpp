#include "platform/stream_socket.h"

namespace kelvo {
namespace rtc {
namespace web {

// Left to the system: Windows sizes a socket's send backlog from the connection's measured round
// trip, and a fixed buffer stalled the overlapped sends of closing connections in our tests under
// Wine, so their close frames never left.
void platform_fit_send_buffer(std::uintptr_t, int) {}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
