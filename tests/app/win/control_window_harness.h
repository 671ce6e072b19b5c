// The control window made inside the test program, as the agent makes it: the program's
// resources are linked into the test program, and the test drives the window's thread.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <thread>

#include "app/control_window_win.h"

namespace kelvo {
namespace test {

// Call before making a control_window: its menu, icon and dialogs come from this program.
inline void use_test_program_resources() {
    rtc::web::g_module_instance = GetModuleHandleW(nullptr);
}

// Dispatches this thread's messages until `condition` holds or `timeout` has passed.
inline bool pump_until(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
    return true;
}

// Runs the window's own loop on this thread while `actions` run on another with the window's
// handle, as a user or another program would; then closes the window as "-kill" does and
// destroys it as the program's end does.
inline void run_window_loop(rtc::web::control_window& window,
                            const std::function<void(HWND)>& actions) {
    HWND handle = FindWindowW(rtc::web::control_window_name, nullptr);
    std::thread user([&] {
        actions(handle);
        PostMessageW(handle, WM_CLOSE, 0, 0);
    });
    window.run_loop();
    user.join();
    window.destroy();
}

}  // namespace test
}  // namespace kelvo
