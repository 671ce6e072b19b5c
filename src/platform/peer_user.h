// Whose program is at the other end of a loopback connection.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

// 127.0.0.1 in host byte order.
constexpr uint32_t loopback_address = 0x7F000001;

// One end of a TCP connection; the address in host byte order.
struct tcp_end {
    uint32_t address = 0;
    uint16_t port = 0;
};

// True when the socket at the other end of this process's established TCP connection
// `server` ← `client` belongs to the OS user running this process. The other end is found by both
// addresses and both ports among established connections only: a listening socket, or another
// connection that merely shares a port with it, never answers for it. False when it belongs to
// another user, or when the system cannot tell (an unknown owner is never let in).
bool platform_peer_is_own_user(const tcp_end& server, const tcp_end& client);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
