// One record per open WebSocket connection, owned by the server that accepted it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// The WebSocket library's weak handle of a connection.
using connection_handle = std::weak_ptr<void>;

// Both handles are of one connection (also once it has gone).
inline bool same_connection(const connection_handle& one, const connection_handle& other) {
    return !one.owner_before(other) && !other.owner_before(one);
}

enum connection_state : int32_t {
    connection_new = 0,
    connection_control = 1,
    connection_stream = 2,
};

struct connection_context {
    int32_t state = connection_new;
    int32_t server_index = 0;
    uint32_t uid = 0;
    int32_t view_width = 0;
    int32_t view_height = 0;
    connection_handle handle;
    // The page's origin from the handshake's Origin header (empty when it sent none). Written on
    // the server's I/O thread before the connection is handed to the agent, then read only.
    std::string origin;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
