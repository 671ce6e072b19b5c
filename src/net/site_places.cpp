#include "net/site_places.h"

#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

bool site_places::fits(const std::string& site) const {
    if (held_ >= in_all_) return false;
    auto found = sites_.find(site);
    return found == sites_.end() || found->second->held < per_site_;
}

std::shared_ptr<site_places::place> site_places::take(
    const std::string& site, const std::function<bool(const std::string&)>& still_not_allowed) {
    for (bool asked = false;; asked = true) {
        std::vector<std::string> holders;
        {
            checked_lock lock(lock_);
            if (fits(site)) {
                std::shared_ptr<share>& counted_in = sites_[site];
                if (!counted_in) counted_in = std::make_shared<share>();
                ++counted_in->held;
                ++held_;
                return std::make_shared<place>(*this, site, counted_in);
            }
            // A site at its own limit stays there: the caller has just found it not allowed.
            if (asked || held_ < in_all_) return nullptr;
            for (const auto& entry : sites_) holders.push_back(entry.first);
        }
        for (const std::string& holder : holders) {
            if (!still_not_allowed(holder)) forget_site(holder);
        }
    }
}

void site_places::forget_site(const std::string& site) {
    checked_lock lock(lock_);
    auto found = sites_.find(site);
    if (found == sites_.end()) return;
    held_ -= found->second->held;
    found->second->counted = false;
    sites_.erase(found);
}

void site_places::release(const std::string& site, share& counted_in) {
    if (!counted_in.counted) return;
    --counted_in.held;
    --held_;
    if (counted_in.held == 0) sites_.erase(site);
}

void site_places::place::give_back() {
    checked_lock lock(owner_.lock_);
    if (given_back_) return;
    given_back_ = true;
    owner_.release(site_, *share_);
}

bool site_places::place::counts() const {
    checked_lock lock(owner_.lock_);
    return !given_back_ && share_->counted;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
