// The message operation: parses one text message, checks the command against the connection's
// state, runs it and builds the reply.
#include <string>

#include "agent/command_table.h"
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

constexpr int32_t not_a_command = -2;
constexpr int32_t unknown_command = -2;
constexpr int32_t wrong_state = -5;

bool allowed_in(const command_entry& entry, int32_t state) {
    return state >= connection_new && state <= connection_stream &&
           (entry.states & (1u << state)) != 0;
}

// "code": true for 0, otherwise the magnitude of the result (also for the most negative one).
void set_reply_code(JsonValue& reply, int32_t result) {
    if (result == 0) {
        reply.setBool("code", true);
        return;
    }
    const uint32_t magnitude =
        result < 0 ? 0u - static_cast<uint32_t>(result) : static_cast<uint32_t>(result);
    reply.setUInt("code", magnitude);
}

}  // namespace

int32_t rtc_engine_agent::on_message(connection_context* context, const std::string& message,
                                     std::string& reply) {
    // Parsed as a zero-terminated text: a zero byte inside the message ends it.
    const JsonValue document(message.c_str());
    if (!document.isObject()) return not_a_command;
    const std::string name = document.getString("command", "");
    if (name.empty()) return not_a_command;

    JsonValue answer;
    answer.makeObject();
    answer.setString("command", name.c_str());

    int32_t result = unknown_command;
    bool reply_due = true;
    if (const command_entry* entry = find_command(name)) {
        if (!allowed_in(*entry, context->state)) {
            result = wrong_state;
        } else {
            command_call call{*this, context, document, answer};
            result = entry->run(call);
            if (entry->answer == command_answer::never ||
                (entry->answer == command_answer::deferred && result == 0)) {
                reply_due = false;
            }
        }
    }
    if (reply_due) {
        set_reply_code(answer, result);
        reply = answer.toString();
    }
    return 0;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
