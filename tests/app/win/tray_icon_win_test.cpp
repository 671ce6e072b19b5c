// Windows only: the running agent's notification-area icon follows the show message and comes
// back after the shell restarts; the tooltip names the engine version. The control window shows
// the icon while a site uses something, whatever the page asked, with a tooltip naming the use.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "agent/engine_library.h"
#include "app/agent_process.h"
#include "app/control_window_win.h"
#include "app/win/control_window_harness.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {
namespace {

using kelvo::rtc::web::tray_tooltip_text;
using kelvo::rtc::web::device_use;

const UINT icon_id = 102;

HWND agentWindow() {
    return FindWindowW(L"Kelvo Web Agent", nullptr);
}

// The shell modifies only an icon it holds, so an empty modification tells whether it is there.
bool iconPresent() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = agentWindow();
    data.uID = icon_id;
    return data.hWnd != nullptr && Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// What a shell restart does to the icon: the shell forgets it.
bool forgetIcon() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = agentWindow();
    data.uID = icon_id;
    return Shell_NotifyIconW(NIM_DELETE, &data) != FALSE;
}

class tray_icon_win_test : public ::testing::Test {
protected:
    tray_icon_win_test() { setup = setup_on_free_ports(folder.path()); }

    void close_instance(agent_process& instance) {
        agent_process killer(setup, {"-kill"});
        EXPECT_EQ(killer.wait_exit(), 0);
        EXPECT_EQ(instance.wait_exit(), 0);
        EXPECT_FALSE(iconPresent());
    }

    agent_test_turn turn;
    temporary_folder folder;
    agent_setup setup;
};

TEST_F(tray_icon_win_test, show_message_zero_removes_the_icon_and_one_restores_it) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    ASSERT_TRUE(wait_until(iconPresent));
    ASSERT_TRUE(post_show_message(setup, 0));
    EXPECT_TRUE(wait_until([] { return !iconPresent(); }));
    ASSERT_TRUE(post_show_message(setup, 1));
    EXPECT_TRUE(wait_until(iconPresent));
    close_instance(instance);
}

TEST_F(tray_icon_win_test, taskbar_created_adds_the_requested_icon_again) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    ASSERT_TRUE(wait_until(iconPresent));
    ASSERT_TRUE(forgetIcon());
    EXPECT_FALSE(iconPresent());
    ASSERT_TRUE(PostMessageW(agentWindow(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0));
    EXPECT_TRUE(wait_until(iconPresent));
    close_instance(instance);
}

// Reported on a thread of its own, as the servers and the engine do.
void report_use(rtc::web::tray_usage_indicator& usage, const std::string& origin,
                const device_use& use) {
    std::thread([&] { usage.show_use(origin, use); }).join();
}

TEST_F(tray_icon_win_test, use_shows_the_icon_and_names_the_site_in_its_tooltip) {
    use_test_program_resources();
    rtc::web::queued_consent_prompt prompt;
    rtc::web::tray_usage_indicator usage;
    rtc::web::control_window window(nullptr, prompt, usage, rtc::web::site_list{});
    ASSERT_TRUE(pump_until(iconPresent));
    const std::wstring plain_tooltip =
        tray_tooltip_text(kelvo::rtc::web::engine_library::instance().version());
    EXPECT_EQ(window.icon_tooltip(), plain_tooltip);
    // The page hides the icon; a site starts using the camera.
    PostMessageW(agentWindow(), rtc::web::show_tray_icon_message, 0, 0);
    ASSERT_TRUE(pump_until([] { return !iconPresent(); }));
    device_use camera;
    camera.camera = true;
    report_use(usage, "https://example.com", camera);
    ASSERT_TRUE(pump_until(iconPresent));
    EXPECT_EQ(window.icon_tooltip(),
              L"Kelvo Web Agent \u2013 https://example.com is using the camera");

    // Many sites: the tooltip is cut to what the shell takes.
    for (int site = 0; site < 5; ++site) {
        report_use(usage, "https://site" + std::to_string(site) + ".example", camera);
    }
    EXPECT_TRUE(pump_until([&] { return window.icon_tooltip().size() == 127; }));

    for (int site = 0; site < 5; ++site) {
        report_use(usage, "https://site" + std::to_string(site) + ".example", device_use{});
    }
    report_use(usage, "https://example.com", device_use{});
    EXPECT_TRUE(pump_until([] { return !iconPresent(); }));
    EXPECT_EQ(window.icon_tooltip(), plain_tooltip);
    window.destroy();
}

TEST(tray_tooltip_text, names_the_engine_version_or_ends_with_the_blank) {
    EXPECT_EQ(tray_tooltip_text("4.2.1 build 77"), L"Kelvo Web Agent 4.2.1 build 77");
    EXPECT_EQ(tray_tooltip_text(nullptr), L"Kelvo Web Agent ");
    EXPECT_EQ(tray_tooltip_text(""), L"Kelvo Web Agent ");
    // The version is converted into 64 characters with the terminator.
    const std::wstring long_tip = tray_tooltip_text(std::string(300, 'v').c_str());
    EXPECT_EQ(long_tip, L"Kelvo Web Agent " + std::wstring(63, L'v'));
}

TEST(tray_tooltip_text, uses_the_stand_in_engine_version) {
    const char* version = kelvo::rtc::web::engine_library::instance().version();
    ASSERT_NE(version, nullptr);
    const std::string text(version);
    EXPECT_EQ(tray_tooltip_text(version),
              L"Kelvo Web Agent " + std::wstring(text.begin(), text.end()));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
