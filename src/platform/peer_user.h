// Whose program is at the other end of a loopback connection.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

// True when the client socket of the TCP connection 127.0.0.1:client_port → 127.0.0.1:server_port
// belongs to the OS user running this process. False when it belongs to another user, or when the
// system cannot tell (an unknown owner is never let in).
bool platform_peer_is_own_user(uint16_t server_port, uint16_t client_port);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
