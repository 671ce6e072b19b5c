// Which Host a WebSocket handshake may name.
#pragma once

#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// Our own loopback host name for pages that prefer a name to an address. Names under
// ".localhost" are reserved for loopback (RFC 6761) and browsers resolve every one of them to
// the loopback address without asking DNS, so this name reaches 127.0.0.1 on every machine
// without a DNS record that we would have to register and keep.
inline constexpr const char loopback_host_name[] = "agent.kelvo.localhost";

// True for exactly "127.0.0.1" or loopback_host_name, compared byte for byte.
bool is_accepted_host(const std::string& host);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
