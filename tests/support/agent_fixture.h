// A running agent for tests: an in_process_agent with two plain servers on free loopback ports
// (server indexes 0 and 1), its engine log a file of this test's own.
//
//   TEST_F(agent_fixture, joins) {
//       auto page = control();                            // connected and "initialize"d
//       page->engine_parameters(R"({"sim.emit":{"callback":"warning","code":8}})");
//       EXPECT_TRUE(page->wait_for(R"({"event":"warning","code":8})"));
//       EXPECT_TRUE(log().wait_for("L1 [wa] Rtc Engine initialized"));
//   }
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent/rtc_engine_agent.h"
#include "support/engine_log_file.h"
#include "support/in_process_agent.h"
#include "support/wait_limit.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {

// A page's connection to the agent. Texts read past while looking for a particular one are kept,
// in order, for later reads, because replies (server thread) and events (engine thread) may
// arrive in either order.
class agent_client {
public:
    // Over TLS when asked.
    explicit agent_client(bool tls = false) : client_(tls) {}
    agent_client(const agent_client&) = delete;
    agent_client& operator=(const agent_client&) = delete;

    bool connect(uint16_t port);
    bool send(const std::string& text);

    // The next text not taken yet, or none after `timeout`.
    std::optional<std::string> next(std::chrono::milliseconds timeout = agent_timeout);
    // The first text (not taken yet) that `match` accepts, taken; the others stay.
    std::optional<std::string> take(const std::function<bool(const std::string&)>& match,
                                    std::chrono::milliseconds timeout = agent_timeout);
    // Takes the text equal to `expected`; false when it did not come.
    bool wait_for(const std::string& expected, std::chrono::milliseconds timeout = agent_timeout);
    // Sends a command and takes the first text that answers it (its "command" member names the
    // sent command); empty when none came.
    std::string request(const std::string& command);
    // Takes every text not taken yet up to and including `last`, and returns those before it;
    // fails the test when `last` does not come.
    std::vector<std::string> texts_before(const std::string& last,
                                          std::chrono::milliseconds timeout = agent_timeout);

    // Control connection helpers (the engine's "sim." keys go through "setParameters").
    // Sends "setParameters" with the text and checks it is answered with code true.
    void engine_parameters(const std::string& parameters);
    // What the engine has forwarded so far: emits a warning with a marker code through the engine's
    // event queue, waits for it and returns every other text that arrived before it (the
    // "setParameters" reply that carried the marker left out).
    std::vector<std::string> events_until_marker();
    // "joinChannel" for the uid, and the join reply.
    std::string join(uint32_t uid = 0, const std::string& channel = "room");

    ws_test_client& connection() { return client_; }

private:
    ws_test_client client_;
    std::deque<std::string> kept_;
};

class agent_fixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    kelvo::rtc::web::rtc_engine_agent& agent() { return running_->agent(); }
    uint16_t port(int server = 0) const { return running_->port(server); }
    // The stand-in engine's log.
    const engine_log_file& log() const { return running_->log(); }

    // A new connection to the server at `server`, with an Origin header when `origin` is given;
    // fails the test when it cannot connect.
    std::unique_ptr<agent_client> connect(int server = 0, const std::string& origin = "");
    // A new connection that has become the control connection.
    std::unique_ptr<agent_client> control(int server = 0,
                                          const std::string& initialize =
                                              R"({"command":"initialize","appID":"test-app"})");

    // Set before SetUp by fixtures that decide which sites may use the agent.
    kelvo::rtc::web::agent_access access;
    // Set before SetUp by fixtures that need other limits than the program's.
    kelvo::rtc::web::connection_limits limits;

private:
    std::unique_ptr<in_process_agent> running_;
};

// The value of a JSON text's member, for checks on texts whose numbers are not known in advance.
uint32_t json_uint(const std::string& text, const char* key);

}  // namespace test
}  // namespace kelvo
