// One WebSocket server listening on 127.0.0.1, seen by the agent and the video channels.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "net/connection_context.h"
#include "net/net_engine_event_handler.h"

namespace kelvo {
namespace rtc {
namespace web {

// Binary messages queued together under one hold of the connection's write lock, whose payloads
// the sender writes in place: `write` gets each message's own storage (sizes[i] bytes holding
// what an earlier message left there, so it writes every byte), outside the connection's locks.
// So a frame's bytes are copied once on their way to the socket, from the engine's buffer into
// the message, into storage the connection keeps from frame to frame.
struct binary_group {
    const size_t* sizes;
    size_t count;
    std::function<void(uint8_t* const* payloads)> write;
};

class websocket_server {
public:
    virtual ~websocket_server() = default;
    // Listens on 127.0.0.1:port and starts the server's I/O thread. 0 on success, -1 on failure.
    virtual int32_t start(uint16_t port) = 0;
    virtual void set_handler(net_engine_event_handler* handler) = 0;
    // Safe from any thread. 0 sent, -1 failed (the connection is then closed with 1001), or
    // -1 when the connection's page has left too many replies unread (closed with 1008).
    virtual int32_t send_text(const connection_handle& handle, const std::string& text) = 0;
    // Safe from any thread. With frame dropping on and group not null, first removes
    // n * floor(q / n) of the q oldest queued messages (n = *group) and writes the number removed
    // back to *group. 0 queued, -1 failed (the connection is then closed with 1001).
    virtual int32_t send_binary(const connection_handle& handle, const void* data, size_t length,
                                int32_t* group) = 0;
    // Queues the group's messages under one hold of the connection's write lock, the first with
    // a drop group of the group's count, so a group is never cut by a later drop. `dropped` (may
    // be null) receives the number of queued messages removed. With frame dropping on, the
    // socket's send buffer is kept to about one group, so that what waits beyond it waits in the
    // queue, where a newer group replaces it, and not in the kernel. 0 queued, -1 failed.
    virtual int32_t send_binary_group(const connection_handle& handle, const binary_group& group,
                                      int32_t* dropped) = 0;
    virtual void set_frame_dropping(const connection_handle& handle, bool enabled) = 0;
    // Safe from any thread. Runs `work` on this server's I/O thread with the connection's context,
    // if the connection is still open then; never runs it otherwise.
    virtual void post_to_connection(const connection_handle& handle,
                                    std::function<void(connection_context&)> work) = 0;
    // Safe from any thread. Closes the connection with this close code and reason; the handler
    // hears of it as of any closed connection.
    virtual void close(const connection_handle& handle, int code, const std::string& reason) = 0;
    // Safe from any thread. Stops accepting connections and starts the close of every open one
    // with `code` and `reason` (on the I/O thread, soon after it returns).
    virtual void close_all(int code, const std::string& reason) = 0;
    // Not on the server's own I/O thread. Waits until every connection closed by close_all has
    // ended, or until `deadline` (a page that stops reading never answers the close frame).
    virtual void wait_all_closed(std::chrono::steady_clock::time_point deadline) = 0;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
