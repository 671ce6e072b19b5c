// Creating and destroying the engine, joining and leaving, and the session options, through real
// connections to the running agent with the stand-in engine.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "base/json_value.h"
#include "support/agent_fixture.h"

namespace kelvo {
namespace test {
namespace {

class agent_session : public agent_fixture {};

constexpr const char* initialized = R"({"command":"initialize","code":true})";
constexpr const char* left = R"({"command":"leaveChannel","code":true})";
constexpr const char* capture_off =
    R"(call setParameters {"rtc.video.capture":false,"che.video.local.capture":false,)"
    R"("che.video.local.render":false,"che.video.local.send":false})";
constexpr const char* audio_muted =
    R"(call setParameters {"rtc.audio.mute_me":true,"che.audio.mute_me":true})";
constexpr const char* video_muted =
    R"(call setParameters {"rtc.video.mute_me":true,"che.video.local.send":false})";

// Sets a variable of this process's environment, which the stand-in engine reads; an empty value
// removes it.
void set_environment(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    if (*value == '\0') {
        ::unsetenv(name);
    } else {
        ::setenv(name, value, 1);
    }
#endif
}

std::string command_of(const std::string& text) {
    return kelvo::rtc::web::JsonValue(text.c_str()).getString("command", "");
}

// Makes the next join call succeed without the engine reporting it, so the join stays pending.
void hold_next_join(agent_client& page) {
    page.engine_parameters(R"({"sim.fail_next":{"op":"joinChannel","code":0}})");
    ASSERT_TRUE(page.send(R"({"command":"joinChannel","channelKey":"k","channelName":"r"})"));
}

TEST_F(agent_session, an_empty_application_id_answers_101_and_the_connection_stays_new) {
    auto page = connect();
    EXPECT_EQ(page->request(R"({"command":"initialize","appID":""})"),
              R"({"command":"initialize","code":101})");
    EXPECT_EQ(page->request(R"({"command":"initialize"})"),
              R"({"command":"initialize","code":101})");
    EXPECT_EQ(page->request(R"({"command":"initialize","appID":"app"})"), initialized);
}

TEST_F(agent_session, an_engine_that_refuses_to_initialise_is_released_and_a_retry_succeeds) {
    auto page = connect();
    set_environment("RIZUDADA_FAIL_INITIALIZE", "-17");
    const std::string refused = page->request(R"({"command":"initialize","appID":"app"})");
    set_environment("RIZUDADA_FAIL_INITIALIZE", "");
    EXPECT_EQ(refused, R"({"command":"initialize","code":17})");
    EXPECT_TRUE(log().wait_for("call release false"));
    // The same connection is still new and may try again; the agent is not stuck at code 19.
    EXPECT_EQ(page->request(R"({"command":"initialize","appID":"app"})"), initialized);
}

TEST_F(agent_session, initialize_sets_the_engine_up_in_order) {
    auto page = control(0, R"({"command":"initialize","appID":"my-app"})");
    EXPECT_TRUE(log().has_in_order({
        "call initialize my-app",
        "L1 [wa] Rtc Engine initialized",
        "call queryInterface 4",
        "call registerVideoRenderFactory",
        "call setupLocalVideo 0",
        "call queryInterface 3",
        "call enableVideo",
        capture_off,
        audio_muted,
        video_muted,
        "call release parameter",
        "call release mediaEngine",
    }));
}

TEST_F(agent_session, the_key_style_names_the_key_renewal_reply) {
    {
        auto page = control(0, R"({"command":"initialize","appID":"a","key":"b"})");
        EXPECT_EQ(page->request(R"({"command":"renewChannelKey","channelKey":"k2"})"),
                  R"({"command":"renewChannelKey","code":true})");
        EXPECT_TRUE(log().has_in_order({"L1 [wa] renew channel key", "call renewChannelKey k2"}));
        // A second page's refused "initialize" with "key" still switches the style.
        auto second = connect(1);
        EXPECT_EQ(second->request(R"({"command":"initialize","key":"b"})"),
                  R"({"command":"initialize","code":19})");
        ASSERT_TRUE(page->send(R"({"command":"renewChannelKey","channelKey":"k3"})"));
        EXPECT_TRUE(page->wait_for(R"({"command":"renewChannelDynamicKey","code":true})"));
        page->connection().close();
        ASSERT_TRUE(log().wait_for("L1 [wa] Rtc Engine destroyed"));
    }
    auto page = control(1, R"({"command":"initialize","appID":"a"})");
    EXPECT_EQ(page->request(R"({"command":"renewChannelKey"})"),
              R"({"command":"renewChannelKey","code":true})");
    EXPECT_EQ(page->request(R"({"command":"renewChannelDynamicKey","key":"d"})"),
              R"({"command":"renewChannelDynamicKey","code":true})");
    EXPECT_TRUE(log().has("call renewChannelKey d"));
}

TEST_F(agent_session, the_join_reply_carries_the_uid_the_engine_granted) {
    auto page = control();
    const std::string reply = page->join(0, "demo");
    const uint32_t granted = json_uint(reply, "uid");
    EXPECT_NE(granted, 0u);
    EXPECT_EQ(reply, R"({"command":"joinChannel","uid":)" + std::to_string(granted) +
                         R"(,"code":true})");
    EXPECT_EQ(agent().own_uid(), granted);
    EXPECT_TRUE(agent().joined());
    EXPECT_TRUE(log().has_in_order({"L1 [wa] join channel", "call joinChannel  demo ZuzIrave 0"}));
    // Members by their other names; the uid above 2^31 stays unsigned.
    EXPECT_EQ(page->request(
                  R"({"command":"joinChannel","key":"k","channel":"c","uid":4294967295})"),
              R"({"command":"joinChannel","uid":4294967295,"code":true})");
    EXPECT_TRUE(log().has("call joinChannel k c ZuzIrave 4294967295"));
}

TEST_F(agent_session, a_refused_join_is_answered_at_once_with_its_code) {
    auto page = control();
    page->engine_parameters(R"({"sim.fail_next":{"op":"joinChannel","code":-17}})");
    EXPECT_EQ(page->join(5), R"({"command":"joinChannel","code":17})");
    EXPECT_FALSE(agent().join_pending());
    EXPECT_EQ(agent().own_uid(), 0u);
}

TEST_F(agent_session, errors_answer_a_pending_join_and_are_events_otherwise) {
    auto page = control();
    hold_next_join(*page);
    page->engine_parameters(R"({"sim.emit":{"callback":"error","code":-5}})");
    EXPECT_TRUE(page->wait_for(R"({"command":"joinChannel","code":-5})"));
    EXPECT_TRUE(page->events_until_marker().empty());

    page->engine_parameters(R"({"sim.emit":{"callback":"error","code":-5}})");
    EXPECT_TRUE(page->wait_for(R"({"event":"error","code":-5})"));

    hold_next_join(*page);
    page->engine_parameters(R"({"sim.emit":{"callback":"join_failure"}})");
    EXPECT_TRUE(page->wait_for(R"({"command":"joinChannel","code":10})"));
    page->engine_parameters(R"({"sim.emit":{"callback":"join_failure"}})");
    EXPECT_TRUE(page->wait_for(R"({"event":"error","code":112})"));

    // The join API result answers only a pending join, and only a failure.
    page->engine_parameters(
        R"({"sim.emit":{"callback":"api_result","api":"rtc.api.join_channel","code":-8}})");
    EXPECT_TRUE(page->events_until_marker().empty());
    hold_next_join(*page);
    page->engine_parameters(
        R"({"sim.emit":{"callback":"api_result","api":"rtc.api.join_channel","code":0}})");
    page->engine_parameters(
        R"({"sim.emit":{"callback":"api_result","api":"rtc.api.join_channel","code":-9}})");
    EXPECT_EQ(page->events_until_marker(),
              std::vector<std::string>{R"({"command":"joinChannel","code":-9})"});

    // After the pending join has been answered, a success is still reported.
    page->engine_parameters(R"({"sim.emit":{"callback":"join_success","channel":"r","uid":77}})");
    EXPECT_TRUE(page->wait_for(R"({"command":"joinChannel","uid":77,"code":true})"));
}

TEST_F(agent_session, leaving_mutes_again_and_resets_the_own_uid_even_when_refused) {
    auto page = control();
    page->join(42);
    EXPECT_EQ(agent().own_uid(), 42u);
    EXPECT_EQ(page->request(R"({"command":"leaveChannel"})"), left);
    EXPECT_FALSE(agent().joined());
    EXPECT_EQ(agent().own_uid(), 0u);
    EXPECT_EQ(log().count(audio_muted), 2u);

    page->join(43);
    page->engine_parameters(R"({"sim.fail_next":{"op":"leaveChannel","code":-4}})");
    EXPECT_EQ(page->request(R"({"command":"leaveChannel"})"),
              R"({"command":"leaveChannel","code":4})");
    EXPECT_EQ(agent().own_uid(), 0u);
    EXPECT_EQ(log().count(audio_muted), 3u);
    EXPECT_EQ(log().count(video_muted), 3u);

    // A leave that fails later is reported with the engine's code; success there sends nothing.
    page->engine_parameters(
        R"({"sim.emit":{"callback":"api_result","api":"rtc.api.leave_channel","code":0}})");
    page->engine_parameters(
        R"({"sim.emit":{"callback":"api_result","api":"rtc.api.leave_channel","code":-6}})");
    EXPECT_EQ(page->events_until_marker(),
              std::vector<std::string>{R"({"command":"leaveChannel","code":-6})"});
}

TEST_F(agent_session, session_options_reach_the_engine_unchanged) {
    auto page = control();
    const std::pair<std::string, std::string> cases[] = {
        {R"({"command":"setParameters","parameters":"{\"che.x\": 1}"})", R"(call setParameters {"che.x": 1})"},
        {R"({"command":"setEncryptionMode","mode":"aes-128-xts"})", "call setEncryptionMode aes-128-xts"},
        {R"({"command":"setEncryptionSecret","secret":"s3cret"})", "call setEncryptionSecret s3cret"},
        {R"({"command":"setChannelProfile","profile":"live-broadcasting"})", "call setChannelProfile 1"},
        {R"({"command":"setChannelProfile","profile":"communication"})", "call setChannelProfile 0"},
        {R"({"command":"setClientRole","role":"audience","key":"pk"})", "call setClientRole 2 pk"},
        {R"({"command":"setClientRole","role":"broadcaster"})", "call setClientRole 1 "},
        {R"({"command":"enableDualStreamMode","enabled":true})", "call setBool rtc.dual_stream_mode true"},
    };
    for (const auto& entry : cases) {
        const std::string name = command_of(entry.first);
        EXPECT_EQ(page->request(entry.first), "{\"command\":\"" + name + "\",\"code\":true}");
        EXPECT_TRUE(log().has(entry.second)) << entry.second;
    }
    page->engine_parameters(R"({"sim.fail_next":{"op":"setEncryptionMode","code":-12}})");
    EXPECT_EQ(page->request(R"({"command":"setEncryptionMode","mode":"m"})"),
              R"({"command":"setEncryptionMode","code":12})");

    // Without the parameter object the operations that need it fail without calling into it.
    page->engine_parameters(R"({"sim.no_interface":[3]})");
    EXPECT_EQ(page->request(R"({"command":"enableDualStreamMode","enabled":false})"),
              R"({"command":"enableDualStreamMode","code":3})");
    EXPECT_FALSE(log().has("call setBool rtc.dual_stream_mode false"));
}

TEST_F(agent_session, the_control_connection_closing_destroys_the_engine) {
    auto page = control();
    auto viewer = connect(0);
    EXPECT_EQ(viewer->request(R"({"command":"subscribe","uid":7})"),
              R"({"command":"subscribe","code":true})");
    auto other_server = connect(1);
    page->join(1);

    page->connection().close();
    const std::optional<close_info> swept = viewer->connection().wait_close(agent_timeout);
    ASSERT_TRUE(swept.has_value());
    EXPECT_EQ(swept->code, 3000);
    EXPECT_EQ(swept->reason, "going away");
    ASSERT_TRUE(log().wait_for("call release false"));
    EXPECT_TRUE(log().has_in_order({"L1 [wa] clear all channels", "L1 [wa] Rtc Engine destroyed",
                                  "call release false"}));
    EXPECT_FALSE(agent().engine_initialized());
    EXPECT_FALSE(agent().joined());
    EXPECT_TRUE(agent().is_idle());

    // The other server's connections stay, and a new page may start a new engine.
    EXPECT_EQ(other_server->request(R"({"command":"initialize","appID":"again"})"), initialized);
    EXPECT_TRUE(other_server->events_until_marker().empty());
}

TEST_F(agent_session, the_idle_and_release_queries_and_a_reset_on_open) {
    EXPECT_TRUE(agent().is_idle());
    auto page = control();
    EXPECT_FALSE(agent().is_idle());
    kelvo::rtc::web::connection_context stream_context;
    stream_context.state = kelvo::rtc::web::connection_stream;
    stream_context.uid = 4;
    EXPECT_TRUE(agent().query_release(&stream_context));
    EXPECT_FALSE(log().has("L1 [wa] close channel for user 4"));

    // A connection opened with the reset flag ends the engine; the page's connection stays.
    kelvo::rtc::web::connection_context opened;
    agent().on_connection_opened(&opened, false);
    EXPECT_FALSE(agent().is_idle());
    agent().on_connection_opened(&opened, true);
    EXPECT_TRUE(agent().is_idle());
    EXPECT_TRUE(log().has_in_order({"L1 [wa] clear all channels", "L1 [wa] Rtc Engine destroyed",
                                  "call release false"}));
    EXPECT_TRUE(page->connection().is_open());
    // Nothing is forwarded any more, and without an engine a release query closes at once.
    EXPECT_EQ(page->request(R"({"command":"getDevices"})"), R"({"command":"getDevices","code":3})");
    EXPECT_FALSE(agent().query_release(&stream_context));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
