// Which sites may use the agent: the user's remembered decisions, and the questions open for the
// sites the user has not decided about yet. A connection without an origin is a program of the
// agent's own user (pages always send one) and is let in.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "access/consent_prompt.h"
#include "access/site_decisions.h"
#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

// The site a connection's Origin header names, normalized; empty without one. A header that names
// no site is kept as it came, so that no decision matches it and nobody is asked about it.
std::string site_of(const std::string& origin_header);

class site_access {
public:
    // `sites` null: every site is let in (a test or a program without a sites file). `prompt`
    // null: nobody can be asked, so an undecided site is refused.
    site_access(site_decisions* sites, IConsentPrompt* prompt) : sites_(sites), prompt_(prompt) {}
    site_access(const site_access&) = delete;
    site_access& operator=(const site_access&) = delete;

    // `origin` normalized; empty for a connection without one.
    bool allows(const std::string& origin) const;
    bool can_ask(const std::string& origin) const;
    // True while the user's sites file cannot be read: every site is refused, nobody asked.
    bool sites_unreadable() const;
    // Asks the user about the origin unless a question about it is open already; every waiter's
    // `answered` is called with the decision, on the prompt's thread, once the user decides.
    void ask(const std::string& origin, std::function<void(bool allowed)> answered)
        KELVO_EXCLUDES(lock_);

private:
    void decide(const std::string& origin, consent_answer answer) KELVO_EXCLUDES(lock_);

    site_decisions* const sites_;
    IConsentPrompt* const prompt_;
    // Guards the waiters; nothing else is called while it is held. Server I/O threads and the
    // prompt's threads.
    checked_mutex lock_;
    std::map<std::string, std::vector<std::function<void(bool)>>> waiting_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
