// What the servers call on the agent for every connection and text message.
#pragma once

#include <cstdint>
#include <string>

#include "net/connection_context.h"

namespace kelvo {
namespace rtc {
namespace web {

class net_engine_event_handler {
public:
    // True when no engine is initialised. The servers never ask.
    virtual bool is_idle() = 0;
    // True (and nothing done) while an engine is initialised; otherwise runs the
    // connection-closed handling for the context and answers false. The servers never ask.
    virtual bool query_release(connection_context* context) = 0;
    // Called once for every newly accepted connection; the servers pass false.
    virtual void on_connection_opened(connection_context* context, bool reset) = 0;
    // Called for every complete text message. 0 accepts it (a non-empty reply is sent back);
    // anything else makes the server close the connection with 3001 "invalid request".
    virtual int32_t on_message(connection_context* context, const std::string& message,
                               std::string& reply) = 0;
    // Called when a connection that still has a context closes.
    virtual void on_connection_closed(connection_context* context) = 0;

protected:
    ~net_engine_event_handler() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
