// The platform's control window as the entry sees it: created once both servers listen, it runs
// the main thread's loop until the program is asked to end.
#pragma once

#include <functional>
#include <memory>

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

// Makes the window; it calls `on_reload` on the main thread when told that the sites file changed.
using control_window_factory =
    std::function<std::unique_ptr<IControlWindow>(std::function<void()> on_reload)>;

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
