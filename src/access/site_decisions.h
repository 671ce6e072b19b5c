// The user's decisions about which sites may use the agent, kept per OS user in sites.json.
//
// The file is one JSON object, {"origins":{"<origin>":"allowed"|"blocked",...}}, written atomically
// (a whole new file replaces the old one), so another process editing it (kelvo_web_agent -allow,
// -block, -forget) and the agent reading it never see half a file. A file whose text is not such
// an object is set aside beside it (sites.json.damaged) with a warning on standard error and
// counts as empty; it never stops the agent. A file that is there but cannot be read (no right
// to it, a folder in its place) is another matter: what it holds is not known, so nothing is
// written over it and every site is refused until it can be read again (a line on standard
// error says so). A link in the file's place is followed: the file it leads to is the one read
// and replaced, the link stays. The origin "null" (file pages, sandboxed frames, shared by many
// unrelated pages) is never remembered as allowed: it can be allowed for the current run only.
//
// Thread-safe: the servers' threads ask, the main thread reloads and the prompt's thread decides.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

enum class site_decision {
    undecided,
    allowed,
    blocked,
    // Of every site while the file cannot be read: refused, and nobody is asked (the answer
    // could not be kept, and the user may have blocked the site).
    unreadable,
};

class site_decisions {
public:
    // Decisions in the file at `path`, read at once.
    explicit site_decisions(std::string path);
    ~site_decisions();
    site_decisions(const site_decisions&) = delete;
    site_decisions& operator=(const site_decisions&) = delete;

    // The file of this OS user: Windows %APPDATA%\Kelvo Web Agent\sites.json, elsewhere
    // $XDG_CONFIG_HOME/kelvo-web-agent/sites.json (default ~/.config).
    static std::string default_path();

    // The decision for a normalized origin, the allowances of this run included.
    site_decision decision(const std::string& origin) const;
    // Remembers allowed or blocked in the file (undecided forgets); "null" allowed is kept for
    // this run only. False when the file could not be read or written (the decision then holds
    // for this run, once the file can be read).
    bool remember(const std::string& origin, site_decision decision);
    // Allowed until the agent ends, never written.
    void allow_for_this_run(const std::string& origin);
    // Forgets what the file and this run know of the origin.
    bool forget(const std::string& origin);
    // Forgets what this run knows of the origin: another process has forgotten it in the file.
    void forget_for_this_run(const std::string& origin);
    // Reads the file again (another process changed it); this run's allowances stay, except
    // for an origin whose remembered decision the file has changed since (the newer word).
    void reload();
    // Every remembered decision, in the order of their origins.
    std::vector<std::pair<std::string, site_decision>> list() const;
    // Why the file could not be read when it was last read (the system's words); empty while it
    // can be.
    std::string unreadable_because() const;

private:
    struct impl;
    impl* impl_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
