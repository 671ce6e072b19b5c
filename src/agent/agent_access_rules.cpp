// Who may use the agent: a site the user has not allowed gets nothing but what the agent says
// about itself ("getVersion", "getAgentInfo"); its "initialize" asks the user and is answered
// once they decide. While a session exists, its video
// goes to connections of its own site only. What the session's site uses is shown to the user.
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

}  // namespace

int32_t rtc_engine_agent::admit(connection_context& context, const std::string& command,
                                const std::string& message, const char*& reason) {
    if (open_to_every_site(command) || access_.allows(context.origin)) return result::ok;
    if (access_.sites_unreadable()) {
        reason = "sites-unreadable";
        return result::forbidden;
    }
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
    if (!engine_initialized()) return true;
    checked_lock lock(control_lock_);
    return context.origin == session_origin_;
}

void rtc_engine_agent::update_use(bool device_use::*device, bool in_use) {
    if (use_.*device == in_use) return;
    use_.*device = in_use;
    if (indicator_ == nullptr) return;
    std::string site;
    {
        checked_lock lock(control_lock_);
        site = session_origin_;
    }
    indicator_->show_use(site, use_);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
