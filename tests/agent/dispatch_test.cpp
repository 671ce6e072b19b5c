// The command envelope and the state gating, through real connections to the running agent.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/results.h"
#include "support/agent_fixture.h"

namespace kelvo {
namespace test {
namespace {

using namespace std::chrono_literals;

class agent_dispatch : public agent_fixture {};

constexpr const char* version_reply = R"({"command":"getVersion","version":"1.0.0-standin","code":true})";

// "getAgentInfo" names the build's version, protocol 1 and the command table in its order, from
// "initialize" to "enableDualStreamMode".
void expect_agent_info(agent_client& page) {
    const std::string reply = page.request(R"({"command":"getAgentInfo"})");
    const std::string head = R"({"command":"getAgentInfo","agentVersion":")" KELVO_AGENT_VERSION
                             R"(","protocolVersion":1,"commands":["initialize","getVersion",)"
                             R"("getAgentInfo","renewChannelKey",)";
    const std::string tail = R"(,"enableDualStreamMode"],"code":true})";
    EXPECT_EQ(reply.substr(0, head.size()), head);
    ASSERT_GE(reply.size(), tail.size()) << reply;
    EXPECT_EQ(reply.substr(reply.size() - tail.size()), tail);
}

TEST_F(agent_dispatch, messages_that_are_no_command_close_the_connection_without_a_reply) {
    const std::string invalid[] = {
        "[1,2]",
        "{}",
        R"({"command":""})",
        R"({"command":5})",
        R"({"command":)",
        "",
        "not json",
        // The message ends at its first zero byte, so only {"command": is parsed.
        std::string("{\"command\":\0\"getVersion\"}", 25),
    };
    for (const std::string& text : invalid) {
        auto page = connect();
        ASSERT_TRUE(page->send(text));
        const std::optional<close_info> closed = page->connection().wait_close(agent_timeout);
        ASSERT_TRUE(closed.has_value()) << text;
        EXPECT_EQ(closed->code, 3001) << text;
        EXPECT_EQ(closed->reason, "invalid request") << text;
        EXPECT_EQ(page->connection().text_count(), 0u) << text;
    }
}

TEST_F(agent_dispatch, text_after_a_zero_byte_is_ignored) {
    auto page = connect();
    EXPECT_EQ(page->request(std::string("{\"command\":\"getVersion\"}\0{\"x\":", 30)),
              version_reply);
}

TEST_F(agent_dispatch, names_match_exactly_and_the_command_member_in_any_case) {
    auto page = connect();
    EXPECT_EQ(page->request(R"({"command":"fooBar"})"), R"({"command":"fooBar","code":2})");
    EXPECT_EQ(page->request(R"({"command":"GetVersion"})"), R"({"command":"GetVersion","code":2})");
    EXPECT_EQ(page->request(R"({"command":"INITIALIZE","appID":"a"})"),
              R"({"command":"INITIALIZE","code":2})");
    EXPECT_EQ(page->request(R"({"COMMAND":"getVersion"})"), version_reply);
    // The refused names left the connection new: it may still initialise.
    EXPECT_EQ(page->request(R"({"Command":"initialize","appID":"a"})"),
              R"({"command":"initialize","code":true})");
}

TEST_F(agent_dispatch, commands_are_gated_by_the_connection_state) {
    auto fresh = connect();
    EXPECT_EQ(fresh->request(R"({"command":"joinChannel","channelKey":"","channelName":"r"})"),
              R"({"command":"joinChannel","code":5})");
    EXPECT_EQ(fresh->request(R"({"command":"videoStat","uid":1})"),
              R"({"command":"videoStat","code":5})");
    EXPECT_EQ(fresh->request(R"({"command":"getVersion"})"), version_reply);
    expect_agent_info(*fresh);

    auto page = control();
    EXPECT_EQ(page->request(R"({"command":"initialize","appID":"again"})"),
              R"({"command":"initialize","code":5})");
    EXPECT_EQ(page->request(R"({"command":"videoStat","uid":1})"),
              R"({"command":"videoStat","code":5})");
    EXPECT_EQ(page->request(R"({"command":"subscribe","uid":7})"),
              R"({"command":"subscribe","code":5})");
    EXPECT_EQ(page->request(R"({"command":"muteLocal"})"), R"({"command":"muteLocal","code":3})");
    EXPECT_EQ(page->request(R"({"command":"getVersion"})"), version_reply);
    expect_agent_info(*page);

    // A second page while the engine exists, on either server.
    auto second = connect(1);
    EXPECT_EQ(second->request(R"({"command":"initialize","appID":"other"})"),
              R"({"command":"initialize","code":19})");
    EXPECT_TRUE(log().wait_for("L4 [wa] Rtc Engine is already initialized"));
    EXPECT_EQ(second->request(R"({"command":"getDevices"})"),
              R"({"command":"getDevices","code":5})");

    auto stream = connect(1);
    EXPECT_EQ(stream->request(R"({"command":"subscribe","uid":7})"),
              R"({"command":"subscribe","code":true})");
    EXPECT_EQ(stream->request(R"({"command":"initialize","appID":"x"})"),
              R"({"command":"initialize","code":5})");
    EXPECT_EQ(stream->request(R"({"command":"getVersion"})"), version_reply);
    expect_agent_info(*stream);
    // "videoStat" is never answered: the next text is the reply to the command after it.
    ASSERT_TRUE(stream->send(R"({"command":"videoStat","uid":7,"latency":3,"fps":20})"));
    EXPECT_EQ(stream->request(R"({"command":"getVersion"})"), version_reply);
    EXPECT_TRUE(log().wait_for("call reportVideoStats 7 3 0 20 0"));
}

TEST_F(agent_dispatch, missing_or_ill_typed_members_answer_2_and_call_nothing) {
    auto page = control();
    const std::pair<const char*, const char*> cases[] = {
        {R"({"command":"joinChannel","channelKey":"k"})", "joinChannel"},
        {R"({"command":"joinChannel","channelName":"r"})", "joinChannel"},
        {R"({"command":"joinChannel","channelKey":1,"channelName":"r"})", "joinChannel"},
        {R"({"command":"setParameters"})", "setParameters"},
        {R"({"command":"setParameters","parameters":{}})", "setParameters"},
        {R"({"command":"setEncryptionMode"})", "setEncryptionMode"},
        {R"({"command":"setEncryptionSecret","secret":3})", "setEncryptionSecret"},
        {R"({"command":"enableAudio"})", "enableAudio"},
        {R"({"command":"disableVideo","streamID":"1"})", "disableVideo"},
        {R"({"command":"enableLocalVideo"})", "enableLocalVideo"},
        {R"({"command":"enableLocalVideo","enabled":"yes"})", "enableLocalVideo"},
        {R"({"command":"enableDualStreamMode","enabled":1})", "enableDualStreamMode"},
        {R"({"command":"setVideoProfile"})", "setVideoProfile"},
        {R"({"command":"selectDevice"})", "selectDevice"},
        {R"({"command":"selectDevice","device":{"deviceId":"cam-0"}})", "selectDevice"},
        {R"({"command":"startRecording"})", "startRecording"},
        {R"({"command":"stopRecording","recordingKey":""})", "stopRecording"},
        {R"({"command":"setChannelProfile","profile":"Communication"})", "setChannelProfile"},
        {R"({"command":"setClientRole","role":"Audience"})", "setClientRole"},
    };
    for (const auto& entry : cases) {
        EXPECT_EQ(page->request(entry.first),
                  std::string("{\"command\":\"") + entry.second + "\",\"code\":2}")
            << entry.first;
    }
    for (const std::string& line : log().lines()) {
        EXPECT_EQ(line.find("call joinChannel"), std::string::npos) << line;
        EXPECT_EQ(line.find("call setChannelProfile"), std::string::npos) << line;
        EXPECT_EQ(line.find("call setClientRole"), std::string::npos) << line;
    }

    auto fresh = connect();
    EXPECT_EQ(fresh->request(R"({"command":"subscribe","uid":0})"),
              R"({"command":"subscribe","code":2})");
    EXPECT_EQ(fresh->request(R"({"command":"subscribe"})"), R"({"command":"subscribe","code":2})");
    // Still a new connection: "preview" and "subscribe" stay allowed, "initialize" is refused
    // only because an engine exists.
    EXPECT_EQ(fresh->request(R"({"command":"initialize","appID":"x"})"),
              R"({"command":"initialize","code":19})");
}

TEST_F(agent_dispatch, preview_needs_an_engine_and_subscribe_does_not) {
    auto viewer = connect();
    EXPECT_EQ(viewer->request(R"({"command":"subscribe","uid":9})"),
              R"({"command":"subscribe","code":true})");
    EXPECT_EQ(viewer->request(R"({"command":"initialize","appID":"a"})"),
              R"({"command":"initialize","code":5})");

    auto stream = connect();
    EXPECT_EQ(stream->request(R"({"command":"preview"})"), R"({"command":"preview","code":3})");
    // The failed preview left the connection new.
    EXPECT_EQ(stream->request(R"({"command":"initialize","appID":"a"})"),
              R"({"command":"initialize","code":true})");
}

// Every code the agent answers or sends has words in the page library ("N: '...'" in its table).
TEST(reply_codes, every_code_of_the_agent_has_words_in_the_page_library) {
    std::ifstream file(KELVO_PAGE_LIBRARY);
    ASSERT_TRUE(file) << KELVO_PAGE_LIBRARY;
    std::stringstream library;
    library << file.rdbuf();
    std::vector<int64_t> codes;
    for (int32_t result : kelvo::rtc::web::agent_results) codes.push_back(-int64_t{result});
    for (int code : {kelvo::rtc::web::engine_code::join_failed,
                     kelvo::rtc::web::engine_code::connection_lost,
                     kelvo::rtc::web::engine_code::join_failure}) {
        codes.push_back(code);
    }
    for (int64_t code : codes) {
        EXPECT_NE(library.str().find("  " + std::to_string(code) + ": '"), std::string::npos)
            << "no words for code " << code;
    }
}

}  // namespace
}  // namespace test
}  // namespace kelvo
