// The message operation: parses one text message, checks the command against the connection's
// state, runs it and builds the reply.
#include <string>

#include "agent/rtc_engine_agent.h"
#include "base/results.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

bool allowed_in(const command_entry& entry, int32_t state) {
    return state >= connection_new && state <= connection_stream &&
           (entry.states & (1u << state)) != 0;
}

}  // namespace

int32_t refuse(command_call& call, site_refusal why) {
    call.refused = why;
    return -refusal_code(why);
}

int32_t rtc_engine_agent::on_message(connection_context* context, const std::string& message,
                                     std::string& reply) {
    // Parsed as a zero-terminated text: a zero byte inside the message ends it.
    const JsonValue document(message.c_str());
    if (!document.isObject() || *document.getString("command", "") == '\0') {
        return result::invalid_request;
    }
    dispatch(context, document, reply);
    return 0;
}

void rtc_engine_agent::dispatch(connection_context* context, const JsonValue& message,
                                std::string& reply) {
    const std::string name = message.getString("command", "");
    JsonValue answer;
    answer.makeObject();
    answer.setString("command", name.c_str());

    int32_t code = result::invalid_request;
    bool reply_due = true;
    const char* reason = nullptr;
    if (const command_entry* entry = find_command(name)) {
        // The session's own page may always switch off what runs, even once its site is blocked.
        const admission admitted = switches_off(*context, name, message)
                                       ? admission{}
                                       : admit(*context, name, message);
        if (admitted.what == admission::verdict::refuse) {
            reply = refusal_reply(name, admitted.reason);
            return;
        }
        if (admitted.what == admission::verdict::wait) return;  // answered once the user decides
        if (!allowed_in(*entry, context->state)) {
            code = result::wrong_state;
        } else {
            command_call call{context, message, answer, std::nullopt};
            code = (this->*entry->run)(call);
            if (call.refused) {
                reply = refusal_reply(name, *call.refused);
                return;
            }
            if (entry->answer == command_answer::never ||
                (entry->answer == command_answer::deferred && code == 0)) {
                reply_due = false;
            }
        }
    }
    if (reply_due) {
        set_reply_code(answer, code);
        if (reason != nullptr) answer.setString("reason", reason);
        reply = answer.toString();
    }
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
