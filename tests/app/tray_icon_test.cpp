// The icon's show/hide state against a shell that records requests and can refuse them.
#include "app/tray_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
        return true;
    }
    bool delete_icon() override {
        calls.push_back("delete");
        if (refuse_delete) return false;
        icon_present = false;
        return true;
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
};

using calls_t = std::vector<std::string>;

class tray_icon_test : public ::testing::Test {
protected:
    recording_shell shell;
    tray_icon tray{shell};
};

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

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
