// Who may use the agent: a site the user has not allowed gets nothing but what the agent says
// about itself ("getVersion", "getAgentInfo"); its "initialize" asks the user and is answered
// once they decide. While a session exists, its video goes to connections of its own site only,
// and it ends when its site stops being allowed. What the session's site uses is shown to the
// user.
#include <algorithm>
#include <iterator>

#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

// A page needs these to tell whether the agent is there and speaks its protocol before the user
// has allowed it anything; they reach neither the engine nor the user's devices.
bool open_to_every_site(const std::string& command) {
    return command == "getVersion" || command == "getAgentInfo";
}

// The session ends with this close code when its site may no longer use the agent.
constexpr int site_blocked_close_code = 4003;
constexpr const char site_blocked_reason[] = "the user blocked this site";

// Commands that only switch off what the session runs.
bool only_switches_off(const std::string& command, const JsonValue& message) {
    static const char* const switching_off[] = {"leaveChannel", "stopScreenSharing",
                                                "stopRecording", "muteLocal"};
    if (std::any_of(std::begin(switching_off), std::end(switching_off),
                    [&](const char* name) { return command == name; })) {
        return true;
    }
    bool enabled = true;
    return command == "enableLocalVideo" && read_required_bool(message, "enabled", enabled) &&
           !enabled;
}

}  // namespace

int32_t refuse(command_call& call, const char* reason) {
    call.refusal_reason = reason;
    return result::forbidden;
}

std::string refusal_reply(const std::string& command, const char* reason) {
    JsonValue reply;
    reply.makeObject();
    reply.setString("command", command.c_str());
    set_reply_code(reply, result::forbidden);
    reply.setString("reason", reason);
    return reply.toString();
}

int32_t rtc_engine_agent::admit(connection_context& context, const std::string& command,
                                const std::string& message) {
    if (open_to_every_site(command) || access_.allows(context.origin)) return result::ok;
    if (command != "initialize" || !access_.can_ask(context.origin)) return result::forbidden;
    // No server thread waits for the user: the answer comes back on the prompt's thread.
    const connection_context asking = context;
    access_.ask(context.origin, [this, asking, message](bool allowed) {
        answer_after_question(asking, message, allowed);
    });
    return 1;
}

// On the connection's own server thread, if it is still open: an allowed site's command runs as
// if it came now; a refused one is answered 403.
void rtc_engine_agent::answer_after_question(const connection_context& asking,
                                             const std::string& message, bool allowed) {
    const int32_t server = asking.server_index;
    const connection_handle handle = asking.handle;
    net_.post_to_connection(server, handle, [this, server, handle, message, allowed](
                                                connection_context& context) {
        std::string reply;
        if (allowed) {
            on_message(&context, message, reply);
        } else {
            reply = R"({"command":"initialize","code":403})";
        }
        if (!reply.empty()) net_.send_text(server, handle, reply);
    });
}

bool rtc_engine_agent::is_session_site(const connection_context& context) {
    return engine_ == nullptr || context.origin == session_origin_;
}

bool rtc_engine_agent::switches_off(const connection_context& context, const std::string& command,
                                    const JsonValue& message) {
    if (context.state != connection_control || !only_switches_off(command, message)) return false;
    checked_lock lock(control_lock_);
    return same_connection(context.handle, control_handle_);
}

// The session being made when the decisions changed records its control connection before it
// checks its site once more (run_initialize), so either that check or this look finds it.
void rtc_engine_agent::on_sites_changed() {
    int32_t server = 0;
    connection_handle handle;
    {
        checked_lock lock(control_lock_);
        server = control_server_index_;
        handle = control_handle_;
    }
    if (handle.expired()) return;
    net_.post_to_connection(server, handle,
                            [this](connection_context& control) { end_session_if_refused(control); });
}

void rtc_engine_agent::end_session_if_refused(connection_context& control) {
    if (control.state != connection_control || access_.allows(control.origin)) return;
    // The camera and the screen stop first, whatever the engine's release takes.
    with_parameters([&](kelvo::rtc::IRtcEngineParameter& parameters) KELVO_REQUIRES(agent_lock_) {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "site no longer allowed: session ends");
        switch_capture(parameters, false);
        return use_.screen ? stop_screen_sharing(parameters) : result::ok;
    });
    // Closing the control connection ends the session: its streams and the engine go.
    net_.close(control.server_index, control.handle, site_blocked_close_code,
               site_blocked_reason);
}

void rtc_engine_agent::update_use(bool device_use::*device, bool in_use) {
    if (use_.*device == in_use) return;
    use_.*device = in_use;
    if (indicator_ == nullptr) return;
    indicator_->show_use(session_origin_, use_);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
