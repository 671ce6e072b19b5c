// The hidden control window and the notification-area icon on Windows. The window of class
// "Kelvo Web Agent" receives the icon's mouse messages, the show message, the shell's
// "TaskbarCreated" broadcast, the menu command, the close message of "-kill" and the reload
// message of "-allow", "-block" and "-forget".
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

#include "app/control_window.h"
#include "app/tray_icon.h"

namespace kelvo {
namespace rtc {
namespace web {

// The module instance, stored by wWinMain before anything else runs.
extern HINSTANCE g_module_instance;

// The window class and title.
extern const wchar_t control_window_name[];
// Registered before the entry point runs: "KelvoZuzIrave.ShowTrayIcon.Message" (wParam 1 shows
// the icon, 0 hides it) and the shell's "TaskbarCreated".
extern const UINT show_tray_icon_message;
extern const UINT taskbar_created_message;
// Registered too: "KelvoWebAgent.ReloadSites.Message", the sites file changed.
extern const UINT reload_sites_message;

// "Kelvo Web Agent " and the engine version (ANSI code page text, null for none), converted into
// at most 63 wide characters; the whole cut to 127 characters.
std::wstring tray_tooltip_text(const char* engine_version);

class control_window : public IControlWindow, private ITrayShell {
public:
    // Registers the class, creates the hidden window and posts it the show message; when the
    // window cannot be created the quit message is posted so the loop ends at once.
    // `on_reload` runs on the loop's thread for each reload message.
    explicit control_window(std::function<void()> on_reload);
    ~control_window() override;
    control_window(const control_window&) = delete;
    control_window& operator=(const control_window&) = delete;

    // GetMessageW for every window of the thread until WM_QUIT; returns its wParam.
    int run_loop() override;
    void destroy() override;

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam);
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    void open_menu();
    // The record handed to every Shell_NotifyIconW call.
    void fill_icon_data();

    // ITrayShell
    bool add_icon() override;
    bool delete_icon() override;
    bool has_menu() const override { return menu_ != nullptr; }
    void load_menu() override;
    void destroy_menu() override;

    const std::function<void()> on_reload_;
    HWND window_ = nullptr;
    HMENU menu_ = nullptr;
    NOTIFYICONDATAW icon_data_{};
    HICON icon_ = nullptr;
    BOOL quit_on_destroy_ = FALSE;
    tray_icon tray_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
