#include "app/control_loop_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/posix/runtime_folder.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const char control_socket_name[] = "Kelvo Web Agent";

// The write end of the pipe that SIGINT and SIGTERM write to; -1 until it is made.
// Made once and kept for the process's life, so that a signal that arrives during teardown
// lands in the pipe instead of ending the process half-way.
int g_signal_pipe_write = -1;

void onStopSignal(int) {
    const int saved_errno = errno;
    const char byte = 1;
    if (write(g_signal_pipe_write, &byte, 1) < 0) {
        // The pipe is full: a stop is already pending.
    }
    errno = saved_errno;
}

int stopSignalPipe() {
    static const int read_end = [] {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
        g_signal_pipe_write = ends[1];
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        return ends[0];
    }();
    return read_end;
}

// False when there is no path or it does not fit a socket address.
bool socketAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The show message's wParam from "show <number>"; false for any other text.
bool parseShow(const std::string& message, uintptr_t& show) {
    static const char prefix[] = "show ";
    const size_t prefix_length = sizeof(prefix) - 1;
    if (message.compare(0, prefix_length, prefix) != 0 || message.size() == prefix_length) {
        return false;
    }
    const char* digits = message.c_str() + prefix_length;
    if (*digits < '0' || *digits > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(digits, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    show = static_cast<uintptr_t>(value);
    return true;
}

}  // namespace

std::string control_socket_path() {
    const std::string folder = platform_runtime_folder();
    return folder.empty() ? folder : folder + "/" + control_socket_name;
}

bool post_control_message(const std::string& message) {
    sockaddr_un address;
    if (!socketAddress(control_socket_path(), address)) return false;
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const ssize_t sent = sendto(fd, message.data(), message.size(), 0,
                                reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    close(fd);
    return sent == static_cast<ssize_t>(message.size());
}

control_loop::control_loop(sites_changed_handler on_sites_changed, tray_usage_indicator& usage)
    : on_sites_changed_(std::move(on_sites_changed)), usage_(usage), tray_(*this) {
    const std::string path = control_socket_path();
    sockaddr_un address;
    quit_on_destroy_ = true;
    int error = EINVAL;
    if (stopSignalPipe() >= 0 && socketAddress(path, address)) {
        socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        // Only the holder of the single-instance lock gets here, so a socket file that exists
        // is a leftover of an instance that did not end cleanly.
        unlink(path.c_str());
        if (socket_ < 0 ||
            bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
            error = errno;
            if (socket_ >= 0) close(socket_);
            socket_ = -1;
        }
    }
    if (socket_ < 0) {
        std::fprintf(stderr,
                     "Kelvo Web Agent: cannot start: the control socket %s could not be opened "
                     "(%s)\n",
                     path.empty() ? "(no runtime folder)" : path.c_str(), std::strerror(error));
        quit(-1);
        return;
    }
    if (!post_control_message("show 1")) {
        std::fprintf(stderr, "Kelvo Web Agent: No existing instance could be contacted\n");
    }
    start_usage_wakeups();
}

control_loop::~control_loop() {
    close_window();
    stop_usage_wakeups();
    if (usage_pipe_read_ >= 0) close(usage_pipe_read_);
    if (usage_pipe_write_ >= 0) close(usage_pipe_write_);
}

int control_loop::run_loop() {
    // Room for any site's name; a longer message is not taken cut.
    char buffer[1024];
    while (!quit_) {
        pollfd watched[3] = {{stopSignalPipe(), POLLIN, 0},
                             {socket_, POLLIN, 0},
                             {usage_pipe_read_, POLLIN, 0}};
        if (poll(watched, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[0].revents != 0) {
            while (read(watched[0].fd, buffer, sizeof(buffer)) > 0) {
            }
            handle_message("close");
            continue;
        }
        if (watched[1].revents != 0) {
            const ssize_t length = recv(socket_, buffer, sizeof(buffer), MSG_TRUNC);
            if (length >= 0 && static_cast<size_t>(length) <= sizeof(buffer)) {
                handle_message(std::string(buffer, static_cast<size_t>(length)));
            }
        }
        if (watched[2].revents != 0) show_usage();
    }
    return exit_code_;
}

void control_loop::destroy() {
    stop_usage_wakeups();
    tray_.destroy();
}

void control_loop::handle_message(const std::string& message) {
    uintptr_t show = 0;
    if (message == "close") {
        close_window();
    } else if (message == "close-for-upgrade") {
        restarting_ = true;
        close_window();
    } else if (parseShow(message, show)) {
        tray_.on_show_message(show);
    } else if (message == "reload" && on_sites_changed_) {
        on_sites_changed_(std::string());
    } else if (message.rfind(forget_prefix, 0) == 0 && on_sites_changed_) {
        on_sites_changed_(message.substr(std::strlen(forget_prefix)));
    }
}

void control_loop::close_window() {
    if (socket_ < 0) return;
    close(socket_);
    socket_ = -1;
    unlink(control_socket_path().c_str());
    destroy_menu();
    if (quit_on_destroy_) quit(0);
}

void control_loop::quit(int exit_code) {
    quit_ = true;
    exit_code_ = exit_code;
}

// The usage may have changed before the wake-up was set: the first look is asked for at once.
void control_loop::start_usage_wakeups() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    usage_pipe_read_ = ends[0];
    usage_pipe_write_ = ends[1];
    const auto wake = [fd = usage_pipe_write_] {
        const char byte = 1;
        if (write(fd, &byte, 1) < 0) {
            // The pipe is full: a look at the usage is pending already.
        }
    };
    usage_.wakeup().set(wake);
    wake();
}

void control_loop::show_usage() {
    char buffer[64];
    while (read(usage_pipe_read_, buffer, sizeof(buffer)) > 0) {
    }
    tray_.on_usage(usage_.usage_text());
}

void control_loop::stop_usage_wakeups() {
    usage_.wakeup().set(nullptr);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
