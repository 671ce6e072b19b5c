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

enum class peer_owner {
    own_user,
    // Another user's program, or one the system cannot tell: an unknown owner is never let in.
    other_user,
    // The connection is listed without its owner yet: some systems (Wine) know which process holds
    // a socket only once that process has used it. Ask again once the client has sent something.
    not_listed_yet,
};

// Whose is the socket at the other end of this process's established TCP connection
// `server` ← `client`. The other end is found by both addresses and both ports among established
// connections only: a listening socket, or another connection that merely shares a port with it,
// never answers for it.
peer_owner platform_peer_owner(const tcp_end& server, const tcp_end& client);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
