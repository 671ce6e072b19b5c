#include "agent/site_access.h"

#include <algorithm>
#include <utility>

#include "access/origin.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// The origin every file page and sandboxed frame has, whatever site made it.
bool is_null_origin(const std::string& origin) {
    return origin == "null";
}

// The reason the site's commands are refused while it pauses after this answer; nothing when
// the answer lasts (allowed, or blocked and remembered).
std::optional<site_refusal> pause_reason(consent_answer answer) {
    switch (answer) {
        case consent_answer::block_once: return site_refusal::blocked;
        case consent_answer::dismissed: return site_refusal::dismissed;
        case consent_answer::timed_out: return site_refusal::timeout;
        case consent_answer::unasked: return site_refusal::cannot_ask;
        default: return std::nullopt;
    }
}

}  // namespace

std::string site_of(const std::string& origin_header) {
    if (origin_header.empty()) return origin_header;
    const std::string site = normalize_origin(origin_header);
    return site.empty() ? origin_header : site;
}

bool site_access::allows(const std::string& origin) const {
    if (is_null_origin(origin)) return false;
    return origin.empty() || sites_ == nullptr ||
           sites_->decision(origin) == site_decision::allowed;
}

site_refusal site_access::refusal(const std::string& origin) {
    const site_decision decision =
        sites_ != nullptr ? sites_->decision(origin) : site_decision::undecided;
    checked_lock hold(lock_);
    return standing(origin, decision, false).value_or(site_refusal::not_asked_yet);
}

bool site_access::asking(const std::string& origin) const {
    checked_lock hold(lock_);
    return waiting_.count(origin) != 0;
}

std::optional<site_refusal> site_access::ask(const std::string& origin, size_t held,
                                             waiter answered) {
    const site_decision decision =
        sites_ != nullptr ? sites_->decision(origin) : site_decision::undecided;
    const size_t bytes = held + waiter_bytes;
    {
        checked_lock hold(lock_);
        if (auto refused = standing(origin, decision, true)) return refused;
        auto found = waiting_.find(origin);
        const size_t already = found != waiting_.end() ? found->second.bytes : 0;
        if (already + bytes > limits_.most_bytes_waiting_per_site) {
            return site_refusal::too_many_questions;
        }
        if (found == waiting_.end()) {
            if (waiting_.size() >= limits_.most_sites_waiting) {
                return site_refusal::too_many_questions;
            }
            found = waiting_.emplace(origin, question{}).first;
            queued_.push_back(origin);
        }
        found->second.bytes += bytes;
        found->second.waiters.push_back(std::move(answered));
    }
    ask_next();
    return std::nullopt;
}

std::optional<site_refusal> site_access::standing(const std::string& origin,
                                                  site_decision decision, bool asking) {
    if (is_null_origin(origin)) return site_refusal::null_origin;
    // Nobody is served or asked while the user's decisions cannot be read.
    if (decision == site_decision::unreadable) return site_refusal::sites_unreadable;
    if (decision == site_decision::blocked) return site_refusal::blocked;
    const auto paused = paused_.find(origin);
    if (paused != paused_.end()) {
        if (std::chrono::steady_clock::now() < paused->second.until) return paused->second.why;
        paused_.erase(paused);
    }
    if (!asking) return site_refusal::not_asked_yet;
    // A header that names no site cannot be put to the user.
    if (prompt_ == nullptr || sites_ == nullptr || normalize_origin(origin) != origin) {
        return site_refusal::cannot_ask;
    }
    return std::nullopt;
}

void site_access::ask_next() {
    std::string origin;
    {
        checked_lock hold(lock_);
        if (prompt_busy_ || queued_.empty()) return;
        origin = std::move(queued_.front());
        queued_.pop_front();
        prompt_busy_ = true;
    }
    prompt_->ask(origin, [this, origin](consent_answer answer) { decide(origin, answer); });
}

void site_access::decide(const std::string& origin, consent_answer answer) {
    switch (answer) {
        case consent_answer::allow_remembered:
            sites_->remember(origin, site_decision::allowed);
            break;
        case consent_answer::allow_once:
            sites_->allow_for_this_run(origin);
            break;
        case consent_answer::block_remembered:
            sites_->remember(origin, site_decision::blocked);
            break;
        default:
            break;
    }
    std::optional<site_refusal> refused = pause_reason(answer);
    if (answer == consent_answer::block_remembered) refused = site_refusal::blocked;
    std::vector<waiter> waiters;
    {
        checked_lock hold(lock_);
        const auto found = waiting_.find(origin);
        if (found != waiting_.end()) {
            waiters.swap(found->second.waiters);
            waiting_.erase(found);
        }
        prompt_busy_ = false;
        if (const auto why = pause_reason(answer)) start_pause(origin, *why);
    }
    for (const auto& answered : waiters) answered(refused);
    ask_next();
}

void site_access::start_pause(const std::string& origin, site_refusal why) {
    const auto now = std::chrono::steady_clock::now();
    for (auto entry = paused_.begin(); entry != paused_.end();) {
        entry = entry->second.until <= now ? paused_.erase(entry) : std::next(entry);
    }
    if (paused_.size() >= most_paused_sites && paused_.count(origin) == 0) {
        paused_.erase(std::min_element(paused_.begin(), paused_.end(),
                                       [](const auto& a, const auto& b) {
                                           return a.second.until < b.second.until;
                                       }));
    }
    paused_[origin] = pause{now + limits_.pause, why};
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
