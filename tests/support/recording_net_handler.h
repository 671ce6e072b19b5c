// The servers' handler for tests of the server set and for benchmarks that drive servers without
// the agent: it records every call and answers a few text commands:
//   "control" / "stream"  set the context's state to 1 / 2 and reply "control ok" / "stream ok"
//   "reject"              returns -2 (the server closes with 3001)
//   "silent"              accepts with an empty reply
//   "throw"               throws std::runtime_error("thrown by the handler")
//   "fragile"             replies "fragile ok"; the handler throws when this connection closes
//   "echo <text>"         replies <text>
//   anything else         replies "ack"
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/net_engine_event_handler.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {

struct net_handler_call {
    std::string kind;  // "opened", "message", "closed"
    int32_t state = 0;
    int32_t server_index = 0;
    kelvo::rtc::web::connection_handle handle;
    std::string text;
    std::thread::id thread;
    const kelvo::rtc::web::connection_context* context = nullptr;
};

class recording_net_handler : public kelvo::rtc::web::net_engine_event_handler {
public:
    using connection_context = kelvo::rtc::web::connection_context;

    bool is_idle() override { return true; }
    bool query_release(connection_context*) override { return false; }
    void on_connection_opened(connection_context* context, bool reset) override;
    int32_t on_message(connection_context* context, const std::string& message,
                       std::string& reply) override;
    void on_connection_closed(connection_context* context) override;
    kelvo::rtc::web::site_standing standing_of(const std::string&) override {
        return kelvo::rtc::web::site_standing::allowed;
    }

    std::vector<net_handler_call> calls(const std::string& kind) const;
    // Waits until at least `count` calls of `kind` satisfy `match`.
    bool wait_calls(const std::string& kind, size_t count,
                    std::function<bool(const net_handler_call&)> match = nullptr,
                    std::chrono::milliseconds timeout = agent_timeout) const;
    // The recorded message call with exactly this text.
    std::optional<net_handler_call> message_call(const std::string& text) const;

private:
    void record(const char* kind, connection_context* context, const std::string& text);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<net_handler_call> calls_;
    std::vector<const connection_context*> fragile_;
};

// Sends "echo <name>" (and `command` first when given) and returns the connection's handle as
// the server's handler saw it.
std::optional<kelvo::rtc::web::connection_handle> handshake_as(
    ws_test_client& client, recording_net_handler& handler, const std::string& name,
    const std::string& command = std::string());

}  // namespace test
}  // namespace kelvo
