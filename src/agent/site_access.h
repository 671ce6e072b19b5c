// Which sites may use the agent: the user's remembered decisions, the questions waiting for the
// user about sites not decided yet, and the sites that are not asked again for a while. A
// connection without an origin is a program of the agent's own user (pages always send one) and
// is let in; the origin "null" (file pages, sandboxed frames of any site) is refused and never
// asked about, since nobody could tell the user who asks.
//
// Questions are bounded, so that a page opening connections from many origins, or sending many
// "initialize" commands, can neither flood the screen nor the agent's memory: one question is
// with the prompt at a time, the other sites wait in turn, at most `most_sites_waiting` of them;
// a site's waiting commands hold at most `most_bytes_waiting_per_site`; and a site whose question
// ended without a lasting answer is not asked again for `pause`.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "access/consent_prompt.h"
#include "access/site_decisions.h"
#include "agent/site_refusal.h"
#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

// The site a connection's Origin header names, normalized; empty without one. A header that names
// no site is kept as it came, so that no decision matches it and nobody is asked about it.
std::string site_of(const std::string& origin_header);

struct question_limits {
    // Sites waiting for the user: the one being asked and those queued behind it.
    size_t most_sites_waiting = 16;
    // What the commands of one site that wait for the user's answer may hold, in bytes as the
    // waiters declare them plus waiter_bytes for each.
    size_t most_bytes_waiting_per_site = 256 * 1024;
    // How long a site is not asked again after its question was dismissed, timed out, could not
    // be asked or was answered Block without remembering; its commands are refused meanwhile.
    std::chrono::milliseconds pause = std::chrono::minutes(10);
};

class site_access {
public:
    // What a waiting command is told once the user decides: nothing when the site is allowed,
    // otherwise why it is refused.
    using waiter = std::function<void(std::optional<site_refusal> refused)>;
    // What one waiting command costs besides the bytes it declares: its place in the list and
    // the waiter itself.
    static constexpr size_t waiter_bytes = 256;
    // Sites kept in their pause at once; beyond, the pause that ends soonest ends now, so that
    // a page making up origins cannot grow the list without end.
    static constexpr size_t most_paused_sites = 1024;

    // `sites` null: every site but "null" is let in (a test or a program without a sites file).
    // `prompt` null: nobody can be asked, so an undecided site is refused.
    site_access(site_decisions* sites, IConsentPrompt* prompt, question_limits limits = {})
        : sites_(sites), prompt_(prompt), limits_(limits) {}
    site_access(const site_access&) = delete;
    site_access& operator=(const site_access&) = delete;

    // `origin` normalized; empty for a connection without one.
    bool allows(const std::string& origin) const;
    // True while a question about the origin is open or queued.
    bool asking(const std::string& origin) const KELVO_EXCLUDES(lock_);
    // Why a command that does not ask the user is refused to a site that allows() refuses.
    site_refusal refusal(const std::string& origin) KELVO_EXCLUDES(lock_);
    // For a site that allows() refuses: asks the user about it, or adds the command to the
    // question already waiting about it, and returns nothing; `answered` is called once, on the
    // prompt's thread, when the user has decided. A command that cannot wait is refused at once:
    // the reason is returned and `answered` is never called. `held`: the bytes the waiter keeps.
    std::optional<site_refusal> ask(const std::string& origin, size_t held, waiter answered)
        KELVO_EXCLUDES(lock_);

private:
    struct question {
        std::vector<waiter> waiters;
        size_t bytes = 0;
    };
    struct pause {
        std::chrono::steady_clock::time_point until;
        site_refusal why;
    };

    // Why the site cannot run a command now, read with its decision taken beforehand (the
    // decisions have a lock of their own, not taken under this one); nothing when `asking` and
    // the user can be asked.
    std::optional<site_refusal> standing(const std::string& origin, site_decision decision,
                                         bool asking) KELVO_REQUIRES(lock_);
    // Hands the oldest queued question to the prompt unless it has one already.
    void ask_next() KELVO_EXCLUDES(lock_);
    void decide(const std::string& origin, consent_answer answer) KELVO_EXCLUDES(lock_);
    void start_pause(const std::string& origin, site_refusal why) KELVO_REQUIRES(lock_);

    site_decisions* const sites_;
    IConsentPrompt* const prompt_;
    const question_limits limits_;
    // Guards what follows; nothing else is called while it is held. Server I/O threads and the
    // prompt's threads.
    mutable checked_mutex lock_;
    // Every site with a question open or queued, and its waiting commands.
    std::map<std::string, question> waiting_ KELVO_GUARDED_BY(lock_);
    // The sites of waiting_ not handed to the prompt yet, oldest first.
    std::deque<std::string> queued_ KELVO_GUARDED_BY(lock_);
    bool prompt_busy_ KELVO_GUARDED_BY(lock_) = false;
    std::map<std::string, pause> paused_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
