// The platform's control window as the entry sees it: created once both servers listen, it runs
// the main thread's loop until the program is asked to end.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kelvo {
namespace rtc {
namespace web {

class IControlWindow {
public:
    virtual ~IControlWindow() = default;
    // Pumps the main thread's messages until the quit message; returns its exit code.
    virtual int run_loop() = 0;
    // Removes the icon and destroys the menu; called once the loop has ended.
    virtual void destroy() = 0;
    // Once the loop has ended: true when it ended because the agent is being stopped for an
    // upgrade or a restart ("-kill-for-upgrade"), so the pages are told to come back; false for
    // every other end (the user quit it: the pages are told it is gone).
    virtual bool ended_for_restart() const = 0;
};

// Told, on the main thread, that the sites file changed; `forgotten` names the site that another
// process forgot (empty for any other change), which may hold an allowance of this run that only
// this process knows.
using sites_changed_handler = std::function<void(const std::string& forgotten)>;

// Makes the window; it calls `on_sites_changed` when told that the sites file changed.
using control_window_factory =
    std::function<std::unique_ptr<IControlWindow>(sites_changed_handler on_sites_changed)>;

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
