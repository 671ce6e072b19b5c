// The stand-in engine's sessions and events, through the real library: join and leave, API
// results, simulated peers and callbacks, armed failures, devices, the log file and release.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "standin_fixture.h"

namespace kelvo {
namespace test {
namespace {

using namespace kelvo::rtc;

class standin_events : public standin_test {};

std::vector<std::string> names(const std::vector<recorded_event>& events) {
    std::vector<std::string> result;
    for (const recorded_event& event : events) result.push_back(event.name);
    return result;
}

TEST_F(standin_events, join_grants_the_asked_uid_or_a_fresh_one_and_leave_follows) {
    ASSERT_TRUE(make_engine());
    EXPECT_EQ(0, engine_->joinChannel("key", "room", "ZuzIrave", 77));
    EXPECT_EQ(0, engine_->leaveChannel());
    EXPECT_EQ(0, engine_->joinChannel(nullptr, "room2", "ZuzIrave", 0));
    const std::vector<recorded_event> events = handler_->wait_count(3);
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ("onJoinChannelSuccess", events[0].name);
    EXPECT_EQ("room 77 0", events[0].args);
    EXPECT_EQ("onLeaveChannel", events[1].name);
    EXPECT_EQ("onJoinChannelSuccess", events[2].name);
    EXPECT_EQ(0u, events[2].args.find("room2 "));
    EXPECT_NE("room2 0 0", events[2].args);  // a fresh, non-zero uid for 0

    EXPECT_TRUE(log().wait_for("call joinChannel key room ZuzIrave 77", patience));
    EXPECT_TRUE(log().wait_for("call joinChannel  room2 ZuzIrave 0", patience));
    EXPECT_TRUE(log().wait_for("call leaveChannel", patience));
    EXPECT_TRUE(log().wait_for("event onJoinChannelSuccess room 77 0", patience));
}

TEST_F(standin_events, renewal_and_recording_calls_are_answered_by_events_in_order) {
    ASSERT_TRUE(make_engine());
    IRtcEngineParameter* parameter = parameters();
    ASSERT_NE(nullptr, parameter);
    EXPECT_EQ(0, engine_->renewChannelKey("k2"));
    EXPECT_EQ(0, parameter->setString("rtc.api.start_recording_service", "rk"));
    EXPECT_EQ(0, parameter->setBool("rtc.api.query_recording_service_status", true));
    EXPECT_EQ(0, parameter->setString("rtc.api.stop_recording_service", "rk"));
    EXPECT_EQ(0, parameter->setInt("che.video.start_screen_capture", 0));
    EXPECT_EQ(0, parameter->setObject("rtc.audio.mute_peer", "{\"uid\":5,\"mute\":true}"));
    parameter->release();

    const std::vector<recorded_event> events = handler_->wait_count(4);
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ("rtc.renew_channel_key 0", events[0].args);
    EXPECT_EQ("rtc.api.start_recording_service 0", events[1].args);
    EXPECT_EQ("onRecordingStatus", events[2].name);
    EXPECT_EQ("1", events[2].args);
    EXPECT_EQ("rtc.api.stop_recording_service 0", events[3].args);

    EXPECT_TRUE(log().wait_for("call renewChannelKey k2", patience));
    EXPECT_TRUE(log().wait_for("call setString rtc.api.start_recording_service rk", patience));
    EXPECT_TRUE(log().wait_for("call setBool rtc.api.query_recording_service_status true", patience));
    EXPECT_TRUE(log().wait_for("call setInt che.video.start_screen_capture 0", patience));
    EXPECT_TRUE(log().wait_for("call setObject rtc.audio.mute_peer {\"uid\":5,\"mute\":true}", patience));
    EXPECT_TRUE(log().wait_for("call release parameter", patience));
}

TEST_F(standin_events, accepted_calls_are_logged_with_their_arguments) {
    ASSERT_TRUE(make_engine());
    EXPECT_EQ(0, engine_->setChannelProfile(CHANNEL_PROFILE_LIVE_BROADCASTING));
    EXPECT_EQ(0, engine_->setClientRole(CLIENT_ROLE_AUDIENCE, "pk"));
    EXPECT_EQ(0, engine_->enableVideo());
    EXPECT_EQ(0, engine_->setVideoProfile(40, true));
    EXPECT_EQ(0, engine_->setEncryptionMode("aes-128-xts"));
    EXPECT_EQ(0, engine_->setEncryptionSecret("s3"));
    const VideoStats stats{9, 10, 11, 12, 13};
    EXPECT_EQ(0, engine_->reportVideoStats(stats));
    EXPECT_EQ(0, engine_->writeLog(LOG_LEVEL_WARN, "[wa] two\nlines"));
    EXPECT_EQ(0, set("{\"rtc.video.capture\":false,\"che.video.local.capture\":false}"));

    const std::vector<std::string> expected = {
        "call initialize test-app",
        "call queryInterface 4",
        "call registerVideoRenderFactory",
        "call release mediaEngine",
        "call setChannelProfile 1",
        "call setClientRole 2 pk",
        "call enableVideo",
        "call setVideoProfile 40 true",
        "call setEncryptionMode aes-128-xts",
        "call setEncryptionSecret s3",
        "call reportVideoStats 9 10 11 12 13",
        "L4 [wa] two lines",
        "call setParameters {\"rtc.video.capture\":false,\"che.video.local.capture\":false}",
    };
    EXPECT_EQ(expected, log().lines());
}

TEST_F(standin_events, peers_and_emitted_callbacks_arrive_in_order) {
    ASSERT_TRUE(make_engine());
    EXPECT_EQ(-2, set("{\"sim.peer.add\":{\"uid\":42,\"video\":true}}"));  // not joined yet
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    EXPECT_EQ(0, set("{\"sim.peer.add\":{\"uid\":42,\"video\":true},"
                     "\"sim.peer.add\":{\"uid\":43,\"video\":false},"
                     "\"sim.peer.mute_audio\":{\"uid\":42,\"muted\":true},"
                     "\"sim.peer.mute_video\":{\"uid\":42,\"muted\":true},"
                     "\"sim.peer.enable_video\":{\"uid\":43,\"enabled\":true},"
                     "\"sim.peer.remove\":43}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"warning\",\"code\":8}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"error\",\"code\":-17}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"join_failure\"},\"sim.emit\":{\"callback\":\"connection_lost\"}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"request_key\"}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"camera_ready\"}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"video_stopped\"}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"recording_status\",\"status\":3}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"api_result\",\"api\":\"rtc.api.join_channel\",\"code\":-7}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"api_result\",\"code\":1}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"rejoin\",\"channel\":\"room\",\"uid\":4294967295,\"elapsed\":12}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"remote_video\",\"uid\":9}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"peer_leave\",\"uid\":9,\"reason\":1}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"leave\"}}"));
    EXPECT_EQ(0, set("{\"sim.emit\":{\"callback\":\"join_success\",\"channel\":\"x\",\"uid\":5}}"));

    const std::vector<std::pair<std::string, std::string>> expected = {
        {"onJoinChannelSuccess", "room 1 0"},
        {"onRemoteVideoStreamAvailable", "42 320 240 0"},
        {"onUserEnableVideo", "43 false"},
        {"onUserMuteAudio", "42 true"},
        {"onUserMuteVideo", "42 true"},
        {"onUserEnableVideo", "43 true"},
        {"onPeerLeave", "43 0"},
        {"onWarning", "8"},
        {"onError", "-17"},
        {"onJoinChannelFailure", ""},
        {"onConnectionLost", ""},
        {"onRequestChannelKey", ""},
        {"onCameraReady", ""},
        {"onVideoStopped", ""},
        {"onRecordingStatus", "3"},
        {"onApiResult", "rtc.api.join_channel -7"},
        {"onApiResult", "(null) 1"},
        {"onRejoinChannelSuccess", "room 4294967295 12"},
        {"onRemoteVideoStreamAvailable", "9 320 240 0"},
        {"onPeerLeave", "9 1"},
        {"onLeaveChannel", ""},
        {"onJoinChannelSuccess", "x 5 0"},
    };
    const std::vector<recorded_event> events = handler_->wait_count(expected.size());
    ASSERT_EQ(expected.size(), events.size()) << ::testing::PrintToString(names(events));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(expected[i].first, events[i].name) << i;
        EXPECT_EQ(expected[i].second, events[i].args) << i;
    }
}

TEST_F(standin_events, invalid_control_values_are_refused) {
    ASSERT_TRUE(make_engine());
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    EXPECT_EQ(-2, set("not json"));
    EXPECT_EQ(-2, set("[1,2]"));
    EXPECT_EQ(-2, engine_->setParameters(nullptr));
    EXPECT_EQ(-2, set("{\"sim.unknown\":1}"));
    EXPECT_EQ(-2, set("{\"sim.peer.add\":{\"uid\":0,\"video\":true}}"));
    EXPECT_EQ(-2, set("{\"sim.peer.add\":{\"uid\":-1}}"));
    EXPECT_EQ(-2, set("{\"sim.peer.remove\":99}"));
    EXPECT_EQ(-2, set("{\"sim.peer.mute_video\":{\"uid\":99,\"muted\":true}}"));
    EXPECT_EQ(-2, set("{\"sim.emit\":{\"callback\":\"nothing\"}}"));
    EXPECT_EQ(-2, set("{\"sim.fail_next\":{\"op\":\"joinChannel\"}}"));
    EXPECT_EQ(-2, set("{\"sim.video\":{\"width\":0}}"));
    EXPECT_EQ(-2, set("{\"sim.video\":{\"fps\":1000}}"));
    EXPECT_EQ(-2, set("{\"sim.devices\":{\"videoinput\":[1]}}"));
    EXPECT_EQ(-2, set("{\"sim.no_interface\":[\"x\"]}"));
    // Valid keys beside an invalid one still act.
    EXPECT_EQ(-2, set("{\"sim.unknown\":1,\"sim.emit\":{\"callback\":\"camera_ready\"}}"));
    EXPECT_LE(0, handler_->wait_event("onCameraReady"));
    // Ordinary engine keys are accepted.
    EXPECT_EQ(0, set("{\"rtc.video.mute_me\":true,\"che.video.local.send\":false}"));
}

TEST_F(standin_events, an_armed_failure_hits_the_next_call_of_that_operation_only) {
    ASSERT_TRUE(make_engine());
    ASSERT_EQ(0, set("{\"sim.fail_next\":{\"op\":\"joinChannel\",\"code\":-5},"
                     "\"sim.fail_next\":{\"op\":\"setParameters\",\"code\":-9},"
                     "\"sim.fail_next\":{\"op\":\"queryInterface\",\"code\":-3}}"));
    EXPECT_EQ(-5, engine_->joinChannel("", "room", "ZuzIrave", 3));
    EXPECT_EQ(-9, set("{\"sim.emit\":{\"callback\":\"camera_ready\"}}"));
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(-3, engine_->queryInterface(IID_RTC_ENGINE_PARAMETER, &object));
    EXPECT_EQ(nullptr, object);

    EXPECT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 4));
    const std::vector<recorded_event> events = handler_->wait_count(1);
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ("room 4 0", events[0].args);  // the failed calls did nothing
    IRtcEngineParameter* parameter = parameters();
    ASSERT_NE(nullptr, parameter);
    ASSERT_EQ(0, set("{\"sim.fail_next\":{\"op\":\"setString\",\"code\":-4}}"));
    EXPECT_EQ(-4, parameter->setString("rtc.api.start_recording_service", "k"));
    EXPECT_EQ(0, parameter->setString("rtc.api.start_recording_service", "k"));
    parameter->release();
    EXPECT_LE(0, handler_->wait_event("onApiResult"));
    EXPECT_EQ(2u, handler_->events().size());
}

struct device {
    std::string id;
    std::string name;
    bool operator==(const device& other) const { return id == other.id && name == other.name; }
};

std::vector<device> read_devices(IDeviceCollection* collection) {
    std::vector<device> devices;
    if (!collection) return devices;
    for (int i = 0; i < collection->getCount(); ++i) {
        char name[MAX_DEVICE_ID_LENGTH];
        char id[MAX_DEVICE_ID_LENGTH];
        if (collection->getDevice(i, name, id) == 0) devices.push_back(device{id, name});
    }
    collection->release();
    return devices;
}

TEST_F(standin_events, devices_default_and_replaced_lists) {
    ASSERT_TRUE(make_engine());
    void* video_object = nullptr;
    void* audio_object = nullptr;
    ASSERT_EQ(0, engine_->queryInterface(IID_VIDEO_DEVICE_MANAGER, &video_object));
    ASSERT_EQ(0, engine_->queryInterface(IID_AUDIO_DEVICE_MANAGER, &audio_object));
    auto* video = static_cast<IVideoDeviceManager*>(video_object);
    auto* audio = static_cast<IAudioDeviceManager*>(audio_object);

    EXPECT_EQ(std::vector<device>({{"cam-0", "Stand-in Camera"}}), read_devices(video->enumerateVideoDevices()));
    EXPECT_EQ(std::vector<device>({{"spk-0", "Stand-in Speaker"}}), read_devices(audio->enumeratePlaybackDevices()));
    EXPECT_EQ(std::vector<device>({{"mic-0", "Stand-in Microphone"}}), read_devices(audio->enumerateRecordingDevices()));
    EXPECT_EQ(0, video->setDevice("cam-0"));
    EXPECT_EQ(0, audio->setPlaybackDevice("spk-0"));
    EXPECT_EQ(0, audio->setRecordingDevice("mic-0"));

    const std::string long_name(200, 'n');
    ASSERT_EQ(0, set("{\"sim.devices\":{\"videoinput\":[{\"id\":\"a\",\"name\":\"A\"},"
                     "{\"id\":\"b\",\"name\":\"B\",\"fail\":true},{\"id\":\"c\",\"name\":\"" +
                     long_name + "\"}],\"audioinput\":[]}}"));
    IDeviceCollection* cameras = video->enumerateVideoDevices();
    ASSERT_NE(nullptr, cameras);
    EXPECT_EQ(3, cameras->getCount());
    char name[MAX_DEVICE_ID_LENGTH];
    char id[MAX_DEVICE_ID_LENGTH];
    EXPECT_EQ(-1, cameras->getDevice(1, name, id));
    EXPECT_EQ(-2, cameras->getDevice(3, name, id));
    ASSERT_EQ(0, cameras->getDevice(2, name, id));
    EXPECT_EQ(long_name.substr(0, 127), name);
    cameras->release();
    EXPECT_EQ(std::vector<device>({{"a", "A"}, {"c", long_name.substr(0, 127)}}),
              read_devices(video->enumerateVideoDevices()));
    EXPECT_EQ(std::vector<device>({{"spk-0", "Stand-in Speaker"}}), read_devices(audio->enumeratePlaybackDevices()));
    EXPECT_TRUE(read_devices(audio->enumerateRecordingDevices()).empty());

    ASSERT_EQ(0, set("{\"sim.fail_next\":{\"op\":\"enumeratePlaybackDevices\",\"code\":-1},"
                     "\"sim.fail_next\":{\"op\":\"setDevice\",\"code\":-8}}"));
    EXPECT_EQ(nullptr, audio->enumeratePlaybackDevices());
    EXPECT_EQ(-8, video->setDevice("a"));
    video->release();
    audio->release();
    EXPECT_TRUE(log().wait_for("call release videoDeviceManager", patience));
    EXPECT_TRUE(log().wait_for("call getDevice 2", patience));

    ASSERT_EQ(0, set("{\"sim.no_interface\":[1,3]}"));
    void* object = nullptr;
    EXPECT_EQ(-2, engine_->queryInterface(IID_AUDIO_DEVICE_MANAGER, &object));
    EXPECT_EQ(-2, engine_->queryInterface(IID_RTC_ENGINE_PARAMETER, &object));
    EXPECT_EQ(nullptr, object);
    ASSERT_EQ(0, engine_->queryInterface(IID_VIDEO_DEVICE_MANAGER, &object));
    static_cast<IVideoDeviceManager*>(object)->release();
    ASSERT_EQ(0, set("{\"sim.no_interface\":[]}"));
    ASSERT_EQ(0, engine_->queryInterface(IID_AUDIO_DEVICE_MANAGER, &object));
    static_cast<IAudioDeviceManager*>(object)->release();
    EXPECT_EQ(-2, engine_->queryInterface(static_cast<INTERFACE_ID_TYPE>(9), &object));
}

TEST_F(standin_events, nothing_reaches_the_handler_after_release_even_with_events_queued) {
    ASSERT_TRUE(make_engine());
    ASSERT_EQ(0, engine_->joinChannel("", "room", "ZuzIrave", 1));
    ASSERT_EQ(0, set("{\"rtc.video.capture\":true,\"sim.video\":{\"fps\":120}}"));
    VideoCanvas canvas{reinterpret_cast<void*>(0x10), 1, 0, 0};
    ASSERT_EQ(0, engine_->setupLocalVideo(canvas));
    ASSERT_EQ(0, set("{\"sim.peer.add\":{\"uid\":42,\"video\":true}}"));
    canvas.uid = 42;
    canvas.view = reinterpret_cast<void*>(0x20);
    ASSERT_EQ(0, engine_->setupRemoteVideo(canvas));
    ASSERT_TRUE(factory_->wait_frames(0, 2));
    ASSERT_TRUE(factory_->wait_frames(1, 2));
    for (int i = 0; i < 500; ++i) set("{\"sim.emit\":{\"callback\":\"camera_ready\"}}");
    release_engine();
    handler_->forbidden = true;
    factory_->forbidden = true;
    // Every renderer was released exactly once, and before release returned.
    for (const auto& renderer : factory_->renderers()) {
        EXPECT_EQ(1, renderer.releases);
        EXPECT_FALSE(renderer.delivered_after_release);
    }
    // The handler and factory go away now; a late call would be a use after free.
    handler_.reset();
    factory_.reset();
}

TEST_F(standin_events, log_goes_to_the_named_file_appending) {
    {
        std::FILE* file = std::fopen(log().path().c_str(), "w");
        ASSERT_NE(nullptr, file);
        std::fputs("earlier line\n", file);
        std::fclose(file);
    }
    ASSERT_TRUE(make_engine());
    EXPECT_EQ(0, engine_->writeLog(LOG_LEVEL_INFO, "[wa] join channel"));
    EXPECT_EQ(0, engine_->writeLog(LOG_LEVEL_INFO, nullptr));
    const std::vector<std::string> lines = log().lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("earlier line", lines.front());
    EXPECT_EQ("L1 [wa] join channel", lines[lines.size() - 2]);
    EXPECT_EQ("L1 ", lines.back());
}

}  // namespace
}  // namespace test
}  // namespace kelvo
