// The stand-in engine's log file of one test or one program: a fresh file that the engines
// created while it lives write to (RIZUDADA_LOG), read back line by line, removed at the end.
//
//   engine_log_file log("kelvo-agent");     // inside a test its name also names the test
//   ... an engine writes "L1 [wa] Rtc Engine initialized" ...
//   EXPECT_TRUE(log.wait_for("L1 [wa] Rtc Engine initialized"));
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace kelvo {
namespace test {

class engine_log_file {
public:
    // A file in the temporary folder whose name begins with `prefix`; RIZUDADA_LOG names it from
    // now on. The engine reads the variable when an engine object is created, so engines made
    // before keep their old file.
    explicit engine_log_file(const std::string& prefix);
    // The log that an engine of another process writes to `path` (an agent_process writes it in
    // its runtime folder); RIZUDADA_LOG stays as it is.
    struct written_by_another_process {
        std::string path;
    };
    explicit engine_log_file(written_by_another_process file) : path_(std::move(file.path)) {}
    ~engine_log_file();
    engine_log_file(const engine_log_file&) = delete;
    engine_log_file& operator=(const engine_log_file&) = delete;

    const std::string& path() const { return path_; }

    // The log so far, one entry per line.
    std::vector<std::string> lines() const;
    bool has(const std::string& line) const;
    // How often the log holds `line`.
    size_t count(const std::string& line) const;
    // True when the log holds these lines in this order (others may come between them).
    bool has_in_order(const std::vector<std::string>& expected) const;
    // Waits until the log holds `line`. Generous: tests wait for lines, they never time them.
    bool wait_for(const std::string& line,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    std::string path_;
};

}  // namespace test
}  // namespace kelvo
