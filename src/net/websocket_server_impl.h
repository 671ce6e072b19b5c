// websocket_server over one of our websocketpp configurations. Instantiated once per
// configuration (websocket_server_plain.cpp, websocket_server_tls.cpp); other code makes servers
// through websocket_server_factory.h and needs none of the library's headers.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <websocketpp/server.hpp>

#include "base/thread_annotations.h"
#include "net/connection_limits.h"
#include "net/net_engine_event_handler.h"
#include "net/websocket_configs.h"
#include "net/websocket_server.h"
#include "platform/peer_user.h"

namespace kelvo {
namespace rtc {
namespace web {

template <typename config>
class websocket_server_impl final : public websocket_server {
public:
    using endpoint_type = websocketpp::server<config>;

    // `limits`: shared with the agent's other server; a server of its own limits when null.
    websocket_server_impl(int32_t server_index, std::string cert_dir,
                          std::shared_ptr<shared_limits> limits = nullptr);
    ~websocket_server_impl() override;

    int32_t start(uint16_t port) override;
    void set_handler(net_engine_event_handler* handler) override;
    int32_t send_text(const connection_handle& handle, const std::string& text) override;
    int32_t send_binary(const connection_handle& handle, const void* data, size_t length,
                        int32_t* group) override;
    int32_t send_binary_group(const connection_handle& handle, const binary_group& group,
                              int32_t* dropped) override;
    void set_frame_dropping(const connection_handle& handle, bool enabled) override;
    void post_to_connection(const connection_handle& handle,
                            std::function<void(connection_context&)> work) override;
    void close(const connection_handle& handle, int code, const std::string& reason) override {
        server_close(handle, code, reason);
    }
    void close_all(int code, const std::string& reason) override;
    void wait_all_closed(std::chrono::steady_clock::time_point deadline) override;

    // Payload bytes queued on the connection and not yet handed to the socket; 0 when it is gone.
    size_t queued_bytes(const connection_handle& handle);

private:
    using context_ptr = std::shared_ptr<connection_context>;
    using message_ptr = typename endpoint_type::message_ptr;
    using connection_ptr = typename endpoint_type::connection_ptr;
    using transport_connection = typename endpoint_type::transport_con_type;

    void on_open(connection_handle handle);
    void on_message(connection_handle handle, message_ptr message);
    void on_close(connection_handle handle);
    bool on_validate(connection_handle handle);
    void on_http(connection_handle handle);
    // Whose program is at the other end: this process's OS user's only at 127.0.0.1.
    static peer_owner peer_owner_of(transport_connection& con);
    // Where the site of this Origin header stands; allowed while no handler is set.
    site_standing standing_of(const std::string& origin);
    // Closes a connection of a site that is not allowed once it has been idle long enough.
    void watch_idle(const connection_handle& handle);
    void check_idle(const connection_handle& handle);
    // The connection's unsent replies are within its own limit and its part of the agent's.
    bool within_reply_limits(const connection_ptr& con);

    // The accept loop (see the .cpp).
    void accept_next();
    void on_accept(const std::error_code& error);
    void accept_later();
    // Counts the connection until it ends and starts reading it.
    void start(const connection_ptr& accepted);
    void start_once_owner_listed(const connection_ptr& accepted);

    void run_io();
    connection_ptr find_connection(const connection_handle& handle);
    context_ptr find_context(const connection_handle& handle);
    // Starts the WebSocket close (errors ignored) and drops the context (see the .cpp).
    void server_close(const connection_handle& handle, int code, const std::string& reason);
    int32_t send_batch(const connection_handle& handle, const connection_ptr& con,
                       outgoing_batch& batch);
    // Fits a stream connection's socket to its frames, on the I/O thread: a send buffer of
    // `bytes` and no waiting to coalesce a frame's last segment.
    void fit_send_buffer(const connection_handle& handle, int bytes);

    std::atomic<net_engine_event_handler*> handler_{nullptr};
    const std::shared_ptr<shared_limits> limits_;
    endpoint_type endpoint_;
    // The accept loop's state, used only on the I/O thread (and by start before that runs):
    // the connection made for the next client, and the connections accepted and not yet ended.
    connection_ptr waiting_;
    size_t open_connections_ = 0;
    // The server table's lock: taken on the I/O thread and by senders on any thread; only the
    // library's connection calls (never the agent) are made while it is held.
    checked_mutex table_mutex_;
    // Keyed by the owner of the handle, so an expired handle still finds its entry.
    std::map<connection_handle, context_ptr, std::owner_less<connection_handle>> table_
        KELVO_GUARDED_BY(table_mutex_);
    const std::string cert_dir_;
    std::unique_ptr<std::thread> io_thread_;
    const int32_t server_index_;
};

extern template class websocket_server_impl<plain_server_config>;
extern template class websocket_server_impl<tls_server_config>;

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
