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

int32_t rtc_engine_agent::on_message(connection_context* context, const std::string& message,
                                     std::string& reply) {
    // Parsed as a zero-terminated text: a zero byte inside the message ends it.
    const JsonValue document(message.c_str());
    if (!document.isObject()) return result::invalid_request;
    const std::string name = document.getString("command", "");
    if (name.empty()) return result::invalid_request;

    JsonValue answer;
    answer.makeObject();
    answer.setString("command", name.c_str());

    int32_t code = result::invalid_request;
    bool reply_due = true;
    if (const command_entry* entry = find_command(name)) {
        const int32_t admitted =
            switches_off(*context, name, document) ? result::ok : admit(*context, name, message);
        if (admitted != result::ok) {
            // Refused, or asked about: then answered once the user decides.
            code = admitted;
            reply_due = admitted == result::forbidden;
        } else if (!allowed_in(*entry, context->state)) {
            code = result::wrong_state;
        } else {
            command_call call{context, document, answer};
            code = (this->*entry->run)(call);
            if (call.refusal_reason != nullptr) {
                reply = refusal_reply(name, call.refusal_reason);
                return 0;
            }
            if (entry->answer == command_answer::never ||
                (entry->answer == command_answer::deferred && code == 0)) {
                reply_due = false;
            }
        }
    }
    if (reply_due) {
        set_reply_code(answer, code);
        reply = answer.toString();
    }
    return 0;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
