#include "support/agent_fixture.h"

#include <algorithm>

#include "base/json_value.h"

namespace kelvo {
namespace test {
namespace {

using kelvo::rtc::web::JsonValue;

constexpr const char* marker_event = R"({"event":"warning","code":7777})";
constexpr const char* marker_parameters = R"({"sim.emit":{"callback":"warning","code":7777}})";
constexpr const char* parameters_accepted = R"({"command":"setParameters","code":true})";

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
    in_process_agent_options options;
    options.plain_servers = 2;
    options.access = access;
    options.limits = limits;
    running_ = std::make_unique<in_process_agent>(options);
    ASSERT_EQ(running_->failure(), "");
}

void agent_fixture::TearDown() { running_.reset(); }

std::unique_ptr<agent_client> agent_fixture::connect(int server, const std::string& origin) {
    auto client = std::make_unique<agent_client>();
    if (!origin.empty()) client->connection().set_origin(origin);
    EXPECT_TRUE(client->connect(port(server))) << "server " << server;
    return client;
}

std::unique_ptr<agent_client> agent_fixture::control(int server, const std::string& initialize) {
    auto client = connect(server);
    EXPECT_EQ(client->request(initialize), R"({"command":"initialize","code":true})");
    return client;
}

uint32_t json_uint(const std::string& text, const char* key) {
    const JsonValue value(text.c_str());
    return value.getUInt(key, 0);
}

}  // namespace test
}  // namespace kelvo
