// The notification-area icon's state, shared by every platform: shown when the page asked for it
// or while a site uses the camera, the screen or a recording, with a tooltip that names that
// use. The platform's shell layer does the actual work (on Windows: Shell_NotifyIconW and the
// popup menu resource).
#pragma once

#include <cstdint>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

// What the icon state needs of the platform's notification area.
class ITrayShell {
public:
    virtual ~ITrayShell() = default;
    // Asks the shell to add or delete the icon; true when the shell accepted. An added icon
    // carries the tray's tooltip() of the moment.
    virtual bool add_icon() = 0;
    virtual bool delete_icon() = 0;
    // The tooltip changed while the icon is present: the shell shows the new one.
    virtual void update_tooltip() = 0;
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

    // The show message: non-zero asks for the icon, zero removes it unless a site uses something.
    void on_show_message(uintptr_t show);
    // What the sites use now (tray_usage_indicator::usage_text(), empty when nothing is in use).
    // While anything is in use the icon is shown whatever the page asked; when the use ends the
    // icon follows the page's request again.
    void on_usage(const std::string& usage_text);
    // The shell restarted and lost every icon: adds ours again when it is wanted.
    void on_taskbar_created();
    // Before the window goes: removes the icon and the menu.
    void destroy();

    bool icon_shown() const { return icon_shown_; }
    bool show_requested() const { return show_requested_; }
    bool in_use() const { return !usage_text_.empty(); }
    // "Kelvo Web Agent", or while in use "Kelvo Web Agent – " and the usage text (UTF-8).
    std::string tooltip() const;

private:
    bool wanted() const { return show_requested_ || in_use(); }
    void show();
    void hide();

    ITrayShell& shell_;
    bool icon_shown_ = false;
    bool show_requested_ = false;
    std::string usage_text_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
