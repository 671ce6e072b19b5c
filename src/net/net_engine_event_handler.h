// What the servers call on the agent for every connection and text message.
#pragma once

#include <cstdint>
#include <string>

#include "net/connection_context.h"

namespace kelvo {
namespace rtc {
namespace web {

// Where a page's site stands with the user, as far as the servers' limits go.
enum class site_standing {
    // The user allowed the site, or the connection has no origin (a program of the user).
    allowed,
    // Undecided or blocked, and the user is not being asked about it now.
    not_allowed,
    // Not allowed yet: the user is being asked about it.
    asking,
};

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
    // Where the site of a page with this Origin header (as its handshake carried it; empty
    // without one) stands. Connections of a site that is not allowed get only a few places and
    // little room for unsent replies. Asked on the servers' I/O threads and on sending threads.
    virtual site_standing standing_of(const std::string& origin) = 0;

protected:
    ~net_engine_event_handler() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
