// The engine's callbacks as the page receives them on the control connection.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <slot_call.h>

#include "support/agent_fixture.h"
#include "video/rtc_engine_agent_event_handler.h"

namespace kelvo {
namespace test {
namespace {

class agent_events : public agent_fixture {};

std::string emit(const std::string& callback_and_members) {
    return R"({"sim.emit":{"callback":)" + callback_and_members + "}}";
}

TEST_F(agent_events, callbacks_become_events_with_their_members_in_order) {
    auto page = control();
    const std::pair<std::string, std::string> cases[] = {
        {emit(R"("warning","code":8)"), R"({"event":"warning","code":8})"},
        {emit(R"("error","code":-21)"), R"({"event":"error","code":-21})"},
        {emit(R"("connection_lost")"), R"({"event":"error","code":111})"},
        {emit(R"("join_failure")"), R"({"event":"error","code":112})"},
        {emit(R"("camera_ready")"), R"({"event":"onCameraReady"})"},
        {emit(R"("video_stopped")"), R"({"event":"onVideoStopped"})"},
        {emit(R"("request_key")"), R"({"event":"onRequestChannelKey"})"},
        {emit(R"("rejoin","channel":"r","uid":4294967295,"elapsed":12)"),
         R"({"event":"onRejoinChannelSuccess","channel":"r","uid":4294967295,"elapsed":12})"},
        // A null channel text leaves its member out.
        {emit(R"("rejoin","uid":3)"), R"({"event":"onRejoinChannelSuccess","uid":3,"elapsed":0})"},
        {emit(R"("peer_leave","uid":4294967295,"reason":1)"),
         R"({"command":"onPeerLeave","uid":4294967295,"reason":1})"},
        {emit(R"("remote_video","uid":2147483648)"),
         R"({"command":"onAddVideoStream","uid":2147483648})"},
        {emit(R"("recording_status","status":2)"),
         R"({"command":"queryRecordingStatus","code":true,"status":2})"},
    };
    for (const auto& entry : cases) {
        page->engine_parameters(entry.first);
        EXPECT_EQ(page->events_until_marker(), std::vector<std::string>{entry.second})
            << entry.first;
    }
}

TEST_F(agent_events, peers_are_reported_with_unsigned_uids) {
    auto page = control();
    page->join(1);
    page->engine_parameters(R"({"sim.peer.add":{"uid":4294967295,"video":true}})");
    EXPECT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":4294967295})"));
    page->engine_parameters(
        R"({"sim.peer.mute_audio":{"uid":4294967295,"muted":true},)"
        R"("sim.peer.mute_video":{"uid":4294967295,"muted":false},)"
        R"("sim.peer.enable_video":{"uid":4294967295,"enabled":false}})");
    EXPECT_EQ(page->events_until_marker(),
              (std::vector<std::string>{
                  R"({"event":"onUserMuteAudio","uid":4294967295,"muted":true})",
                  R"({"event":"onUserMuteVideo","uid":4294967295,"muted":false})",
                  R"({"event":"onUserEnableVideo","uid":4294967295,"enabled":false})",
              }));
    page->engine_parameters(R"({"sim.peer.remove":4294967295})");
    EXPECT_TRUE(page->wait_for(R"({"command":"onPeerLeave","uid":4294967295,"reason":0})"));
}

TEST_F(agent_events, a_remote_video_is_announced_only_while_nobody_watches_it) {
    auto page = control();
    auto viewer = connect();
    EXPECT_EQ(viewer->request(R"({"command":"subscribe","uid":9})"),
              R"({"command":"subscribe","code":true})");
    page->engine_parameters(emit(R"("remote_video","uid":9)"));
    page->engine_parameters(emit(R"("remote_video","uid":10)"));
    EXPECT_EQ(page->events_until_marker(),
              std::vector<std::string>{R"({"command":"onAddVideoStream","uid":10})"});
}

TEST_F(agent_events, api_results_answer_the_commands_the_engine_completes) {
    auto page = control();
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"rtc.renew_channel_key\",\"code\":0", {R"({"command":"renewChannelKey","code":true})"}},
        {"rtc.renew_channel_key\",\"code\":-2", {R"({"command":"renewChannelKey","code":-2})"}},
        {"rtc.api.start_recording_service\",\"code\":0",
         {R"({"command":"startRecording","code":true})"}},
        {"rtc.api.start_recording_service\",\"code\":-3",
         {R"({"command":"startRecording","code":-3})"}},
        {"rtc.api.stop_recording_service\",\"code\":-6",
         {R"({"command":"stopRecording","code":-6})"}},
        {"rtc.api.query_recording_service_status\",\"code\":-7",
         {R"({"command":"queryRecordingStatus","code":-7})"}},
        {"rtc.api.query_recording_service_status\",\"code\":0", {}},
        {"rtc.api.leave_channel\",\"code\":0", {}},
        {"rtc.api.something_else\",\"code\":-1", {}},
        {"RTC.RENEW_CHANNEL_KEY\",\"code\":0", {}},
    };
    for (const auto& entry : cases) {
        page->engine_parameters(emit("\"api_result\",\"api\":\"" + entry.first));
        EXPECT_EQ(page->events_until_marker(), entry.second) << entry.first;
    }
}

template <typename Signature>
using handler_slot = rtc::standin::slot_call<rtc::IRtcEngineEventHandler, Signature>;

// The engine knows the handler only by its slot numbers (on Windows it is built by another
// compiler): every slot reached through its table entry, with the engine's arguments, has that
// slot's effect, and the slots the handler leaves alone do nothing.
TEST_F(agent_events, a_foreign_engine_reaches_every_callback_by_its_slot_number) {
    auto page = control();
    rtc::web::rtc_engine_agent_event_handler agent_handler(agent());
    rtc::IRtcEngineEventHandler& handler = agent_handler;
    const rtc::RtcStats stats{};

    handler_slot<void(const char*, uint32_t, int)>::on(handler, 1, "room", 77u, 0);
    handler_slot<void(const char*, uint32_t, int)>::on(handler, 2, "r", 4294967295u, 12);
    handler_slot<void(int, const char*)>::on(handler, 3, 8, "w");
    handler_slot<void(int, const char*)>::on(handler, 4, -21, "e");
    handler_slot<void(const rtc::RtcStats&)>::on(handler, 7, stats);
    handler_slot<void(uint32_t, int, int, int)>::on(handler, 15, 9u, 320, 240, 0);
    handler_slot<void(uint32_t, int)>::on(handler, 19, 9u, 1);
    handler_slot<void(uint32_t, bool)>::on(handler, 20, 5u, true);
    handler_slot<void(uint32_t, bool)>::on(handler, 21, 5u, false);
    handler_slot<void(uint32_t, bool)>::on(handler, 22, 5u, true);
    handler_slot<void(const char*, int)>::on(handler, 23, "rtc.api.start_recording_service", -3);
    for (size_t slot : {26, 27, 28, 29}) handler_slot<void()>::on(handler, slot);
    handler_slot<void(int)>::on(handler, 30, 2);
    handler_slot<void()>::on(handler, 35);
    // The largest argument count any slot takes, all zero.
    for (size_t slot : {5, 6, 8, 9, 10, 11, 12, 13, 14, 16, 17, 18, 24, 25, 31, 32, 33, 34}) {
        handler_slot<void(int, int, int, int, int)>::on(handler, slot, 0, 0, 0, 0, 0);
    }

    EXPECT_EQ(page->events_until_marker(),
              (std::vector<std::string>{
                  R"({"command":"joinChannel","uid":77,"code":true})",
                  R"({"event":"onRejoinChannelSuccess","channel":"r","uid":4294967295,"elapsed":12})",
                  R"({"event":"warning","code":8})",
                  R"({"event":"error","code":-21})",
                  R"({"command":"leaveChannel","code":true})",
                  R"({"command":"onAddVideoStream","uid":9})",
                  R"({"command":"onPeerLeave","uid":9,"reason":1})",
                  R"({"event":"onUserMuteAudio","uid":5,"muted":true})",
                  R"({"event":"onUserMuteVideo","uid":5,"muted":false})",
                  R"({"event":"onUserEnableVideo","uid":5,"enabled":true})",
                  R"({"command":"startRecording","code":-3})",
                  R"({"event":"onCameraReady"})",
                  R"({"event":"onVideoStopped"})",
                  R"({"event":"error","code":112})",
                  R"({"event":"error","code":111})",
                  R"({"command":"queryRecordingStatus","code":true,"status":2})",
                  R"({"event":"onRequestChannelKey"})",
              }));
}

TEST_F(agent_events, a_new_page_gets_none_of_the_old_engines_traffic) {
    auto late = connect(1);
    {
        auto page = control();
        page->join(1);
        page->engine_parameters(R"({"sim.peer.add":{"uid":5,"video":true}})");
        page->connection().close();
        ASSERT_TRUE(log().wait_for("call release false"));
    }
    EXPECT_EQ(late->connection().text_count(), 0u);
    EXPECT_EQ(late->request(R"({"command":"initialize","appID":"b"})"),
              R"({"command":"initialize","code":true})");
    EXPECT_TRUE(late->events_until_marker().empty());
}

}  // namespace
}  // namespace test
}  // namespace kelvo
