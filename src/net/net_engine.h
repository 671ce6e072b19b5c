// The set of WebSocket servers, each tied to the one event handler (the agent).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/connection_limits.h"
#include "net/net_engine_event_handler.h"
#include "net/websocket_server.h"

namespace kelvo {
namespace rtc {
namespace web {

class net_engine {
public:
    // Its servers keep together to `limits`.
    explicit net_engine(const connection_limits& limits = connection_limits());
    ~net_engine();
    net_engine(const net_engine&) = delete;
    net_engine& operator=(const net_engine&) = delete;

    // Stores the handler and hands it to every server already in the set.
    void set_handler(net_engine_event_handler* handler);

    // 0 on success; otherwise the server's start result, and the set is unchanged.
    int32_t add_tls_server(uint16_t port, const std::string& cert_dir);
    int32_t add_plain_server(uint16_t port);

    // Closes every connection of every server with `code` and `reason` (see
    // websocket_server::close_all), waiting at most `patience` for them all. The servers stay in
    // the set, accepting nothing; clear() destroys them.
    void close_all(int code, const std::string& reason, std::chrono::milliseconds patience);

    // Destroys every server in order; no handler call is made once it returns.
    void clear();

    size_t size() const;

    // Sends through the server at `index`; -1 when there is no such server.
    int32_t send_text(int32_t index, const connection_handle& handle, const std::string& text);
    int32_t send_binary(int32_t index, const connection_handle& handle, const void* data,
                        size_t length, int32_t* group);
    int32_t send_binary_group(int32_t index, const connection_handle& handle,
                              const binary_group& group, int32_t* dropped);
    void set_frame_dropping(int32_t index, const connection_handle& handle, bool enabled);
    // Runs `work` on the I/O thread of the server at `index` with the connection's context, if
    // the connection is still open then.
    void post_to_connection(int32_t index, const connection_handle& handle,
                            std::function<void(connection_context&)> work);
    // Closes the connection with this close code and reason.
    void close(int32_t index, const connection_handle& handle, int code,
               const std::string& reason);

private:
    // Implementation details belong to the net module.
    struct impl;
    std::unique_ptr<impl> impl_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
