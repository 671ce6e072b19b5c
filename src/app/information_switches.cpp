#include "app/information_switches.h"

#include <algorithm>

#include "agent/engine_library.h"
#include "app/certificate_switch.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const switch_usage shared_switches[] = {
    {"-kill", "stops the running agent"},
    {kill_for_upgrade_switch,
     "stops it for an upgrade or restart: its pages are told to connect again"},
    {"-allow ORIGIN", "remembers that the site ORIGIN (https://example.com) may use the agent"},
    {"-block ORIGIN", "remembers that the site may not use it"},
    {"-forget ORIGIN", "forgets either: the agent asks the user again"},
    {make_certificate_switch,
     "makes the TLS certificate pair beside the program unless a good one is there"},
};

const switch_usage information_switches[] = {
    {"-version", "shows the agent's version and the engine library's"},
    {"-help, -h, --help", "shows this list"},
};

// Every environment variable the agent reads, as the usage lists it (the README's
// "Configuration" table says the same at length).
const switch_usage environment_variables[] = {
    {"KELVO_AGENT_TLS_PORT", "the TLS port instead of 8921"},
    {"KELVO_AGENT_PLAIN_PORT", "the plain port instead of 8922"},
    {"KELVO_AGENT_RUNTIME_DIR",
     "Linux: the folder of the single-instance lock and the control socket (else "
     "XDG_RUNTIME_DIR, else one in the temporary folder)"},
    {"XDG_CONFIG_HOME",
     "Linux: where kelvo-web-agent/sites.json lives (else ~/.config; Windows: APPDATA)"},
    {"KELVO_AGENT_PROMPT",
     "Linux: the program that asks the user about a site (else zenity or kdialog on a display)"},
    {"RIZUDADA_LOG", "the stand-in engine's log file, with the agent's lines"},
};

bool is_help_switch(const std::string& word) {
    return word == "-help" || word == "-h" || word == "--help";
}

std::string version_text() {
    const char* engine = engine_library::instance().version();
    return std::string("Kelvo Web Agent " KELVO_AGENT_VERSION "\n") +
           (engine != nullptr ? std::string("engine ") + engine : "engine: not available") + "\n";
}

// The meanings line up in one column after the longest form of the list.
void append_usage(std::string& text, const switch_usage& usage, size_t meaning_column = 24) {
    std::string line = std::string("  ") + usage.form;
    line.resize(std::max(meaning_column, line.size() + 2), ' ');
    text += line + usage.meaning + "\n";
}

std::string help_text(const std::vector<switch_usage>& platform_switches) {
    std::string text =
        "usage: kelvo_web_agent [SWITCH]\n"
        "Without a switch the agent starts: it serves pages on 127.0.0.1, ports 8921 (TLS) and "
        "8922.\n"
        "One switch per command line:\n";
    for (const switch_usage& usage : shared_switches) append_usage(text, usage);
    for (const switch_usage& usage : platform_switches) append_usage(text, usage);
    for (const switch_usage& usage : information_switches) append_usage(text, usage);
    text += "Environment variables:\n";
    for (const switch_usage& usage : environment_variables) append_usage(text, usage, 27);
    return text;
}

}  // namespace

std::optional<std::string> information_switch_text(
    const std::vector<std::string>& words, const std::vector<switch_usage>& platform_switches) {
    if (words.size() != 1) return std::nullopt;
    if (words[0] == "-version") return version_text();
    if (is_help_switch(words[0])) return help_text(platform_switches);
    return std::nullopt;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
