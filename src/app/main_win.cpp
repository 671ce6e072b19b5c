// The program's entry on Windows: the wide-character GUI entry point.
//
//   kelvo_web_agent.exe -make-certificate, -trust-certificate, -untrust-certificate
//                                the installer's switches (app/installation_switches_win.h):
//                                exit code 0 done, 1 failed
//   kelvo_web_agent.exe          starts the agent (exit code -1 when one already runs or a port
//                                cannot be taken; 0 when its window is closed or Quit is chosen)
//   kelvo_web_agent.exe -kill    closes every running instance, then exits with 0
#include <windows.h>

#include <cwchar>
#include <memory>
#include <optional>

#include "app/agent_run.h"
#include "app/control_window_win.h"
#include "app/installation_switches_win.h"
#include "app/server_ports.h"
#include "platform/module_path.h"
#include "platform/single_instance.h"

using namespace kelvo::rtc::web;

namespace {

// Repeats while a window of the class exists: an instance ends its loop on the close message,
// and a newer instance may have taken its place by the next look.
void closeRunningInstances() {
    for (HWND window = FindWindowW(control_window_name, nullptr); window != nullptr;
         window = FindWindowW(control_window_name, nullptr)) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        Sleep(2000);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR command_line, int) {
    g_module_instance = instance;
    if (const std::optional<int> code = run_installation_switch(command_line)) return *code;
    // Only the whole command line "-kill" is the switch: case-sensitive, nothing before or after.
    if (command_line != nullptr && std::wcscmp(command_line, L"-kill") == 0) {
        closeRunningInstances();
        return 0;
    }
    if (!platform_take_single_instance_lock()) return -1;
    return run_agent(platform_module_directory(), configured_server_ports(),
                     [] { return std::make_unique<control_window>(); });
}
