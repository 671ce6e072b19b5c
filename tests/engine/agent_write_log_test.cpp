// The agent's writeLog end to end: dropped while no engine exists, written to the engine's log
// with its level once the agent holds an engine, cut to 255 characters.
#include <gtest/gtest.h>

#include <algorithm>

#include "agent/rtc_engine_agent.h"
#include "net/connection_context.h"
#include "net/net_engine.h"
#include "standin_fixture.h"

namespace kelvo {
namespace test {
namespace {

using kelvo::rtc::web::connection_context;
using kelvo::rtc::web::net_engine;
using kelvo::rtc::web::rtc_engine_agent;

class agent_write_log : public standin_test {};

bool has_line(const std::vector<std::string>& lines, const std::string& wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

TEST_F(agent_write_log, lines_reach_the_engine_log_only_while_an_engine_exists) {
    net_engine net;
    rtc_engine_agent agent(net);
    agent.writeLog(1, "[wa] before the engine %d", 1);
    EXPECT_TRUE(log_lines().empty());

    connection_context context;
    ASSERT_EQ(0, agent.initialize("app", &context));
    const std::string id(300, 'd');
    agent.writeLog(1, "[wa] selectDevices for %s, kind=%s", id.c_str(), "videoinput");
    agent.writeLog(4, "[wa] unable to enumerate audio devices");
    ASSERT_EQ(0, agent.teardown_engine());
    agent.writeLog(1, "[wa] after the engine");

    const std::vector<std::string> lines = log_lines();
    EXPECT_TRUE(has_line(lines, "L1 [wa] Rtc Engine initialized"));
    EXPECT_TRUE(has_line(lines, "L1 " + ("[wa] selectDevices for " + id).substr(0, 255)));
    EXPECT_TRUE(has_line(lines, "L4 [wa] unable to enumerate audio devices"));
    EXPECT_TRUE(has_line(lines, "L1 [wa] Rtc Engine destroyed"));
    for (const std::string& line : lines) {
        EXPECT_EQ(std::string::npos, line.find("before the engine")) << line;
        EXPECT_EQ(std::string::npos, line.find("after the engine")) << line;
    }
}

}  // namespace
}  // namespace test
}  // namespace kelvo
