// "getAgentInfo": what a page may learn about the agent before it decides how to talk to it.
// It tells about the program alone, never the engine, so any connection of any site may ask.
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

// Goes up when a change would break pages written for the earlier protocol (a command removed or
// renamed, a reply or event taking another shape); new commands and members leave it as it is.
constexpr int32_t protocol_version = 1;

}  // namespace

int32_t rtc_engine_agent::run_get_agent_info(command_call& call) {
    call.reply.setString("agentVersion", KELVO_AGENT_VERSION);
    call.reply.setInt("protocolVersion", protocol_version);
    JsonValue commands;
    commands.makeArray();
    for (size_t i = 0; i < command_count; ++i) commands.appendString(command_entries[i].name);
    call.reply.setValue("commands", commands);
    return result::ok;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
