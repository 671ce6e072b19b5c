#include "agent/site_access.h"

#include <utility>

#include "access/origin.h"

namespace kelvo {
namespace rtc {
namespace web {

std::string site_of(const std::string& origin_header) {
    if (origin_header.empty()) return origin_header;
    const std::string site = normalize_origin(origin_header);
    return site.empty() ? origin_header : site;
}

bool site_access::allows(const std::string& origin) const {
    return origin.empty() || sites_ == nullptr ||
           sites_->decision(origin) == site_decision::allowed;
}

bool site_access::can_ask(const std::string& origin) const {
    return prompt_ != nullptr && sites_ != nullptr && normalize_origin(origin) == origin &&
           sites_->decision(origin) == site_decision::undecided;
}

bool site_access::sites_unreadable() const {
    return sites_ != nullptr && !sites_->unreadable_because().empty();
}

void site_access::ask(const std::string& origin, std::function<void(bool allowed)> answered) {
    {
        checked_lock lock(lock_);
        std::vector<std::function<void(bool)>>& waiters = waiting_[origin];
        waiters.push_back(std::move(answered));
        if (waiters.size() > 1) return;  // the open question answers this one too
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
    case consent_answer::dismissed:
        break;
    }
    const bool allowed =
        answer == consent_answer::allow_remembered || answer == consent_answer::allow_once;
    std::vector<std::function<void(bool)>> waiters;
    {
        checked_lock lock(lock_);
        waiters.swap(waiting_[origin]);
        waiting_.erase(origin);
    }
    for (const auto& answered : waiters) answered(allowed);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
