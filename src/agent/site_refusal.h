// Why a site's command is refused, and the reply that tells the page: {"command":…,"code":403,
// "reason":…} (429 when too many sites wait for the user already). The page library reads the
// reason to tell its user what to do; every refusal that comes from who may use the agent is
// written by refusal_reply, so the words are in one place.
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

enum class site_refusal {
    blocked,             // the user blocked the site (remembered, or answered Block just now)
    not_asked_yet,       // undecided, and only "initialize" asks the user
    dismissed,           // the question was dismissed, or the site pauses after that
    timeout,             // nobody answered the question in time, or the site pauses after that
    too_many_questions,  // as many sites as the agent keeps wait for the user already (429)
    cannot_ask,          // nobody can be asked: the user allows the site with -allow
    null_origin,         // file pages and sandboxed frames: nobody can tell who asks
    sites_unreadable,    // the user's sites file cannot be read, so no site is served
    other_site,          // a video of the running session, asked for by another site
};

// The "reason" text: "blocked", "not-asked-yet", ... as the page library knows them.
const char* refusal_reason(site_refusal why);
// 429 for too_many_questions, 403 for the others.
int32_t refusal_code(site_refusal why);
// {"command":"<command>","code":403,"reason":"<reason>"}
std::string refusal_reply(const std::string& command, site_refusal why);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
