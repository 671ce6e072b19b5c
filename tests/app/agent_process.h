// The agent program run as a child process by the application tests, with ports (and on POSIX
// systems a lock and socket folder) of the test's own, so it never meets a user's agent.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/temporary_folder.h"

namespace kelvo {
namespace test {

// Generous: the tests wait for results, they never time them.
constexpr std::chrono::milliseconds process_timeout{15000};

struct agent_setup {
    // 0 keeps the program's own port (8921, 8922).
    uint16_t tls_port = 0;
    uint16_t plain_port = 0;
    uint16_t tls() const { return tls_port != 0 ? tls_port : 8921; }
    uint16_t plain() const { return plain_port != 0 ? plain_port : 8922; }
    // The folder of the single-instance lock and the control socket (POSIX), and of the stand-in
    // engine's log. Empty keeps the program's defaults.
    std::string runtime_folder;
    // The folder of the user's settings (POSIX: XDG_CONFIG_HOME, Windows: APPDATA), UTF-8. Empty:
    // the runtime folder, so that no test's agent reads or writes the user's own sites file.
    std::string config_folder;
    // POSIX: the program that asks the user about a site (KELVO_AGENT_PROMPT). Empty: none, so an
    // undecided site is refused without a question, whatever desktop the test runs on.
    std::string prompt_program;
    // Empty: the agent beside the test program. UTF-8.
    std::string program;
    // POSIX: the agent's limit of open descriptors (RLIMIT_NOFILE); 0 leaves it as it is.
    unsigned descriptor_limit = 0;
};

// A setup on two distinct free loopback ports with its lock, socket and log in `runtime_folder`.
agent_setup setup_on_free_ports(const std::string& runtime_folder);

class agent_process {
public:
    // Starts the program with these arguments; fails the test when it cannot be started.
    agent_process(const agent_setup& setup, const std::vector<std::string>& arguments = {});
    // Kills the process if it still runs.
    ~agent_process();
    agent_process(const agent_process&) = delete;
    agent_process& operator=(const agent_process&) = delete;

    // The program's exit code once it has ended (-1 for the program's -1), or none when it still
    // runs after `timeout` (or was ended by a signal).
    std::optional<int> wait_exit(std::chrono::milliseconds timeout = process_timeout);
    bool running();
    // The system's process identifier.
    long id() const;
    // POSIX: the processor time (user and system) the process has used so far, in seconds; 0 when
    // it cannot be read. Its memory: support/process_memory.h with id().
    double cpu_seconds() const;
    // What the program has written so far to its standard output and to its standard error. Each
    // goes to a file of its own in the setup's runtime folder (without one they go where the
    // test's go, and these are empty); a failed test shows the standard error at the end.
    std::string output() const;
    std::string errors() const;

    struct impl;

private:
    struct output_files {
        std::string output;
        std::string errors;
        ~output_files();
    };
    static output_files files_for(const agent_setup& setup);

    output_files files_;
    std::unique_ptr<impl> impl_;
};

// Held by every test that runs agents. Where the single-instance lock and the window class are
// shared by the whole system (Windows) it makes those tests take turns, across test processes.
class agent_test_turn {
public:
    agent_test_turn();
    ~agent_test_turn();
    agent_test_turn(const agent_test_turn&) = delete;
    agent_test_turn& operator=(const agent_test_turn&) = delete;

private:
    // The system-wide turn where there is one (Windows: a named mutex).
    [[maybe_unused]] void* handle_ = nullptr;
};

// The agent program beside the test program.
std::string agent_program_path();

// Copies an agent program (default: the one beside the test program) and the stand-in engine
// beside it into `folder` (UTF-8, made when missing) with a fresh certificate pair, the key
// protected by `pass_phrase` when one is given, as a user's installation; returns the copied
// program's path (UTF-8) for agent_setup::program, or an empty path (and a failed test) when it
// could not be made.
std::string install_agent_copy(const std::string& folder,
                               const std::string& pass_phrase = std::string(),
                               const std::string& program = agent_program_path());

// True when the control window (POSIX: control socket) of an agent of this setup exists.
bool control_window_present(const agent_setup& setup);
// Posts the show message with this wParam to an agent of this setup; false when none answers.
bool post_show_message(const agent_setup& setup, unsigned show);
// Tells an agent of this setup that its sites file changed; false when none answers.
bool post_reload_message(const agent_setup& setup);
// The sites file that a program of this setup reads and edits.
std::string sites_file_path(const agent_setup& setup);

// True when something accepts TCP connections on 127.0.0.1:port.
bool port_accepts(uint16_t port);
// Polls `condition` until it holds or `timeout` has passed.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = process_timeout);

// Waits until an agent of this setup listens on both ports and its control window exists.
bool wait_serving(const agent_setup& setup, agent_process& process);

// True when only the user running the test may read the file (POSIX: mode 0600; Windows: an
// access list of its own, not inherited, that allows this user and nobody else; under Wine, which
// keeps no access lists, see agent_process_win.cpp).
bool readable_by_user_only(const std::string& path);

// Keeps a loopback port bound and listening, as any other program would: a plain bind, without
// socket options.
class port_holder {
public:
    explicit port_holder(uint16_t port);
    ~port_holder();
    port_holder(const port_holder&) = delete;
    port_holder& operator=(const port_holder&) = delete;
    bool holding() const;

    struct impl;

private:
    std::unique_ptr<impl> impl_;
};

}  // namespace test
}  // namespace kelvo
