// A net_engine_event_handler that records every call and answers a few text commands:
//   "control" / "stream"  set the context's state to 1 / 2 and reply "control ok" / "stream ok"
//   "reject"              returns -2 (the server closes with 3001)
//   "silent"              accepts with an empty reply
//   "throw"               throws std::runtime_error("thrown by the handler")
//   "fragile"             replies "fragile ok"; the handler throws when this connection closes
//   "echo <text>"         replies <text>
//   anything else         replies "ack"
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/net_engine_event_handler.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace rtc {
namespace web {

struct handler_call {
    std::string kind;  // "opened", "message", "closed"
    int32_t state = 0;
    int32_t server_index = 0;
    connection_handle handle;
    std::string text;
    std::thread::id thread;
    const connection_context* context = nullptr;
};

class recording_handler : public net_engine_event_handler {
public:
    bool is_idle() override { return true; }
    bool query_release(connection_context*) override { return false; }

    void on_connection_opened(connection_context* context, bool) override {
        record("opened", context, std::string());
    }

    int32_t on_message(connection_context* context, const std::string& message,
                       std::string& reply) override {
        if (message == "control" || message == "stream") {
            context->state = message == "control" ? connection_control : connection_stream;
            reply = message + " ok";
        } else if (message.rfind("echo ", 0) == 0) {
            reply = message.substr(5);
        } else if (message == "fragile") {
            std::lock_guard<std::mutex> lock(mutex_);
            fragile_.push_back(context);
            reply = "fragile ok";
        } else if (message != "silent" && message != "reject" && message != "throw") {
            reply = "ack";
        }
        record("message", context, message);
        if (message == "throw") {
            throw std::runtime_error("thrown by the handler");
        }
        return message == "reject" ? -2 : 0;
    }

    void on_connection_closed(connection_context* context) override {
        record("closed", context, std::string());
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = std::find(fragile_.begin(), fragile_.end(), context);
        if (found != fragile_.end()) {
            fragile_.erase(found);
            throw std::runtime_error("thrown when a fragile connection closed");
        }
    }

    std::vector<handler_call> calls(const std::string& kind) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<handler_call> found;
        for (const handler_call& call : calls_) {
            if (call.kind == kind) {
                found.push_back(call);
            }
        }
        return found;
    }

    // Waits until at least `count` calls of `kind` satisfy `match`.
    bool wait_calls(const std::string& kind, size_t count,
                    std::function<bool(const handler_call&)> match = nullptr,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            size_t seen = 0;
            for (const handler_call& call : calls_) {
                seen += call.kind == kind && (!match || match(call)) ? 1 : 0;
            }
            return seen >= count;
        });
    }

    // The recorded message call with exactly this text.
    std::optional<handler_call> message_call(const std::string& text) const {
        for (const handler_call& call : calls("message")) {
            if (call.text == text) {
                return call;
            }
        }
        return std::nullopt;
    }

private:
    void record(const char* kind, connection_context* context, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(handler_call{kind, context->state, context->server_index,
                                      context->handle, text, std::this_thread::get_id(),
                                      context});
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<handler_call> calls_;
    std::vector<const connection_context*> fragile_;
};

// Sends "echo <name>" (and `command` first when given) and returns the connection's handle as
// the server's handler saw it.
inline std::optional<connection_handle> handshake_as(test::ws_test_client& client,
                                                     recording_handler& handler,
                                                     const std::string& name,
                                                     const std::string& command = std::string()) {
    const auto timeout = std::chrono::seconds(5);
    if (!command.empty() && (!client.send_text(command) || !client.wait_text(timeout))) {
        return std::nullopt;
    }
    if (!client.send_text("echo " + name) || client.wait_text(timeout) != name) {
        return std::nullopt;
    }
    std::optional<handler_call> call = handler.message_call("echo " + name);
    if (!call) {
        return std::nullopt;
    }
    return call->handle;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
