#include "support/engine_log_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

namespace kelvo {
namespace test {
namespace {

void set_engine_log(const std::string& path) {
#if defined(_WIN32)
    _putenv_s("RIZUDADA_LOG", path.c_str());
#else
    setenv("RIZUDADA_LOG", path.c_str(), 1);
#endif
}

// "<prefix>-<suite>-<test>-<now>.log" inside a test, "<prefix>-<now>.log" elsewhere: the clock
// keeps files of repeated and parallel runs apart.
std::string fresh_log_name(const std::string& prefix) {
    std::string name = prefix;
    if (const ::testing::TestInfo* test =
            ::testing::UnitTest::GetInstance()->current_test_info()) {
        name += std::string("-") + test->test_suite_name() + "-" + test->name();
    }
    return name + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".log";
}

}  // namespace

engine_log_file::engine_log_file(const std::string& prefix)
    : path_((std::filesystem::temp_directory_path() / fresh_log_name(prefix)).string()) {
    set_engine_log(path_);
}

engine_log_file::~engine_log_file() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::vector<std::string> engine_log_file::lines() const {
    std::vector<std::string> lines;
    std::ifstream file(path_);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

bool engine_log_file::has(const std::string& line) const { return count(line) > 0; }

size_t engine_log_file::count(const std::string& line) const {
    const std::vector<std::string> all = lines();
    return static_cast<size_t>(std::count(all.begin(), all.end(), line));
}

bool engine_log_file::has_in_order(const std::vector<std::string>& expected) const {
    size_t found = 0;
    for (const std::string& line : lines()) {
        if (found < expected.size() && line == expected[found]) ++found;
    }
    return found == expected.size();
}

bool engine_log_file::wait_for(const std::string& line, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!has(line)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace test
}  // namespace kelvo
