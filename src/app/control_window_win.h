// The hidden control window and the notification-area icon on Windows. The window of class
// "Kelvo Web Agent" receives the icon's mouse messages, the show message, the shell's
// "TaskbarCreated" broadcast, the menu commands, the close message of "-kill" and the reload
// message of "-allow", "-block" and "-forget". It owns the dialogs that ask about sites and the
// "Sites..." window, and shows on the icon what sites use.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

#include "app/control_window.h"
#include "app/queued_consent_prompt.h"
#include "app/site_list.h"
#include "app/tray_icon.h"
#include "app/tray_usage_indicator.h"

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
// Registered too: "KelvoWebAgent.ReloadSites.Message", the sites file changed, and
// "KelvoWebAgent.CloseForUpgrade.Message", WM_CLOSE for an agent stopped to be upgraded or
// restarted (the pages are told to come back).
extern const UINT reload_sites_message;
extern const UINT close_for_upgrade_message;
// WM_COPYDATA with this tag and an origin in UTF-8: the sites file changed by forgetting that
// site.
constexpr ULONG_PTR forget_site_data = 0x4B574653;

// "Kelvo Web Agent " and the engine version (ANSI code page text, null for none), converted into
// at most 63 wide characters; the whole cut to 127 characters.
std::wstring tray_tooltip_text(const char* engine_version);

class control_window : public IControlWindow, private ITrayShell {
public:
    // Registers the class, creates the hidden window and posts it the show message; when the
    // window cannot be created the quit message is posted so the loop ends at once. The window
    // asks `prompt`'s questions, shows `usage` on the icon and lists `sites` (see site_list.h);
    // the prompt and the usage must outlive it. `on_sites_changed` runs on the loop's thread for
    // each reload message and each forgotten site.
    control_window(sites_changed_handler on_sites_changed, queued_consent_prompt& prompt,
                   tray_usage_indicator& usage, site_list sites);
    ~control_window() override;
    control_window(const control_window&) = delete;
    control_window& operator=(const control_window&) = delete;

    // GetMessageW for every window of the thread until WM_QUIT; returns its wParam. The
    // keyboard input of the window's dialogs goes through the dialog manager.
    int run_loop() override;
    // Also closes the dialogs (their questions dismissed) and stops the prompt's and the usage's
    // wake-ups.
    void destroy() override;
    bool ended_for_restart() const override { return restarting_; }

    // What the icon's tooltip says now: what sites use, else the title and the engine version;
    // at most the 127 characters the shell takes.
    std::wstring icon_tooltip() const;

private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam);
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);
    void open_menu();
    // The messages of site access; false for any other.
    bool handle_access_message(UINT message, WPARAM wparam);
    void start_wakeups();
    void stop_wakeups();
    void show_questions();
    void open_sites();
    bool is_dialog_message(MSG& message) const;
    void close_dialogs();
    // The record handed to every Shell_NotifyIconW call.
    void fill_icon_data();

    // ITrayShell
    bool add_icon() override;
    bool delete_icon() override;
    void update_tooltip() override;
    bool has_menu() const override { return menu_ != nullptr; }
    void load_menu() override;
    void destroy_menu() override;

    const sites_changed_handler on_sites_changed_;
    HWND window_ = nullptr;
    HMENU menu_ = nullptr;
    NOTIFYICONDATAW icon_data_{};
    HICON icon_ = nullptr;
    BOOL quit_on_destroy_ = FALSE;
    bool restarting_ = false;
    queued_consent_prompt& prompt_;
    tray_usage_indicator& usage_;
    const site_list sites_;
    HWND sites_dialog_ = nullptr;
    tray_icon tray_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
