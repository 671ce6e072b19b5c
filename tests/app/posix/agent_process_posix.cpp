// Child processes, the control socket and port reservation on POSIX systems.
#include "app/agent_process.h"
#include "app/posix/control_socket.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace kelvo {
namespace test {

namespace {

std::string configFolder(const agent_setup& setup) {
    return setup.config_folder.empty() ? setup.runtime_folder : setup.config_folder;
}

// The environment of the test with the agent's settings replaced by the setup's.
std::vector<std::string> childEnvironment(const agent_setup& setup) {
    std::vector<std::pair<std::string, std::string>> settings = {
        {"KELVO_AGENT_TLS_PORT", setup.tls_port ? std::to_string(setup.tls_port) : ""},
        {"KELVO_AGENT_PLAIN_PORT", setup.plain_port ? std::to_string(setup.plain_port) : ""},
        {"KELVO_AGENT_RUNTIME_DIR", setup.runtime_folder},
        {"XDG_CONFIG_HOME", configFolder(setup)},
        {"KELVO_AGENT_PROMPT", setup.prompt_program},
        // Without a display no desktop dialog is chosen.
        {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},
        {"RIZUDADA_LOG",
         setup.runtime_folder.empty() ? "" : setup.runtime_folder + "/rizudada.log"},
    };
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& setting : settings) {
            replaced = replaced || text.compare(0, setting.first.size() + 1,
                                                setting.first + "=") == 0;
        }
        if (!replaced) result.push_back(text);
    }
    for (const auto& setting : settings) {
        if (!setting.second.empty()) result.push_back(setting.first + "=" + setting.second);
    }
    return result;
}

sockaddr_un controlAddress(const agent_setup& setup) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = setup.runtime_folder + "/Kelvo Web Agent";
    EXPECT_LT(path.size(), sizeof(address.sun_path));
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    return address;
}

}  // namespace

struct agent_process::impl {
    pid_t pid = -1;
    std::optional<int> exit_code;
    bool ended = false;
    // The writing end of the agent's standard input, never written and closed at the end.
    int input = -1;

    // Reaps the child when it has ended.
    bool poll() {
        if (ended || pid < 0) return ended;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) != pid) return false;
        ended = true;
        // The status holds the low 8 bits of the program's result: 255 is its -1.
        if (WIFEXITED(status)) exit_code = static_cast<int8_t>(WEXITSTATUS(status));
        return true;
    }
};

agent_process::agent_process(const agent_setup& setup, const std::vector<std::string>& arguments)
    : files_(files_for(setup)), impl_(std::make_unique<impl>()) {
    const std::string program = setup.program.empty() ? agent_program_path() : setup.program;
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : argv_text) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text = childEnvironment(setup);
    std::vector<char*> envp;
    for (auto& text : env_text) envp.push_back(text.data());
    envp.push_back(nullptr);
    // The agent gets a session of its own (no terminal to prompt on) and a standard input that
    // stays open and empty, like a terminal nobody types into: whatever would read it waits.
    int input[2] = {-1, -1};
    if (pipe2(input, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipe for the agent's input: " << std::strerror(errno);
        return;
    }
    impl_->input = input[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    for (const auto& [fd, path] : {std::pair{STDOUT_FILENO, &files_.output},
                                   std::pair{STDERR_FILENO, &files_.errors}}) {
        if (!path->empty()) {
            posix_spawn_file_actions_addopen(&actions, fd, path->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const int result = posix_spawn(&impl_->pid, program.c_str(), &actions, &attributes,
                                   argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    if (result != 0) {
        impl_->pid = -1;
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(result);
        return;
    }
    if (setup.descriptor_limit != 0) {
        const rlimit limit{setup.descriptor_limit, setup.descriptor_limit};
        EXPECT_EQ(prlimit(impl_->pid, RLIMIT_NOFILE, &limit, nullptr), 0) << std::strerror(errno);
    }
}

agent_process::~agent_process() {
    if (!impl_->poll() && impl_->pid > 0) {
        kill(impl_->pid, SIGKILL);
        waitpid(impl_->pid, nullptr, 0);
    }
    if (impl_->input >= 0) close(impl_->input);
}

std::optional<int> agent_process::wait_exit(std::chrono::milliseconds timeout) {
    wait_until([this] { return impl_->poll(); }, timeout);
    return impl_->exit_code;
}

bool agent_process::running() {
    return impl_->pid > 0 && !impl_->poll();
}

long agent_process::id() const {
    return impl_->pid;
}

// From /proc/<pid>/stat: the fields after the parenthesised command name, which may hold blanks.
double agent_process::cpu_seconds() const {
    std::ifstream stat("/proc/" + std::to_string(impl_->pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) return 0;
    std::istringstream fields(text.substr(name_end + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;  // state .. cmajflt
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool readable_by_user_only(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && (status.st_mode & 0777) == 0600 &&
           status.st_uid == geteuid();
}

std::string agent_program_path() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    std::string path(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    return path.substr(0, path.rfind('/') + 1) + "kelvo_web_agent";
}

bool control_window_present(const agent_setup& setup) {
    const sockaddr_un address = controlAddress(setup);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    // A datagram socket connects only to a path where a socket is bound.
    const bool present =
        fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (fd >= 0) close(fd);
    return present;
}

bool post_control_text(const agent_setup& setup, const std::string& text) {
    const sockaddr_un address = controlAddress(setup);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool sent = fd >= 0 && sendto(fd, text.data(), text.size(), 0,
                                        reinterpret_cast<const sockaddr*>(&address),
                                        sizeof(address)) == static_cast<ssize_t>(text.size());
    if (fd >= 0) close(fd);
    return sent;
}

bool post_show_message(const agent_setup& setup, unsigned show) {
    return post_control_text(setup, "show " + std::to_string(show));
}

bool post_reload_message(const agent_setup& setup) {
    return post_control_text(setup, "reload");
}

std::string sites_file_path(const agent_setup& setup) {
    return configFolder(setup) + "/kelvo-web-agent/sites.json";
}

// Each test's agents have their own lock and socket folder: nothing to share.
agent_test_turn::agent_test_turn() = default;
agent_test_turn::~agent_test_turn() = default;

}  // namespace test
}  // namespace kelvo
