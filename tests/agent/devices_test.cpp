// Devices, window listing and screen sharing, and the recording service.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <websocketpp/base64/base64.hpp>

#include "agent/utf8_prefix.h"
#include "base/json_value.h"
#include "platform/window_list.h"
#include "support/agent_fixture.h"

namespace kelvo {
namespace test {
namespace {

using kelvo::rtc::web::JsonValue;

class agent_devices : public agent_fixture {};

// The desktop window's handle as the engine receives it, a 32-bit value.
std::string desktop_handle() {
    return std::to_string(static_cast<int32_t>(
        static_cast<uint32_t>(kelvo::rtc::web::platform_desktop_window())));
}

TEST_F(agent_devices, devices_are_listed_cameras_first_in_the_engines_order) {
    auto page = control();
    EXPECT_EQ(page->request(R"({"command":"getDevices"})"),
              R"({"command":"getDevices","devices":[)"
              R"({"deviceId":"cam-0","label":"Stand-in Camera","kind":"videoinput"},)"
              R"({"deviceId":"spk-0","label":"Stand-in Speaker","kind":"audiooutput"},)"
              R"({"deviceId":"mic-0","label":"Stand-in Microphone","kind":"audioinput"}],)"
              R"("code":true})");
    EXPECT_TRUE(log().has("L1 [wa] getDevices"));

    page->engine_parameters(
        R"({"sim.devices":{"videoinput":[{"id":"c1","name":"Broken","fail":true},)"
        R"({"id":"c2","name":"Kamera \u00e9"}],"audiooutput":[],)"
        R"("audioinput":[{"id":"m1","name":"M1"},{"id":"m2","name":"M2"}]}})");
    EXPECT_EQ(page->request(R"({"command":"getDevices"})"),
              "{\"command\":\"getDevices\",\"devices\":["
              "{\"deviceId\":\"c2\",\"label\":\"Kamera \xC3\xA9\",\"kind\":\"videoinput\"},"
              "{\"deviceId\":\"m1\",\"label\":\"M1\",\"kind\":\"audioinput\"},"
              "{\"deviceId\":\"m2\",\"label\":\"M2\",\"kind\":\"audioinput\"}],\"code\":true}");

    page->engine_parameters(R"({"sim.devices":{"videoinput":[],"audioinput":[]}})");
    EXPECT_EQ(page->request(R"({"command":"getDevices"})"), R"({"command":"getDevices","code":1})");

    page->engine_parameters(R"({"sim.devices":{"videoinput":[{"id":"c","name":"C"}]},)"
                            R"("sim.no_interface":[1,2]})");
    EXPECT_EQ(page->request(R"({"command":"getDevices"})"), R"({"command":"getDevices","code":1})");
    EXPECT_TRUE(log().has("L4 [wa] unable to enumerate video input devices"));
    EXPECT_TRUE(log().has("L4 [wa] unable to enumerate audio devices"));
}

TEST_F(agent_devices, select_device_by_exact_kind) {
    auto page = control();
    const std::pair<std::string, std::string> chosen[] = {
        {R"({"deviceId":"cam-0","kind":"videoinput"})", "call setDevice cam-0"},
        {R"({"deviceId":"spk-0","kind":"audiooutput"})", "call setPlaybackDevice spk-0"},
        {R"({"deviceId":"mic-0","kind":"audioinput"})", "call setRecordingDevice mic-0"},
    };
    for (const auto& entry : chosen) {
        EXPECT_EQ(page->request(R"({"command":"selectDevice","device":)" + entry.first + "}"),
                  R"({"command":"selectDevice","code":true})");
        EXPECT_TRUE(log().has(entry.second)) << entry.second;
    }
    EXPECT_TRUE(log().has("L1 [wa] selectDevices for cam-0, kind=videoinput"));

    const std::pair<std::string, std::string> refused[] = {
        {R"({"deviceId":"mic-0","kind":"audioInput"})", "2"},
        {R"({"deviceId":"cam-0","kind":"VideoInput"})", "2"},
        {R"({"deviceId":"","kind":"audioinput"})", "2"},
        {R"({"deviceId":"x","kind":""})", "2"},
    };
    for (const auto& entry : refused) {
        EXPECT_EQ(page->request(R"({"command":"selectDevice","device":)" + entry.first + "}"),
                  R"({"command":"selectDevice","code":)" + entry.second + "}")
            << entry.first;
    }

    page->engine_parameters(R"({"sim.no_interface":[1]})");
    EXPECT_EQ(page->request(
                  R"({"command":"selectDevice","device":{"deviceId":"m","kind":"audioinput"}})"),
              R"({"command":"selectDevice","code":3})");
    page->engine_parameters(R"({"sim.no_interface":[],"sim.fail_next":{"op":"setDevice","code":-9}})");
    EXPECT_EQ(page->request(
                  R"({"command":"selectDevice","device":{"deviceId":"c","kind":"videoinput"}})"),
              R"({"command":"selectDevice","code":9})");
}

TEST_F(agent_devices, a_long_device_id_is_cut_in_its_log_line) {
    auto page = control();
    const std::string id(300, 'd');
    page->request(R"({"command":"selectDevice","device":{"deviceId":")" + id +
                  R"(","kind":"audioinput"}})");
    const std::string line = "[wa] selectDevices for " + id;
    EXPECT_TRUE(log().has("L1 " + line.substr(0, 255)));
}

// The windows of a listing, checked for shape: fresh 32-digit identifiers, Base64 titles.
std::vector<std::pair<std::string, std::string>> windows_of(const std::string& reply) {
    std::vector<std::pair<std::string, std::string>> windows;
    const JsonValue value(reply.c_str());
    EXPECT_TRUE(value.getBool("code", false)) << reply;
    const std::string prefix = R"({"command":"getWindows","windows":[)";
    EXPECT_EQ(reply.rfind(prefix, 0), 0u) << reply;
    // Entries are flat objects: split them by their braces.
    for (size_t start = reply.find('{', prefix.size()); start != std::string::npos;
         start = reply.find('{', start + 1)) {
        const size_t end = reply.find('}', start);
        const JsonValue entry(reply.substr(start, end - start + 1).c_str());
        const std::string id = entry.getString("windowId", "");
        EXPECT_EQ(id.size(), 32u);
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
        std::string title = websocketpp::base64_decode(entry.getString("title", ""));
        EXPECT_FALSE(title.empty());
        EXPECT_LE(title.size(), 127u);
        windows.emplace_back(id, std::move(title));
    }
    return windows;
}

TEST_F(agent_devices, the_desktop_is_listed_first_and_ids_last_one_listing) {
    auto fresh = connect();
    EXPECT_EQ(fresh->request(R"({"command":"getWindows"})"), R"({"command":"getWindows","code":5})");

    auto page = control();
    const auto first = windows_of(page->request(R"({"command":"getWindows"})"));
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first[0].second, "Screen");
    const std::string desktop = first[0].first;

    EXPECT_EQ(page->request(R"({"command":"startScreenSharing","window":")" + desktop + "\"}"),
              R"({"command":"startScreenSharing","code":true})");
    EXPECT_TRUE(log().has("call setInt che.video.start_screen_capture " + desktop_handle()));
    EXPECT_EQ(page->request(R"({"command":"setScreenSharingWindow","windowId":")" + desktop + "\"}"),
              R"({"command":"setScreenSharingWindow","code":true})");
    EXPECT_TRUE(log().has("call setInt che.video.set_screen_capture_window " + desktop_handle()));
    // Each command reads its own member name.
    page->request(R"({"command":"startScreenSharing","windowId":")" + desktop + "\"}");
    EXPECT_TRUE(log().has("call setInt che.video.start_screen_capture 0"));

    const auto second = windows_of(page->request(R"({"command":"getWindows"})"));
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second[0].first, desktop);
    const size_t zero_before = log().count("call setInt che.video.set_screen_capture_window 0");
    page->request(R"({"command":"setScreenSharingWindow","windowId":")" + desktop + "\"}");
    EXPECT_EQ(log().count("call setInt che.video.set_screen_capture_window 0"), zero_before + 1);

    EXPECT_EQ(page->request(R"({"command":"stopScreenSharing"})"),
              R"({"command":"stopScreenSharing","code":true})");
    EXPECT_TRUE(log().has("call setBool che.video.stop_screen_capture true"));
    page->engine_parameters(R"({"sim.fail_next":{"op":"setInt","code":-11}})");
    EXPECT_EQ(page->request(R"({"command":"startScreenSharing"})"),
              R"({"command":"startScreenSharing","code":11})");
}

TEST_F(agent_devices, the_recording_service_is_answered_by_the_engine) {
    auto page = control();
    // A numeric "recordingKey" falls back to "key"; success is answered later, by the engine.
    EXPECT_EQ(page->request(R"({"command":"startRecording","recordingKey":5,"key":"rk"})"),
              R"({"command":"startRecording","code":true})");
    EXPECT_TRUE(log().has_in_order({"L1 [wa] startRecordingService",
                                  "call setString rtc.api.start_recording_service rk",
                                  "event onApiResult rtc.api.start_recording_service 0"}));
    EXPECT_EQ(page->request(R"({"command":"stopRecording","recordingKey":"sk"})"),
              R"({"command":"stopRecording","code":true})");
    EXPECT_TRUE(log().has("call setString rtc.api.stop_recording_service sk"));
    EXPECT_EQ(page->request(R"({"command":"queryRecordingStatus"})"),
              R"({"command":"queryRecordingStatus","code":true,"status":1})");
    EXPECT_TRUE(log().has_in_order({"L1 [wa] refreshRecordingServiceStatus",
                                  "call setBool rtc.api.query_recording_service_status true"}));

    // Refused at once: the ordinary reply with the code's magnitude; refused later by the
    // engine: its signed code.
    page->engine_parameters(R"({"sim.fail_next":{"op":"setBool","code":-7}})");
    EXPECT_EQ(page->request(R"({"command":"queryRecordingStatus"})"),
              R"({"command":"queryRecordingStatus","code":7})");
    page->engine_parameters(
        R"({"sim.emit":{"callback":"api_result","api":"rtc.api.query_recording_service_status",)"
        R"("code":-7}})");
    EXPECT_TRUE(page->wait_for(R"({"command":"queryRecordingStatus","code":-7})"));
    EXPECT_TRUE(page->events_until_marker().empty());

    page->engine_parameters(R"({"sim.no_interface":[3]})");
    EXPECT_EQ(page->request(R"({"command":"startRecording","key":"k"})"),
              R"({"command":"startRecording","code":3})");
}

TEST(utf8_prefix, cuts_at_a_character_boundary) {
    using kelvo::rtc::web::utf8_prefix;
    EXPECT_EQ(utf8_prefix("Screen", 127), "Screen");
    const std::string ascii(127, 'a');
    EXPECT_EQ(utf8_prefix(ascii, 127), ascii);
    EXPECT_EQ(utf8_prefix(ascii + "b", 127), ascii);
    // Two-byte e-acute straddling the limit is left out whole.
    const std::string before(126, 'a');
    EXPECT_EQ(utf8_prefix(before + "\xC3\xA9", 127), before);
    EXPECT_EQ(utf8_prefix(std::string(125, 'a') + "\xC3\xA9" + "z", 127),
              std::string(125, 'a') + "\xC3\xA9");
    // Three- and four-byte characters.
    EXPECT_EQ(utf8_prefix(std::string(125, 'a') + "\xE2\x82\xAC", 127), std::string(125, 'a'));
    EXPECT_EQ(utf8_prefix(std::string(124, 'a') + "\xF0\x9F\x98\x80", 127), std::string(124, 'a'));
    EXPECT_EQ(utf8_prefix(std::string(123, 'a') + "\xF0\x9F\x98\x80" + "z", 127),
              std::string(123, 'a') + "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace test
}  // namespace kelvo
