#include "support/agent_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/json_value.h"

namespace kelvo {
namespace test {
namespace {

using kelvo::rtc::web::JsonValue;

constexpr const char* marker_event = R"({"event":"warning","code":7777})";
constexpr const char* marker_parameters = R"({"sim.emit":{"callback":"warning","code":7777}})";
constexpr const char* parameters_accepted = R"({"command":"setParameters","code":true})";

void set_engine_log(const std::string& path) {
#if defined(_WIN32)
    _putenv_s("RIZUDADA_LOG", path.c_str());
#else
    setenv("RIZUDADA_LOG", path.c_str(), 1);
#endif
}

std::string command_name(const std::string& text) {
    const JsonValue value(text.c_str());
    return value.getString("command", "");
}

std::string set_parameters_command(const std::string& parameters) {
    JsonValue command;
    command.makeObject();
    command.setString("command", "setParameters");
    command.setString("parameters", parameters.c_str());
    return command.toString();
}

}  // namespace

bool agent_client::connect(uint16_t port) { return client_.connect("127.0.0.1", port); }

bool agent_client::send(const std::string& text) { return client_.send_text(text); }

std::optional<std::string> agent_client::next(std::chrono::milliseconds timeout) {
    if (!kept_.empty()) {
        std::string text = std::move(kept_.front());
        kept_.pop_front();
        return text;
    }
    return client_.wait_text(timeout);
}

std::optional<std::string> agent_client::take(const std::function<bool(const std::string&)>& match,
                                              std::chrono::milliseconds timeout) {
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (match(*it)) {
            std::string text = std::move(*it);
            kept_.erase(it);
            return text;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        std::optional<std::string> text = client_.wait_text(left);
        if (!text) return std::nullopt;
        if (match(*text)) return text;
        kept_.push_back(std::move(*text));
    }
}

bool agent_client::wait_for(const std::string& expected, std::chrono::milliseconds timeout) {
    return take([&](const std::string& text) { return text == expected; }, timeout).has_value();
}

std::string agent_client::request(const std::string& command) {
    JsonValue name;
    name.makeObject();
    name.setString("command", command_name(command).c_str());
    // Every reply begins {"command":"<name>", and goes on with its members.
    std::string prefix = name.toString();
    prefix.back() = ',';
    if (!send(command)) return std::string();
    return take([&](const std::string& text) { return text.rfind(prefix, 0) == 0; })
        .value_or(std::string());
}

std::vector<std::string> agent_client::texts_before(const std::string& last,
                                                    std::chrono::milliseconds timeout) {
    std::vector<std::string> before;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        std::optional<std::string> text = next(std::max(left, std::chrono::milliseconds(0)));
        if (!text) {
            ADD_FAILURE() << "no " << last << " after " << before.size() << " other texts";
            return before;
        }
        if (*text == last) return before;
        before.push_back(std::move(*text));
    }
}

void agent_client::engine_parameters(const std::string& parameters) {
    EXPECT_EQ(request(set_parameters_command(parameters)), parameters_accepted) << parameters;
}

std::vector<std::string> agent_client::events_until_marker() {
    send(set_parameters_command(marker_parameters));
    std::vector<std::string> before = texts_before(marker_event);
    const auto reply = std::find(before.begin(), before.end(), parameters_accepted);
    if (reply != before.end()) {
        before.erase(reply);
    } else {
        EXPECT_TRUE(wait_for(parameters_accepted));
    }
    return before;
}

std::string agent_client::join(uint32_t uid, const std::string& channel) {
    JsonValue command;
    command.makeObject();
    command.setString("command", "joinChannel");
    command.setString("channelKey", "");
    command.setString("channelName", channel.c_str());
    command.setUInt("uid", uid);
    return request(command.toString());
}

void agent_fixture::SetUp() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    log_path_ = (std::filesystem::temp_directory_path() /
                 (std::string("kelvo-agent-") + test->test_suite_name() + "-" + test->name() +
                  "-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                  ".log"))
                    .string();
    set_engine_log(log_path_);

    net_ = std::make_unique<kelvo::rtc::web::net_engine>();
    agent_ = std::make_unique<kelvo::rtc::web::rtc_engine_agent>(*net_);
    for (int server = 0; server < 2; ++server) {
        // A port found free may be taken by another program before we bind it: try a few.
        int32_t result = -1;
        for (int attempt = 0; attempt < 5 && result != 0; ++attempt) {
            ports_[server] = free_loopback_port();
            result = net_->add_plain_server(ports_[server]);
        }
        ASSERT_EQ(result, 0) << "no free port for server " << server;
    }
}

void agent_fixture::TearDown() {
    // The order of the program's own shutdown: servers, then the agent (and its engine).
    if (net_) net_->clear();
    agent_.reset();
    net_.reset();
    std::error_code ignored;
    std::filesystem::remove(log_path_, ignored);
}

std::unique_ptr<agent_client> agent_fixture::connect(int server) {
    auto client = std::make_unique<agent_client>();
    EXPECT_TRUE(client->connect(port(server))) << "server " << server;
    return client;
}

std::unique_ptr<agent_client> agent_fixture::control(int server, const std::string& initialize) {
    auto client = connect(server);
    EXPECT_EQ(client->request(initialize), R"({"command":"initialize","code":true})");
    return client;
}

std::vector<std::string> agent_fixture::log_lines() const {
    std::vector<std::string> lines;
    std::ifstream file(log_path_);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

bool agent_fixture::log_has(const std::string& line) const { return log_count(line) > 0; }

size_t agent_fixture::log_count(const std::string& line) const {
    const std::vector<std::string> lines = log_lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool agent_fixture::log_has_in_order(const std::vector<std::string>& expected) const {
    size_t found = 0;
    for (const std::string& line : log_lines()) {
        if (found < expected.size() && line == expected[found]) ++found;
    }
    return found == expected.size();
}

bool agent_fixture::wait_for_log(const std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!log_has(line)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

uint32_t json_uint(const std::string& text, const char* key) {
    const JsonValue value(text.c_str());
    return value.getUInt(key, 0);
}

}  // namespace test
}  // namespace kelvo
