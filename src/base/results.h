// The results of the agent's operations and the reply "code" a page reads for them. Operations
// return 0 for success or one of the negative results below; an engine call's own result passes
// through unchanged.
#pragma once

#include <cstdint>

#include "base/json_value.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace result {
constexpr int32_t ok = 0;
// Nothing was found: an empty device or window list; a server that could not send.
constexpr int32_t nothing_found = -1;
// Unknown command, a missing or ill-typed member, an unknown profile name or device kind.
constexpr int32_t invalid_request = -2;
// No engine, an engine without the interface the command needs, or not in a channel.
constexpr int32_t no_engine = -3;
// The command is not allowed on this connection (new, control or stream).
constexpr int32_t wrong_state = -5;
// The engine library or its entry points are missing.
constexpr int32_t library_unavailable = -7;
// "initialize" while an engine exists.
constexpr int32_t engine_exists = -19;
// "initialize" with an empty application id.
constexpr int32_t empty_app_id = -101;
// The user has not allowed this site to use the agent (or the page is not the session's).
constexpr int32_t forbidden = -403;
// A video stream beyond the most the agent keeps at once.
constexpr int32_t too_many_streams = -429;
}  // namespace result

// Every result above other than success, for checks that each has words for the page.
constexpr int32_t agent_results[] = {
    result::nothing_found,       result::invalid_request, result::no_engine,
    result::wrong_state,         result::library_unavailable, result::engine_exists,
    result::empty_app_id,        result::forbidden,       result::too_many_streams,
};

// Codes the agent itself puts into the engine's answers and events.
namespace engine_code {
// A pending "joinChannel" answered by the engine's join-failure notice.
constexpr int join_failed = 10;
// The "error" event for a lost connection.
constexpr int connection_lost = 111;
// The "error" event for a join failure that no "joinChannel" waits for.
constexpr int join_failure = 112;
}  // namespace engine_code

// How a reply carries a non-zero result: a command's own reply gives its magnitude; a reply the
// engine completes later gives the engine's code with its sign.
enum class reply_sign { magnitude, engine };

// Adds "code" to the reply: true for 0, otherwise the result as `sign` says.
void set_reply_code(JsonValue& reply, int32_t code, reply_sign sign = reply_sign::magnitude);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
