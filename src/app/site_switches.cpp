#include "app/site_switches.h"

#include <cstdio>

#include "access/origin.h"
#include "access/site_decisions.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

constexpr int done = 0;
constexpr int not_written = 1;
constexpr int wrong_command_line = 2;

struct site_switch {
    const char* word;
    site_decision decision;
    const char* outcome;
};

const site_switch site_switches[] = {
    {"-allow", site_decision::allowed, "may use the agent"},
    {"-block", site_decision::blocked, "is blocked"},
    {"-forget", site_decision::undecided, "is forgotten: the agent will ask"},
};

const site_switch* findSwitch(const std::string& word) {
    for (const site_switch& candidate : site_switches) {
        if (word == candidate.word) return &candidate;
    }
    return nullptr;
}

// The normalized origin, or empty after saying on standard error why there is none.
std::string checkedOrigin(const site_switch& chosen, const std::string& text) {
    const std::string origin = normalize_origin(text);
    if (origin.empty()) {
        std::fprintf(stderr,
                     "Kelvo Web Agent: \"%s\" is not a site's origin; give scheme://host or "
                     "scheme://host:port, for example https://example.com\n",
                     text.c_str());
    } else if (origin == "null" && chosen.decision == site_decision::allowed) {
        std::fprintf(stderr,
                     "Kelvo Web Agent: the origin null is shared by unrelated pages (files, "
                     "sandboxed frames), so it is never remembered as allowed; the agent asks "
                     "each time\n");
        return std::string();
    }
    return origin;
}

}  // namespace

bool is_site_switch(const std::string& word) {
    return findSwitch(word) != nullptr;
}

int run_site_switch(const std::vector<std::string>& words, const std::string& path,
                    const std::function<bool(const std::string& forgotten)>& reload_running_agent) {
    const site_switch* chosen = words.empty() ? nullptr : findSwitch(words[0]);
    if (chosen == nullptr || words.size() != 2) {
        std::fprintf(stderr, "usage: kelvo_web_agent -allow|-block|-forget ORIGIN "
                             "(kelvo_web_agent -help lists every switch)\n");
        return wrong_command_line;
    }
    const std::string origin = checkedOrigin(*chosen, words[1]);
    if (origin.empty()) return wrong_command_line;
    site_decisions sites(path);
    if (!sites.remember(origin, chosen->decision)) {
        std::fprintf(stderr, "Kelvo Web Agent: the sites file %s could not be written\n",
                     path.empty() ? "(no settings folder)" : path.c_str());
        return not_written;
    }
    // A forgotten site may hold the running agent's allowance for its run, unknown to the file.
    const bool reached = reload_running_agent(
        chosen->decision == site_decision::undecided ? origin : std::string());
    std::printf("%s %s%s\n", origin.c_str(), chosen->outcome,
                reached ? " (the running agent has been told)" : "");
    return done;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
