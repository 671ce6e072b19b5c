// The two loopback ports the agent listens on.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

struct server_ports {
    uint16_t tls = 8921;
    uint16_t plain = 8922;
};

// 8921 and 8922, unless $KELVO_AGENT_TLS_PORT or $KELVO_AGENT_PLAIN_PORT hold another port number
// (1 to 65535): tests start agents that must not collide with the one a user is running.
server_ports configured_server_ports();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
