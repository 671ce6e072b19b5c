// The notification-area icon's show/hide state, shared by every platform. The platform's shell
// layer does the actual work (on Windows: Shell_NotifyIconW and the popup menu resource).
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace web {

// What the icon state needs of the platform's notification area.
class ITrayShell {
public:
    virtual ~ITrayShell() = default;
    // Asks the shell to add or delete the icon; true when the shell accepted.
    virtual bool add_icon() = 0;
    virtual bool delete_icon() = 0;
    // The icon's popup menu: loaded before each add, destroyed whenever the icon is hidden.
    virtual bool has_menu() const = 0;
    virtual void load_menu() = 0;
    // Does nothing when no menu is loaded.
    virtual void destroy_menu() = 0;
};

class tray_icon {
public:
    explicit tray_icon(ITrayShell& shell) : shell_(shell) {}
    tray_icon(const tray_icon&) = delete;
    tray_icon& operator=(const tray_icon&) = delete;

    // The show message: non-zero asks for the icon, zero removes it.
    void on_show_message(uintptr_t show);
    // The shell restarted and lost every icon: adds ours again when it is wanted.
    void on_taskbar_created();
    // Before the window goes: removes the icon and the menu.
    void destroy();

    bool icon_shown() const { return icon_shown_; }
    bool show_requested() const { return show_requested_; }

private:
    void show();
    void hide();

    ITrayShell& shell_;
    bool icon_shown_ = false;
    bool show_requested_ = false;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
