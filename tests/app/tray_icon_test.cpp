// The icon's show/hide state against a shell that records requests and can refuse them; the icon
// and its tooltip while sites use something; the usage indicator that hands the use over to the
// main thread.
#include "app/tray_icon.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/tray_usage_indicator.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

class recording_shell : public ITrayShell {
public:
    bool add_icon() override {
        calls.push_back("add");
        if (refuse_add) return false;
        icon_present = true;
        shown_tooltip = tray->tooltip();
        return true;
    }
    bool delete_icon() override {
        calls.push_back("delete");
        if (refuse_delete) return false;
        icon_present = false;
        return true;
    }
    void update_tooltip() override {
        calls.push_back("tooltip");
        shown_tooltip = tray->tooltip();
    }
    bool has_menu() const override { return menu; }
    void load_menu() override {
        calls.push_back("load menu");
        menu = true;
    }
    void destroy_menu() override { menu = false; }

    std::vector<std::string> calls;
    bool refuse_add = false;
    bool refuse_delete = false;
    bool icon_present = false;
    bool menu = false;
    // What the shell shows: the tray's tooltip when the icon was added or last updated.
    const tray_icon* tray = nullptr;
    std::string shown_tooltip;
};

using calls_t = std::vector<std::string>;

class tray_icon_test : public ::testing::Test {
protected:
    tray_icon_test() { shell.tray = &tray; }

    recording_shell shell;
    tray_icon tray{shell};
};

const char camera_use[] = "https://example.com is using the camera";
// The en dash, U+2013, in UTF-8.
const char camera_tooltip[] =
    "Kelvo Web Agent \xE2\x80\x93 https://example.com is using the camera";

TEST_F(tray_icon_test, show_one_adds_icon_with_menu_and_show_zero_removes_both) {
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_FALSE(tray.show_requested());

    tray.on_show_message(1);
    EXPECT_TRUE(tray.icon_shown());
    EXPECT_TRUE(tray.show_requested());
    EXPECT_TRUE(shell.menu);
    EXPECT_EQ(shell.calls, (calls_t{"load menu", "add"}));

    // Already shown: a second request asks nothing of the shell.
    tray.on_show_message(1);
    EXPECT_EQ(shell.calls.size(), 2u);

    tray.on_show_message(0);
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_FALSE(tray.show_requested());
    EXPECT_FALSE(shell.menu);
    EXPECT_FALSE(shell.icon_present);
    EXPECT_EQ(shell.calls.back(), "delete");

    // Any non-zero value asks for the icon.
    tray.on_show_message(7);
    EXPECT_TRUE(tray.icon_shown());
    EXPECT_TRUE(shell.icon_present);
}

TEST_F(tray_icon_test, show_zero_without_icon_asks_nothing_of_the_shell) {
    tray.on_show_message(0);
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(tray.icon_shown());
}

TEST_F(tray_icon_test, refused_add_keeps_icon_absent_and_next_request_retries) {
    shell.refuse_add = true;
    tray.on_show_message(1);
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_TRUE(tray.show_requested());
    // The menu was loaded for the attempt and stays loaded: it is not loaded twice.
    EXPECT_TRUE(shell.menu);

    shell.refuse_add = false;
    tray.on_show_message(1);
    EXPECT_TRUE(tray.icon_shown());
    EXPECT_EQ(shell.calls, (calls_t{"load menu", "add", "add"}));

    // The taskbar message retries a refused add too.
    tray.on_show_message(0);
    shell.refuse_add = true;
    tray.on_show_message(1);
    EXPECT_FALSE(tray.icon_shown());
    shell.refuse_add = false;
    tray.on_taskbar_created();
    EXPECT_TRUE(tray.icon_shown());
}

TEST_F(tray_icon_test, taskbar_restart_readds_only_when_requested) {
    tray.on_taskbar_created();
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_TRUE(shell.calls.empty());

    tray.on_show_message(1);
    // The restarted shell lost the icon: the state forgets it and adds it again.
    shell.icon_present = false;
    tray.on_taskbar_created();
    EXPECT_TRUE(tray.icon_shown());
    EXPECT_TRUE(shell.icon_present);
    EXPECT_EQ(shell.calls, (calls_t{"load menu", "add", "add"}));

    tray.on_show_message(0);
    shell.calls.clear();
    tray.on_taskbar_created();
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(tray_icon_test, refused_delete_keeps_icon_shown_but_destroys_menu) {
    tray.on_show_message(1);
    shell.refuse_delete = true;
    tray.on_show_message(0);
    EXPECT_TRUE(tray.icon_shown());
    EXPECT_FALSE(shell.menu);

    // The next show finds the icon still there and adds nothing.
    shell.calls.clear();
    tray.on_show_message(1);
    EXPECT_TRUE(shell.calls.empty());
}

TEST_F(tray_icon_test, destroy_removes_icon_and_menu_and_forgets_the_request) {
    tray.on_show_message(1);
    tray.destroy();
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_FALSE(tray.show_requested());
    EXPECT_FALSE(shell.icon_present);
    EXPECT_FALSE(shell.menu);

    // After destruction a shell restart brings nothing back.
    tray.on_taskbar_created();
    EXPECT_FALSE(shell.icon_present);
}

TEST_F(tray_icon_test, destroy_without_icon_only_drops_the_menu) {
    shell.refuse_add = true;
    tray.on_show_message(1);
    shell.calls.clear();
    tray.destroy();
    EXPECT_TRUE(shell.calls.empty());
    EXPECT_FALSE(shell.menu);
}

TEST_F(tray_icon_test, use_shows_the_hidden_icon_until_it_ends) {
    tray.on_show_message(0);
    tray.on_usage(camera_use);
    EXPECT_TRUE(tray.icon_shown());
    EXPECT_FALSE(tray.show_requested());
    EXPECT_EQ(tray.tooltip(), camera_tooltip);
    EXPECT_EQ(shell.shown_tooltip, camera_tooltip);
    EXPECT_EQ(shell.calls, (calls_t{"load menu", "add"}));

    // The page asking to hide the icon meanwhile changes nothing the user sees.
    tray.on_show_message(0);
    EXPECT_TRUE(shell.icon_present);
    EXPECT_TRUE(shell.menu);

    tray.on_usage("");
    EXPECT_FALSE(tray.icon_shown());
    EXPECT_FALSE(shell.icon_present);
    EXPECT_FALSE(shell.menu);
    EXPECT_EQ(tray.tooltip(), "Kelvo Web Agent");
}

TEST_F(tray_icon_test, use_on_the_shown_icon_changes_only_its_tooltip) {
    tray.on_show_message(1);
    shell.calls.clear();
    tray.on_usage(camera_use);
    tray.on_usage(camera_use);
    EXPECT_EQ(shell.calls, calls_t{"tooltip"});
    EXPECT_EQ(shell.shown_tooltip, camera_tooltip);

    // The use ends: the icon the page asked for stays, with the plain tooltip.
    tray.on_usage("");
    EXPECT_TRUE(shell.icon_present);
    EXPECT_EQ(shell.calls, (calls_t{"tooltip", "tooltip"}));
    EXPECT_EQ(shell.shown_tooltip, "Kelvo Web Agent");
}

TEST_F(tray_icon_test, use_retries_a_refused_add_and_survives_a_shell_restart) {
    shell.refuse_add = true;
    tray.on_usage(camera_use);
    EXPECT_FALSE(tray.icon_shown());
    shell.refuse_add = false;
    tray.on_usage("https://example.com is using the camera and screen sharing");
    EXPECT_TRUE(shell.icon_present);
    EXPECT_EQ(shell.shown_tooltip,
              "Kelvo Web Agent \xE2\x80\x93 https://example.com is using the camera and screen "
              "sharing");

    shell.icon_present = false;
    tray.on_taskbar_created();
    EXPECT_TRUE(shell.icon_present);

    tray.destroy();
    EXPECT_FALSE(shell.icon_present);
    EXPECT_FALSE(tray.in_use());
    tray.on_taskbar_created();
    EXPECT_FALSE(shell.icon_present);
}

TEST(tray_usage_indicator, usage_text_names_each_site_and_what_it_uses) {
    tray_usage_indicator usage;
    EXPECT_EQ(usage.usage_text(), "");
    device_use all;
    all.camera = all.screen = all.recording = true;
    device_use camera_and_screen;
    camera_and_screen.camera = camera_and_screen.screen = true;
    device_use recording;
    recording.recording = true;
    usage.show_use("https://c.example", all);
    usage.show_use("https://a.example", camera_and_screen);
    usage.show_use("https://b.example", recording);
    EXPECT_EQ(usage.usage_text(),
              "https://a.example is using the camera and screen sharing; "
              "https://b.example is using a recording; "
              "https://c.example is using the camera, screen sharing and a recording");

    usage.show_use("https://a.example", device_use{});
    usage.show_use("https://c.example", recording);
    EXPECT_EQ(usage.usage_text(),
              "https://b.example is using a recording; https://c.example is using a recording");
}

TEST(tray_usage_indicator, wakes_the_main_thread_once_for_each_change_from_any_thread) {
    tray_usage_indicator usage;
    std::atomic<int> wakes{0};
    usage.wakeup().set([&wakes] { ++wakes; });
    device_use camera;
    camera.camera = true;
    std::vector<std::thread> reporters;
    for (int site = 0; site < 4; ++site) {
        reporters.emplace_back([&usage, &camera, site] {
            const std::string origin = "https://site" + std::to_string(site) + ".example";
            // Reported again and again (each frame, say), the same use is one change.
            for (int repeat = 0; repeat < 50; ++repeat) usage.show_use(origin, camera);
        });
    }
    for (auto& reporter : reporters) reporter.join();
    EXPECT_EQ(wakes.load(), 4);

    usage.show_use("https://site0.example", device_use{});
    usage.show_use("https://unknown.example", device_use{});
    EXPECT_EQ(wakes.load(), 5);

    // A cleared wake-up is never called again.
    usage.wakeup().set(nullptr);
    usage.show_use("https://site0.example", camera);
    EXPECT_EQ(wakes.load(), 5);
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
