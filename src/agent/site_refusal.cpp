#include "agent/site_refusal.h"

#include "base/json_value.h"

namespace kelvo {
namespace rtc {
namespace web {

const char* refusal_reason(site_refusal why) {
    switch (why) {
        case site_refusal::blocked: return "blocked";
        case site_refusal::not_asked_yet: return "not-asked-yet";
        case site_refusal::dismissed: return "dismissed";
        case site_refusal::timeout: return "timeout";
        case site_refusal::too_many_questions: return "too-many-questions";
        case site_refusal::cannot_ask: return "cannot-ask";
        case site_refusal::null_origin: return "null-origin";
        case site_refusal::sites_unreadable: return "sites-unreadable";
        case site_refusal::other_site: return "other-site";
    }
    return "blocked";
}

int32_t refusal_code(site_refusal why) {
    return why == site_refusal::too_many_questions ? 429 : 403;
}

std::string refusal_reply(const std::string& command, site_refusal why) {
    JsonValue reply;
    reply.makeObject();
    reply.setString("command", command.c_str());
    reply.setInt("code", refusal_code(why));
    reply.setString("reason", refusal_reason(why));
    return reply.toString();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
