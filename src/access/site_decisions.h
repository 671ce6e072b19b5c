// The user's decisions about which sites may use the agent, kept per OS user in sites.json.
//
// The file is one JSON object, {"origins":{"<origin>":"allowed"|"blocked",...}}, written atomically
// (a whole new file replaces the old one), so another process editing it (kelvo_web_agent -allow,
// -block, -forget) and the agent reading it never see half a file. A file that cannot be read as
// such is set aside beside it (sites.json.damaged) with a warning on standard error and counts as
// empty; it never stops the agent. The origin "null" (file pages, sandboxed frames, shared by many
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

enum class site_decision { undecided, allowed, blocked };

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
    // this run only. False when the file could not be written (the decision then holds for this
    // run).
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

private:
    struct impl;
    impl* impl_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
