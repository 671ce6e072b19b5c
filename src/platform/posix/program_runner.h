// Running another program and waiting for its exit within a time, on POSIX systems.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {
namespace rtc {
namespace web {

// The full path of the executable file `name` in one of the folders of `search_path` (a PATH
// value: folders parted by ':'); empty when none holds one.
std::string platform_find_program(const std::string& name, const std::string& search_path);

// Runs programs, each as a process group of its own with standard input from /dev/null and no
// other descriptor of this process than standard output and error, and waits for them; any
// number of threads may run programs at the same time.
class program_runner {
public:
    program_runner();
    // Call stop_all() and wait for every run() to return first.
    ~program_runner();
    program_runner(const program_runner&) = delete;
    program_runner& operator=(const program_runner&) = delete;

    // Runs `program` (a path, or a name looked up on PATH) with `arguments` and waits for it.
    // Its exit code when it ended by itself within `timeout`; none when it could not be started,
    // was ended by a signal, or still ran after `timeout` or stop_all() (its whole group is then
    // killed and it is reaped before run() returns).
    std::optional<int> run(const std::string& program, const std::vector<std::string>& arguments,
                           std::chrono::milliseconds timeout);
    // Any thread: ends every run() under way as above, and every later one at once.
    void stop_all();

private:
    // A pipe that is never read: written once by stop_all(), it stays readable for every wait.
    int stop_read_ = -1;
    int stop_write_ = -1;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
