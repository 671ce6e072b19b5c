// The agent as the servers' event handler: the life cycle of connections.
#include "agent/rtc_engine_agent.h"

#include "agent/site_access.h"
#include "video/rtc_engine_agent_event_handler.h"

namespace kelvo {
namespace rtc {
namespace web {

rtc_engine_agent::rtc_engine_agent(net_engine& net, const agent_access& access)
    : net_(net), indicator_(access.indicator), access_(access.sites, access.prompt, access.questions) {
    net_.set_handler(this);
}

rtc_engine_agent::~rtc_engine_agent() {
    // Channels go first: their renderers' engine callbacks are valid only while the engine lives.
    clear_all_stream_channels();
    teardown_engine();
}

bool rtc_engine_agent::is_idle() { return !engine_initialized_.load(); }

bool rtc_engine_agent::query_release(connection_context* context) {
    if (engine_initialized_.load()) return true;
    on_connection_closed(context);
    return false;
}

void rtc_engine_agent::on_connection_opened(connection_context* context, bool reset) {
    if (!reset) {
        context->origin = site_of(context->origin);
        return;
    }
    clear_all_stream_channels();
    teardown_engine();
}

// The servers call this on their own I/O threads: a send that fails on an engine thread has the
// server report the closed connection on its I/O thread, so the teardown below never runs inside
// one of the engine's callbacks (where the engine could not be released).
void rtc_engine_agent::on_connection_closed(connection_context* context) {
    switch (context->state) {
    case connection_control:
        clear_all_stream_channels();
        teardown_engine();
        break;
    case connection_stream:
        close_stream_channel(context);
        break;
    default:
        break;
    }
}

site_standing rtc_engine_agent::standing_of(const std::string& origin) {
    const std::string site = site_of(origin);
    if (access_.allows(site)) return site_standing::allowed;
    return access_.asking(site) ? site_standing::asking : site_standing::not_allowed;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
