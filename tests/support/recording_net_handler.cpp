#include "support/recording_net_handler.h"

#include <algorithm>
#include <stdexcept>

namespace kelvo {
namespace test {

using kelvo::rtc::web::connection_control;
using kelvo::rtc::web::connection_handle;
using kelvo::rtc::web::connection_stream;

void recording_net_handler::on_connection_opened(connection_context* context, bool) {
    record("opened", context, std::string());
}

int32_t recording_net_handler::on_message(connection_context* context, const std::string& message,
                                          std::string& reply) {
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

void recording_net_handler::on_connection_closed(connection_context* context) {
    record("closed", context, std::string());
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find(fragile_.begin(), fragile_.end(), context);
    if (found != fragile_.end()) {
        fragile_.erase(found);
        throw std::runtime_error("thrown when a fragile connection closed");
    }
}

std::vector<net_handler_call> recording_net_handler::calls(const std::string& kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<net_handler_call> found;
    for (const net_handler_call& call : calls_) {
        if (call.kind == kind) {
            found.push_back(call);
        }
    }
    return found;
}

bool recording_net_handler::wait_calls(const std::string& kind, size_t count,
                                       std::function<bool(const net_handler_call&)> match,
                                       std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const net_handler_call& call : calls_) {
            seen += call.kind == kind && (!match || match(call)) ? 1 : 0;
        }
        return seen >= count;
    });
}

std::optional<net_handler_call> recording_net_handler::message_call(const std::string& text) const {
    for (const net_handler_call& call : calls("message")) {
        if (call.text == text) {
            return call;
        }
    }
    return std::nullopt;
}

void recording_net_handler::record(const char* kind, connection_context* context,
                                   const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(net_handler_call{kind, context->state, context->server_index,
                                      context->handle, text, std::this_thread::get_id(),
                                      context});
    changed_.notify_all();
}

std::optional<connection_handle> handshake_as(ws_test_client& client,
                                              recording_net_handler& handler,
                                              const std::string& name,
                                              const std::string& command) {
    const auto timeout = agent_timeout;
    if (!command.empty() && (!client.send_text(command) || !client.wait_text(timeout))) {
        return std::nullopt;
    }
    if (!client.send_text("echo " + name) || client.wait_text(timeout) != name) {
        return std::nullopt;
    }
    std::optional<net_handler_call> call = handler.message_call("echo " + name);
    if (!call) {
        return std::nullopt;
    }
    return call->handle;
}

}  // namespace test
}  // namespace kelvo
