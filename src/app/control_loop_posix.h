// The control window's stand-in on POSIX systems: a Unix-domain datagram socket named
// "Kelvo Web Agent" beside the single-instance lock file, read by the main thread. Its messages
// play the window messages' roles: "close" is the close message, "close-for-upgrade" the same for
// an agent stopped to be upgraded or restarted (the pages are told to come back), "show 0" and
// "show 1" the show message with that wParam; "reload" says that the sites file changed, "forget
// ORIGIN" that it changed by forgetting the site ORIGIN. SIGINT and SIGTERM act as
// "close". There is no notification area, so the icon state (with the sites' usage, handed over
// through a pipe of the loop's own) runs against a shell that accepts every request.
#pragma once

#include <functional>
#include <string>

#include "app/control_window.h"
#include "app/tray_icon.h"
#include "app/tray_usage_indicator.h"

namespace kelvo {
namespace rtc {
namespace web {

// The control socket's path: the runtime folder joined with "Kelvo Web Agent"; empty when the
// runtime folder is refused.
std::string control_socket_path();

// Sends one message to a running instance's control socket; false when no instance answers.
bool post_control_message(const std::string& message);

// The beginning of the message that names a forgotten site: "forget ORIGIN".
constexpr const char forget_prefix[] = "forget ";

class control_loop : public IControlWindow, private ITrayShell {
public:
    // Opens the control socket and asks for the icon (its "show 1" is the first message the loop
    // reads) and for the wake-ups of `usage`, which must outlive the loop. When the socket
    // cannot be opened the loop ends at once with exit code -1, after saying so on standard
    // error: an agent that cannot be closed or told to reload must not serve.
    // `on_sites_changed` runs on the loop's thread for each "reload" and "forget ORIGIN".
    control_loop(sites_changed_handler on_sites_changed, tray_usage_indicator& usage);
    ~control_loop() override;
    control_loop(const control_loop&) = delete;
    control_loop& operator=(const control_loop&) = delete;

    int run_loop() override;
    void destroy() override;
    bool ended_for_restart() const override { return restarting_; }

private:
    void handle_message(const std::string& message);
    // The window's destruction: the socket goes, so that "-kill" stops finding this instance.
    void close_window();
    void quit(int exit_code);
    // The usage changed: drains the wake-up pipe and shows the usage on the icon.
    void start_usage_wakeups();
    void show_usage();
    void stop_usage_wakeups();

    // ITrayShell: nothing to draw, every request succeeds.
    bool add_icon() override { return true; }
    bool delete_icon() override { return true; }
    void update_tooltip() override {}
    bool has_menu() const override { return menu_loaded_; }
    void load_menu() override { menu_loaded_ = true; }
    void destroy_menu() override { menu_loaded_ = false; }

    const sites_changed_handler on_sites_changed_;
    int socket_ = -1;
    tray_usage_indicator& usage_;
    // Written by the usage's wake-up on any thread, read by the loop.
    int usage_pipe_read_ = -1;
    int usage_pipe_write_ = -1;
    bool menu_loaded_ = false;
    bool quit_on_destroy_ = false;
    bool quit_ = false;
    bool restarting_ = false;
    int exit_code_ = 0;
    tray_icon tray_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
