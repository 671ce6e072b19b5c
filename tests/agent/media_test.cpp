// Media commands through real connections: the engine parameter texts of the audio and video
// switches and the names of the video profiles.
#include <string>

#include <gtest/gtest.h>

#include "support/agent_fixture.h"

namespace kelvo {
namespace test {
namespace {

class agent_media : public agent_fixture {};

TEST_F(agent_media, video_profile_names_are_exact) {
    auto page = control();
    EXPECT_EQ(page->request(R"({"command":"setVideoProfile","profile":"360P_11"})"),
              R"({"command":"setVideoProfile","code":true})");
    EXPECT_TRUE(log().wait_for("call setVideoProfile 100 false"));
    EXPECT_TRUE(log().has("L1 [wa] setVideoProfile to 360P_11 swap false"));
    EXPECT_EQ(page->request(R"({"command":"setVideoProfile","profile":"720P_6","swapWidthAndHeight":true})"),
              R"({"command":"setVideoProfile","code":true})");
    EXPECT_TRUE(log().wait_for("call setVideoProfile 55 true"));
    EXPECT_EQ(page->request(R"({"command":"setVideoProfile","profile":"360p_11"})"),
              R"({"command":"setVideoProfile","code":2})");
    EXPECT_TRUE(log().has("L1 [wa] undefined video profile specified to setVideoProfile: 360p_11"));
    EXPECT_EQ(page->request(R"({"command":"setVideoProfile","profile":""})"),
              R"({"command":"setVideoProfile","code":2})");
    EXPECT_EQ(log().count("call setVideoProfile 100 false") + log().count("call setVideoProfile 55 true"), 2u);
}

TEST_F(agent_media, media_switches_send_their_parameter_texts) {
    auto page = control();
    ASSERT_NE(page->join(7).find("\"code\":true"), std::string::npos);
    EXPECT_EQ(page->request(R"({"command":"disableAudio","streamID":7})"),
              R"({"command":"disableAudio","code":true})");
    EXPECT_TRUE(log().has(R"(call setParameters {"rtc.audio.mute_me":true,"che.audio.mute_me":true})"));
    EXPECT_EQ(page->request(R"({"command":"enableAudio","streamID":9})"),
              R"({"command":"enableAudio","code":true})");
    EXPECT_TRUE(log().has(R"(call setObject rtc.audio.mute_peer {"uid":9,"mute":false})"));
    EXPECT_EQ(page->request(R"({"command":"enableVideo","streamID":0})"),
              R"({"command":"enableVideo","code":true})");
    EXPECT_TRUE(log().has(R"(call setParameters {"rtc.video.mute_me":false,"che.video.local.send":true})"));
    EXPECT_EQ(page->request(R"({"command":"enableLocalVideo","enabled":false})"),
              R"({"command":"enableLocalVideo","code":true})");
    EXPECT_TRUE(log().has(
        R"(call setParameters {"rtc.video.capture":false,"che.video.local.capture":false,"che.video.local.render":false,"che.video.local.send":false})"));

    // "muteLocal" whose audio step fails leaves the video alone and answers the audio's code.
    // (The join's media reset has already sent the video text once.)
    const std::string video_mute =
        R"(call setParameters {"rtc.video.mute_me":true,"che.video.local.send":false})";
    const size_t video_mutes = log().count(video_mute);
    page->engine_parameters(R"({"sim.fail_next":{"op":"setParameters","code":9}})");
    EXPECT_EQ(page->request(R"({"command":"muteLocal"})"), R"({"command":"muteLocal","code":9})");
    EXPECT_EQ(log().count(video_mute), video_mutes);
    EXPECT_TRUE(log().has("L1 [wa] muteLocal audio and video Stream"));
    EXPECT_EQ(page->request(R"({"command":"muteLocal"})"), R"({"command":"muteLocal","code":true})");
    EXPECT_EQ(log().count(video_mute), video_mutes + 1);

    // Without the parameter object nothing is called and the answer is "no engine".
    page->engine_parameters(R"({"sim.no_interface":[3]})");
    EXPECT_EQ(page->request(R"({"command":"disableVideo","streamID":9})"),
              R"({"command":"disableVideo","code":3})");
    EXPECT_FALSE(log().has(R"(call setObject rtc.video.mute_peer {"uid":9,"mute":true})"));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
