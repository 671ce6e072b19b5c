// The shape of the page's commands: for each name, the connection states that may use it, how it
// is answered and the agent's operation that reads its members and runs it. The table itself is
// one list in command_table.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "base/json_value.h"
#include "net/connection_context.h"

namespace kelvo {
namespace rtc {
namespace web {

class rtc_engine_agent;

// Connection states a command is allowed in, as a bit set of connection_state values.
enum command_states : uint8_t {
    allow_new = 1 << connection_new,
    allow_control = 1 << connection_control,
    allow_stream = 1 << connection_stream,
    allow_any = allow_new | allow_control | allow_stream,
};

enum class command_answer : uint8_t {
    immediate,  // a reply right away
    deferred,   // on success the engine's event answers later; a failure is answered at once
    never,      // nothing is ever sent back
};

// One command being run: its message, its connection and the reply being built. The reply
// already holds "command"; data commands add their data member to it on success.
struct command_call {
    connection_context* context;
    const JsonValue& message;
    JsonValue& reply;
    // Set through refuse(): the reply is a refusal, code 403 with this "reason".
    const char* refusal_reason = nullptr;
};

// Refuses the command to who sent it; returns the result for the operation to return.
int32_t refuse(command_call& call, const char* reason);
// {"command":<command>,"code":403,"reason":<reason>}
std::string refusal_reply(const std::string& command, const char* reason);

using command_operation = int32_t (rtc_engine_agent::*)(command_call& call);

struct command_entry {
    const char* name;
    uint8_t states;
    command_answer answer;
    command_operation run;
};

// Member readers shared by the command operations.
// The first of the two members that is a JSON string.
bool read_text_or(const JsonValue& message, const char* first, const char* second,
                  std::string& out);
// A required boolean: present and a JSON boolean. A value of another kind is refused rather than
// read as some default.
bool read_required_bool(const JsonValue& message, const char* key, bool& out);
// "viewWidth" and "viewHeight" into the context; the stream channel copies them when it is made.
void read_view_size(command_call& call);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
