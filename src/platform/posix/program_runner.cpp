#include "platform/posix/program_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace kelvo {
namespace rtc {
namespace web {

namespace {

// How long a wait sleeps between looks at the child: POSIX has no wait for a child with a time
// limit, and a question's answer that arrives this much later goes unnoticed.
constexpr std::chrono::milliseconds look_interval{20};

// True when `fd` is readable within `wait`.
bool readable(int fd, std::chrono::milliseconds wait) {
    pollfd watched{fd, POLLIN, 0};
    int result;
    do {
        result = poll(&watched, 1, static_cast<int>(wait.count()));
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

// The child leads a new process group, so that killing the group ends whatever it started too;
// it gets the default disposition of SIGPIPE (the agent ignores it), no blocked signals, and
// none of the agent's descriptors beyond the standard three: the servers' sockets are not
// opened close-on-exec, and a child holding a listening socket would keep its port taken.
pid_t startChild(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> texts = {program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    const int result =
        posix_spawnp(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result == 0 ? child : -1;
}

}  // namespace

std::string platform_find_program(const std::string& name, const std::string& search_path) {
    size_t begin = 0;
    while (begin <= search_path.size()) {
        const size_t end = std::min(search_path.find(':', begin), search_path.size());
        // An empty entry is the current folder, which a service should not run programs from.
        if (end > begin) {
            const std::string candidate = search_path.substr(begin, end - begin) + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        begin = end + 1;
    }
    return std::string();
}

program_runner::program_runner() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
        stop_read_ = ends[0];
        stop_write_ = ends[1];
    }
}

program_runner::~program_runner() {
    if (stop_read_ >= 0) close(stop_read_);
    if (stop_write_ >= 0) close(stop_write_);
}

void program_runner::stop_all() {
    const char byte = 1;
    if (write(stop_write_, &byte, 1) < 0) {
        // Without the pipe there is nothing to stop: run() does not start programs then.
    }
}

std::optional<int> program_runner::run(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       std::chrono::milliseconds timeout) {
    if (stop_read_ < 0 || readable(stop_read_, std::chrono::milliseconds(0))) return std::nullopt;
    const pid_t child = startChild(program, arguments);
    if (child < 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t reaped = waitpid(child, &status, WNOHANG);
        if (reaped == child) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return std::nullopt;
        }
        if (reaped < 0 && errno != EINTR) return std::nullopt;
        // Rounded up: a wait cut short by the rounding would end the program before its time.
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (readable(stop_read_, std::min(left, look_interval))) break;
    }
    kill(-child, SIGKILL);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
