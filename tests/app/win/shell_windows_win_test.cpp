// Windows only: which processes count as the shell and which windows may be shared.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/win/shell_windows.h"

namespace kelvo {
namespace test {
namespace {

using kelvo::rtc::web::is_shareable_window;
using kelvo::rtc::web::process_entry;
using kelvo::rtc::web::shell_process_ids;

TEST(shell_windows, explorers_and_their_direct_children_are_the_shell) {
    const std::vector<process_entry> processes = {
        {4, 0, L"System"},
        {10, 4, L"explorer.exe"},
        {11, 10, L"notepad.exe"},       // started from the shell
        {12, 11, L"helper.exe"},        // a grandchild: not the shell's own
        {20, 4, L"explorer.exe"},
        {21, 20, L"calc.exe"},
        {30, 4, L"EXPLORER.EXE.bak"},   // only the exact name counts
        {31, 30, L"other.exe"},
    };
    EXPECT_EQ(shell_process_ids(processes), (std::vector<uint32_t>{10, 20, 11, 21}));
    EXPECT_TRUE(shell_process_ids({{1, 0, L"svchost.exe"}, {2, 1, L"app.exe"}}).empty());
}

TEST(shell_windows, only_visible_framed_windows_that_are_not_minimised_are_shared) {
    EXPECT_TRUE(is_shareable_window(WS_VISIBLE | WS_SYSMENU, false));
    EXPECT_TRUE(is_shareable_window(WS_VISIBLE | WS_POPUP, false));
    EXPECT_TRUE(is_shareable_window(WS_VISIBLE | WS_OVERLAPPEDWINDOW, false));
    EXPECT_FALSE(is_shareable_window(WS_VISIBLE | WS_POPUP, true));
    EXPECT_FALSE(is_shareable_window(WS_SYSMENU | WS_POPUP, false));
    EXPECT_FALSE(is_shareable_window(WS_VISIBLE | WS_CHILD | WS_CAPTION, false));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
