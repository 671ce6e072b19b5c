// The places of a whole agent (both servers) for connections of sites the user has not allowed.
// Pages of such a site may open connections as fast as the browser lets them; the places keep
// them from filling the servers, so the rest stays for the user's allowed sites and programs.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

class site_places {
public:
    class place;

    // At most `per_site` connections of one site, and `in_all` of all such sites together.
    site_places(size_t per_site, size_t in_all) : per_site_(per_site), in_all_(in_all) {}
    site_places(const site_places&) = delete;
    site_places& operator=(const site_places&) = delete;

    // A place for a connection of `site` (its Origin header); none when the site, or all such
    // sites together, hold as many as they may. When all of them are taken, `still_not_allowed`
    // is asked (without the lock held) about each site holding places first, so that a site the
    // user has allowed since gives its places back.
    std::shared_ptr<place> take(const std::string& site,
                                const std::function<bool(const std::string&)>& still_not_allowed)
        KELVO_EXCLUDES(lock_);
    // The user allowed the site: the places its connections hold are given back, and those
    // connections no longer count.
    void forget_site(const std::string& site) KELVO_EXCLUDES(lock_);

private:
    // The places one site holds; left behind (no longer counted) once the site is forgotten.
    struct share {
        size_t held = 0;
        bool counted = true;
    };

    bool fits(const std::string& site) const KELVO_REQUIRES(lock_);
    // One connection of the site in `counted_in` no longer counts.
    void release(const std::string& site, share& counted_in) KELVO_REQUIRES(lock_);

    const size_t per_site_;
    const size_t in_all_;
    // A leaf: nothing is called while it is held. Server I/O threads and sending threads.
    mutable checked_mutex lock_;
    std::map<std::string, std::shared_ptr<share>> sites_ KELVO_GUARDED_BY(lock_);
    size_t held_ KELVO_GUARDED_BY(lock_) = 0;
};

// One connection's place, held from its handshake until it ends (or its site is allowed).
class site_places::place {
public:
    place(site_places& owner, std::string site, std::shared_ptr<share> counted_in)
        : owner_(owner), site_(std::move(site)), share_(std::move(counted_in)) {}
    ~place() { give_back(); }
    place(const place&) = delete;
    place& operator=(const place&) = delete;

    const std::string& site() const { return site_; }
    // True while the connection counts as one of a site that is not allowed.
    bool counts() const KELVO_EXCLUDES(owner_.lock_);
    // Frees the place at once (the connection has ended); later calls do nothing.
    void give_back() KELVO_EXCLUDES(owner_.lock_);

private:
    site_places& owner_;
    const std::string site_;
    const std::shared_ptr<share> share_;
    bool given_back_ KELVO_GUARDED_BY(owner_.lock_) = false;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
