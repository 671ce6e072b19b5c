// The program's entry on POSIX systems.
//
//   kelvo_web_agent -make-certificate
//                            makes the TLS server's certificate pair beside the program unless
//                            the one there is good (app/certificate_switch.h); exit code 0 done,
//                            1 it could not
//   kelvo_web_agent          starts the agent (exit code 255, i.e. -1, when one already runs,
//                            or a port cannot be taken, or it has no private runtime folder
//                            (platform/posix/runtime_folder.h) for its lock and control socket,
//                            each said on standard error; 0 after "close", SIGINT or SIGTERM)
//   kelvo_web_agent -kill    asks every running instance to close, then exits with 0
//   kelvo_web_agent -kill-for-upgrade
//                            the same, for an installer that starts the new agent next: the
//                            pages are told "service restart" (close code 1012) and come back
//   kelvo_web_agent -allow ORIGIN, -block ORIGIN, -forget ORIGIN
//                            remembers that the site ORIGIN (https://example.com) may use the
//                            agent, that it may not, or neither (the agent asks), in
//                            $XDG_CONFIG_HOME/kelvo-web-agent/sites.json (~/.config by
//                            default), and tells a running instance to read the file again;
//                            exit code 0 done, 1 the file could not be read or written, 2 a
//                            wrong command line (an origin that is not one)
//   kelvo_web_agent -version, -help (-h, --help)
//                            the versions, or every switch, on standard output; exit code 0
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "access/site_decisions.h"
#include "app/agent_run.h"
#include "app/certificate_switch.h"
#include "app/consent_prompt_posix.h"
#include "app/control_loop_posix.h"
#include "app/information_switches.h"
#include "app/second_instance_notice.h"
#include "app/server_ports.h"
#include "app/site_switches.h"
#include "app/tray_usage_indicator.h"
#include "platform/module_path.h"
#include "platform/posix/runtime_folder.h"
#include "platform/single_instance.h"

using namespace kelvo::rtc::web;

namespace {

// Repeats while an instance still answers: it ends its loop on the first close message, and a
// newer instance may have taken its place by the next look.
void closeRunningInstances(const char* message) {
    while (post_control_message(message)) std::this_thread::sleep_for(std::chrono::seconds(2));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], make_certificate_switch) == 0) {
        return make_certificate_pair(platform_module_directory());
    }
    // Only the whole command line "-kill" is the switch (no other spelling, no further words).
    if (argc == 2 && std::strcmp(argv[1], "-kill") == 0) {
        closeRunningInstances("close");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], kill_for_upgrade_switch) == 0) {
        closeRunningInstances("close-for-upgrade");
        return 0;
    }
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (const std::optional<std::string> text = information_switch_text(words, {})) {
        std::fputs(text->c_str(), stdout);
        return 0;
    }
    if (!words.empty() && is_site_switch(words[0])) {
        return run_site_switch(words, site_decisions::default_path(),
                               [](const std::string& forgotten) {
                                   return post_control_message(
                                       forgotten.empty() ? "reload" : forget_prefix + forgotten);
                               });
    }
    std::string no_runtime_folder;
    if (platform_runtime_folder(&no_runtime_folder).empty()) {
        std::fprintf(stderr, "Kelvo Web Agent: cannot start: %s\n", no_runtime_folder.c_str());
        return -1;
    }
    if (!platform_take_single_instance_lock()) {
        std::fputs(second_instance_notice(platform_single_instance_holder()).c_str(), stderr);
        return -1;
    }
    // A page that goes away mid-send must not end the process.
    signal(SIGPIPE, SIG_IGN);
    site_decisions sites(site_decisions::default_path());
    program_consent_prompt prompt;
    tray_usage_indicator usage;
    return run_agent(platform_module_directory(), configured_server_ports(),
                     {sites, prompt, usage},
                     [&usage](sites_changed_handler on_sites_changed) {
                         return std::make_unique<control_loop>(std::move(on_sites_changed),
                                                               usage);
                     });
}
