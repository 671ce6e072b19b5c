// Sizing a connection's socket for video frames.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

// Sets the send buffer of a connected socket (`native`: its descriptor, or its SOCKET on
// Windows) to `bytes`, where the system's own sizing would let several whole frames wait in it.
// Errors are ignored: the socket then keeps the system's sizing.
void platform_fit_send_buffer(std::uintptr_t native, int bytes);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
