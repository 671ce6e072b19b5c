#include "access/site_decisions.h"

#include <cstdio>
#include <iterator>
#include <map>

#include "access/origin.h"
#include "access/sites_file.h"
#include "base/thread_annotations.h"
#include "platform/file_contents.h"
#include "platform/file_lock.h"
#include "platform/module_path.h"
#include "platform/user_config_folder.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char null_origin[] = "null";

// The file's decisions; a file that is not a sites file is set aside (replacing one set aside
// earlier) and counts as empty, a missing or unreadable one counts as empty.
site_map readSitesFile(const std::string& path) {
    const std::optional<std::string> bytes = platform_read_file(path);
    if (!bytes) return site_map();
    std::optional<site_map> sites = parse_sites_text(*bytes);
    if (sites) return std::move(*sites);
    const std::string aside = path + ".damaged";
    const std::string outcome =
        platform_rename_file(path, aside) ? "set aside as " + aside : "left where it is";
    std::fprintf(stderr, "Kelvo Web Agent: %s is not a sites file; %s, no site is remembered\n",
                 path.c_str(), outcome.c_str());
    return site_map();
}

site_decision lookUp(const site_map& sites, const std::string& origin) {
    const auto found = sites.find(origin);
    return found != sites.end() ? found->second : site_decision::undecided;
}

}  // namespace

// Every read and write of the file happens under the file lock (sites.json.lock beside it), so
// an edit reads what the last writer wrote, whichever process it was, and none is lost; a
// damaged file is set aside only by the reader that found it damaged. The file lock comes
// first, then `lock`, which is held only while memory changes, so that askers never wait for
// the disk. Where the lock file cannot be made (no such folder) the file cannot be written
// either: reads go on without the lock and writes fail.
struct site_decisions::impl {
    explicit impl(std::string file) : path(std::move(file)), lock_path(path + ".lock") {}

    const std::string path;
    const std::string lock_path;
    mutable checked_mutex lock;
    // The file's decisions as last read or written.
    site_map remembered KELVO_GUARDED_BY(lock);
    // Decisions of this run only, before the remembered ones: allowances, and decisions that
    // could not be written.
    site_map this_run KELVO_GUARDED_BY(lock);

    // Takes what the file holds now. A run decision about an origin whose remembered decision
    // has changed is dropped: the file's is the newer word (say "-block" after "allow once").
    void adopt(site_map sites) KELVO_REQUIRES(lock) {
        for (auto run = this_run.begin(); run != this_run.end();) {
            const bool changed = lookUp(sites, run->first) != lookUp(remembered, run->first);
            run = changed ? this_run.erase(run) : std::next(run);
        }
        remembered = std::move(sites);
    }

    // The decision as this run's own, or none (undecided).
    void decide_for_this_run(const std::string& origin, site_decision decision)
        KELVO_REQUIRES(lock) {
        this_run.erase(origin);
        if (decision != site_decision::undecided) this_run[origin] = decision;
    }
};

site_decisions::site_decisions(std::string path) : impl_(new impl(std::move(path))) {
    reload();
}

site_decisions::~site_decisions() {
    delete impl_;
}

std::string site_decisions::default_path() {
    const std::string folder = platform_user_config_folder();
    return folder.empty() ? std::string() : platform_path_in_directory(folder, "sites.json");
}

site_decision site_decisions::decision(const std::string& origin) const {
    const std::string key = normalize_origin(origin);
    checked_lock hold(impl_->lock);
    const site_decision run = lookUp(impl_->this_run, key);
    return run != site_decision::undecided ? run : lookUp(impl_->remembered, key);
}

bool site_decisions::remember(const std::string& origin, site_decision decision) {
    const std::string key = normalize_origin(origin);
    if (key.empty()) return false;
    if (key == null_origin && decision == site_decision::allowed) {
        allow_for_this_run(key);
        return true;
    }
    if (impl_->path.empty()) {
        checked_lock hold(impl_->lock);
        impl_->decide_for_this_run(key, decision);
        return false;
    }
    platform_file_lock file_lock(impl_->lock_path);
    site_map on_disk = readSitesFile(impl_->path);
    site_map edited = on_disk;
    if (decision == site_decision::undecided) {
        edited.erase(key);
    } else {
        edited[key] = decision;
    }
    const bool written = platform_replace_file_contents(impl_->path, sites_text(edited));
    checked_lock hold(impl_->lock);
    impl_->adopt(written ? std::move(edited) : std::move(on_disk));
    // Written, the file's decision is the one; else it holds for this run.
    impl_->decide_for_this_run(key, written ? site_decision::undecided : decision);
    return written;
}

void site_decisions::allow_for_this_run(const std::string& origin) {
    const std::string key = normalize_origin(origin);
    if (key.empty()) return;
    checked_lock hold(impl_->lock);
    impl_->this_run[key] = site_decision::allowed;
}

bool site_decisions::forget(const std::string& origin) {
    return remember(origin, site_decision::undecided);
}

void site_decisions::forget_for_this_run(const std::string& origin) {
    checked_lock hold(impl_->lock);
    impl_->this_run.erase(normalize_origin(origin));
}

void site_decisions::reload() {
    if (impl_->path.empty()) return;
    platform_file_lock file_lock(impl_->lock_path);
    site_map sites = readSitesFile(impl_->path);
    checked_lock hold(impl_->lock);
    impl_->adopt(std::move(sites));
}

std::vector<std::pair<std::string, site_decision>> site_decisions::list() const {
    checked_lock hold(impl_->lock);
    return {impl_->remembered.begin(), impl_->remembered.end()};
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
