// The program's entry on Windows: the wide-character GUI entry point.
//
//   kelvo_web_agent.exe -make-certificate, -trust-certificate, -untrust-certificate
//                                the installer's switches (app/installation_switches_win.h):
//                                exit code 0 done, 1 failed
//   kelvo_web_agent.exe          starts the agent (exit code -1 when one already runs, which it
//                                says as -version does, or a port cannot be taken; 0 when its
//                                window is closed or Quit is chosen)
//   kelvo_web_agent.exe -kill    closes every running instance, then exits with 0
//   kelvo_web_agent.exe -kill-for-upgrade
//                                the same, for an installer that starts the new agent next: the
//                                pages are told "service restart" (close code 1012)
//   kelvo_web_agent.exe -allow ORIGIN, -block ORIGIN, -forget ORIGIN
//                                remembers that the site ORIGIN (https://example.com) may use
//                                the agent, that it may not, or neither (the agent asks), in
//                                %APPDATA%\Kelvo Web Agent\sites.json, and tells a running
//                                instance to read the file again; exit code 0 done, 1 the file
//                                could not be read or written, 2 a wrong command line
//   kelvo_web_agent.exe -version, -help (-h, --help)
//                                the versions, or every switch, on the console the program was
//                                started from or where its output goes, else in a message box;
//                                exit code 0
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "access/site_decisions.h"
#include "app/agent_run.h"
#include "app/control_window_win.h"
#include "app/crash_restart_win.h"
#include "app/information_switches.h"
#include "app/installation_switches_win.h"
#include "app/queued_consent_prompt.h"
#include "app/second_instance_notice.h"
#include "app/server_ports.h"
#include "app/site_switches.h"
#include "app/starting_console_win.h"
#include "app/tray_usage_indicator.h"
#include "platform/module_path.h"
#include "platform/single_instance.h"
#include "platform/win/wide_text.h"

using namespace kelvo::rtc::web;

namespace {

// Repeats while a window of the class exists: an instance ends its loop on the close message
// (WM_CLOSE, or the close-for-upgrade message), and a newer instance may have taken its place by
// the next look.
void closeRunningInstances(UINT close_message) {
    for (HWND window = FindWindowW(control_window_name, nullptr); window != nullptr;
         window = FindWindowW(control_window_name, nullptr)) {
        PostMessageW(window, close_message, 0, 0);
        Sleep(2000);
    }
}

// The words after the program's name, in UTF-8.
std::vector<std::string> commandLineWords() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> result;
    for (int i = 1; words != nullptr && i < count; ++i) {
        result.push_back(utf8_from_wide(words[i], static_cast<int>(std::wcslen(words[i]))));
    }
    LocalFree(words);
    return result;
}

// A forgotten site is named (WM_COPYDATA), so that the running agent forgets its allowance for
// this run too, which the file does not hold.
bool tellRunningAgent(const std::string& forgotten) {
    HWND window = FindWindowW(control_window_name, nullptr);
    if (window == nullptr) return false;
    if (forgotten.empty()) return PostMessageW(window, reload_sites_message, 0, 0) != FALSE;
    COPYDATASTRUCT data{forget_site_data, static_cast<DWORD>(forgotten.size()),
                        const_cast<char*>(forgotten.data())};
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                               SMTO_ABORTIFHUNG, 5000, &answer) != 0 &&
           answer == TRUE;
}

int runSiteSwitch(const std::vector<std::string>& words) {
    write_to_starting_console();
    return run_site_switch(words, site_decisions::default_path(), tellRunningAgent);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
    g_module_instance = instance;
    if (const std::optional<int> code = run_installation_switch(command_line)) return *code;
    // Only the whole command line "-kill" is the switch: case-sensitive, nothing before or after.
    if (command_line != nullptr && std::wcscmp(command_line, L"-kill") == 0) {
        closeRunningInstances(WM_CLOSE);
        return 0;
    }
    if (command_line != nullptr && std::wcscmp(command_line, L"-kill-for-upgrade") == 0) {
        closeRunningInstances(close_for_upgrade_message);
        return 0;
    }
    const std::vector<std::string> words = commandLineWords();
    if (const std::optional<std::string> text =
            information_switch_text(words, windows_switch_usage())) {
        tell_starter(*text, false);
        return 0;
    }
    if (!words.empty() && is_site_switch(words[0])) return runSiteSwitch(words);
    if (!platform_take_single_instance_lock()) {
        tell_starter(second_instance_notice(platform_single_instance_holder()), true);
        return -1;
    }
    // The serving instance only: the switches above end at once and are never started again.
    register_crash_restart();
    site_decisions sites(site_decisions::default_path());
    queued_consent_prompt prompt;
    tray_usage_indicator usage;
    // A site forgotten in the Sites window is told to the agent as any change of the file.
    const site_list listed{[&sites] { return sites.list(); },
                           [&sites](const std::string& origin) {
                               sites.forget(origin);
                               tellRunningAgent(std::string());
                           }};
    return run_agent(platform_module_directory(), configured_server_ports(),
                     {sites, prompt, usage},
                     [&prompt, &usage, &listed](sites_changed_handler on_sites_changed) {
                         return std::make_unique<control_window>(std::move(on_sites_changed),
                                                                 prompt, usage, listed);
                     });
}
