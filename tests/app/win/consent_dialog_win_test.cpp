// Windows only: the control window asks about sites in dialogs it owns, found and pressed here as
// another program would: "Allow" and "Block" with and without "Remember my decision", "Not now"
// as the default that Enter answers, a dialog that appears without taking the focus, a dialog
// left alone, Escape, the close box and the window's end; the "Sites..." window lists the
// remembered decisions and forgets one.
#include <winsock2.h>
#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/consent_answers.h"
#include "app/win/control_window_harness.h"
#include "app/win/resource.h"

namespace kelvo {
namespace test {
namespace {

using namespace std::chrono_literals;
using rtc::web::control_window;
using rtc::web::queued_consent_prompt;
using rtc::web::site_decision;
using rtc::web::site_list;
using rtc::web::tray_usage_indicator;

std::wstring window_text(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

// The visible top-level dialogs titled `title` that `owner` owns.
std::vector<HWND> owned_dialogs(HWND owner, const wchar_t* title) {
    struct search {
        HWND owner;
        const wchar_t* title;
        std::vector<HWND> found;
    } state{owner, title, {}};
    EnumWindows(
        [](HWND candidate, LPARAM context) -> BOOL {
            auto& state = *reinterpret_cast<search*>(context);
            wchar_t class_name[64] = {};
            GetClassNameW(candidate, class_name, 64);
            if (std::wstring(class_name) == L"#32770" && window_text(candidate) == state.title &&
                GetWindow(candidate, GW_OWNER) == state.owner && IsWindowVisible(candidate)) {
                state.found.push_back(candidate);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&state));
    return state.found;
}

// Waits for `count` consent dialogs; returns them by the origin their question names.
std::map<std::string, HWND> consent_dialogs(HWND owner, size_t count) {
    std::vector<HWND> found;
    wait_until([&] { return (found = owned_dialogs(owner, L"Kelvo Web Agent")).size() == count; });
    std::map<std::string, HWND> by_origin;
    for (HWND dialog : found) {
        const std::wstring question = window_text(GetDlgItem(dialog, IDC_CONSENT_QUESTION));
        by_origin[std::string(question.begin(), question.begin() + question.find(L' '))] = dialog;
    }
    return by_origin;
}

void click(HWND dialog, int control) {
    SendMessageW(GetDlgItem(dialog, control), BM_CLICK, 0, 0);
}

bool remember_checked(HWND dialog) {
    return SendMessageW(GetDlgItem(dialog, IDC_CONSENT_REMEMBER), BM_GETCHECK, 0, 0) ==
           BST_CHECKED;
}

class consent_dialog_win_test : public ::testing::Test {
protected:
    consent_dialog_win_test() { use_test_program_resources(); }

    // Asks about each origin from a thread of its own, as the servers' threads do.
    void ask_from_servers(queued_consent_prompt& prompt, const std::vector<std::string>& origins) {
        std::thread server([&] {
            for (const auto& origin : origins) prompt.ask(origin, answers.callback_for(origin));
        });
        server.join();
    }

    std::vector<consent_answer> only(consent_answer answer) { return {answer}; }

    agent_test_turn turn;
    tray_usage_indicator usage;
    consent_answers answers;
};

// "Allow" takes clicks a moment after the dialog appears.
void click_when_enabled(HWND dialog, int control) {
    EXPECT_TRUE(wait_until([&] { return IsWindowEnabled(GetDlgItem(dialog, control)) != FALSE; }));
    click(dialog, control);
}

TEST_F(consent_dialog_win_test, buttons_and_remember_box_decide_the_answer) {
    queued_consent_prompt prompt(60s, 100ms);
    control_window window(nullptr, prompt, usage, site_list{});
    const std::vector<std::pair<int, bool>> presses = {
        {IDC_CONSENT_ALLOW, false}, {IDC_CONSENT_ALLOW, true},
        {IDC_CONSENT_BLOCK, false}, {IDC_CONSENT_BLOCK, true}};
    run_window_loop(window, [&](HWND owner) {
        // One at a time, as the agent asks.
        for (size_t i = 0; i < presses.size(); ++i) {
            const std::string origin = "https://" + std::string(1, char('a' + i)) + ".example";
            ask_from_servers(prompt, {origin});
            auto dialogs = consent_dialogs(owner, 1);
            ASSERT_EQ(dialogs.count(origin), 1u);
            HWND dialog = dialogs[origin];
            EXPECT_FALSE(remember_checked(dialog));
            if (presses[i].second) click(dialog, IDC_CONSENT_REMEMBER);
            click_when_enabled(dialog, presses[i].first);
            EXPECT_TRUE(answers.wait_for(i + 1));
            EXPECT_TRUE(wait_until([&] { return owned_dialogs(owner, L"Kelvo Web Agent").empty(); }));
        }
    });
    EXPECT_EQ(answers.about("https://a.example"), only(consent_answer::allow_once));
    EXPECT_EQ(answers.about("https://b.example"), only(consent_answer::allow_remembered));
    EXPECT_EQ(answers.about("https://c.example"), only(consent_answer::block_once));
    EXPECT_EQ(answers.about("https://d.example"), only(consent_answer::block_remembered));
    // Given on the window's thread.
    for (const auto& thread : answers.answering_threads()) {
        EXPECT_EQ(thread, std::this_thread::get_id());
    }
}

// A page decides when its question appears: the dialog takes neither the focus nor a click on
// "Allow" at once, and Enter answers the safe "Not now".
TEST_F(consent_dialog_win_test, not_now_is_the_default_and_the_dialog_takes_no_focus) {
    queued_consent_prompt prompt(60s, 1h);
    control_window window(nullptr, prompt, usage, site_list{});
    run_window_loop(window, [&](HWND owner) {
        ask_from_servers(prompt, {"https://sudden.example"});
        auto found = consent_dialogs(owner, 1);
        ASSERT_EQ(found.size(), 1u);
        HWND dialog = found.begin()->second;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_CONSENT_ALLOW)));
        EXPECT_NE(GetForegroundWindow(), dialog);
        EXPECT_EQ(LOWORD(SendMessageW(dialog, DM_GETDEFID, 0, 0)), IDCANCEL);
        EXPECT_EQ(window_text(GetDlgItem(dialog, IDCANCEL)), L"&Not now");
        EXPECT_FALSE(remember_checked(dialog));
        // Keys reach the dialog through the window's loop.
        PostMessageW(GetDlgItem(dialog, IDC_CONSENT_REMEMBER), WM_KEYDOWN, VK_RETURN, 0);
        EXPECT_TRUE(answers.wait_for(1));
    });
    EXPECT_EQ(answers.about("https://sudden.example"), only(consent_answer::dismissed));
}

TEST_F(consent_dialog_win_test, dialog_left_alone_times_out) {
    queued_consent_prompt prompt(500ms);
    control_window window(nullptr, prompt, usage, site_list{});
    run_window_loop(window, [&](HWND owner) {
        ask_from_servers(prompt, {"https://slow.example"});
        EXPECT_EQ(consent_dialogs(owner, 1).size(), 1u);
        EXPECT_TRUE(answers.wait_for(1));
        EXPECT_TRUE(owned_dialogs(owner, L"Kelvo Web Agent").empty());
    });
    EXPECT_EQ(answers.about("https://slow.example"), only(consent_answer::timed_out));
}

TEST_F(consent_dialog_win_test, escape_close_box_and_the_window_end_dismiss) {
    queued_consent_prompt prompt;
    control_window window(nullptr, prompt, usage, site_list{});
    run_window_loop(window, [&](HWND owner) {
        ask_from_servers(prompt, {"https://escape.example", "https://close.example",
                                  "https://open.example"});
        auto dialogs = consent_dialogs(owner, 3);
        ASSERT_EQ(dialogs.size(), 3u);
        HWND remember = GetDlgItem(dialogs["https://escape.example"], IDC_CONSENT_REMEMBER);
        PostMessageW(remember, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(dialogs["https://close.example"], WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(answers.wait_for(2));
        // The last one is still open when the window closes.
    });
    EXPECT_TRUE(answers.wait_for(3, 0ms));
    for (const char* origin :
         {"https://escape.example", "https://close.example", "https://open.example"}) {
        EXPECT_EQ(answers.about(origin), only(consent_answer::dismissed)) << origin;
    }
}

TEST_F(consent_dialog_win_test, questions_asked_before_the_window_are_shown_by_it) {
    queued_consent_prompt prompt;
    ask_from_servers(prompt, {"https://early.example"});
    control_window window(nullptr, prompt, usage, site_list{});
    run_window_loop(window, [&](HWND owner) {
        auto dialogs = consent_dialogs(owner, 1);
        ASSERT_EQ(dialogs.count("https://early.example"), 1u);
        click(dialogs["https://early.example"], IDC_CONSENT_REMEMBER);
        click(dialogs["https://early.example"], IDC_CONSENT_BLOCK);
        EXPECT_TRUE(answers.wait_for(1));
    });
    EXPECT_EQ(answers.about("https://early.example"), only(consent_answer::block_remembered));
}

// The remembered decisions as a site_decisions would give them, used on the window's thread.
class fake_sites {
public:
    site_list wiring() {
        return {[this] {
                    std::lock_guard<std::mutex> hold(lock_);
                    return std::vector<std::pair<std::string, site_decision>>(decisions_.begin(),
                                                                              decisions_.end());
                },
                [this](const std::string& origin) {
                    std::lock_guard<std::mutex> hold(lock_);
                    decisions_.erase(origin);
                }};
    }
    size_t count() {
        std::lock_guard<std::mutex> hold(lock_);
        return decisions_.size();
    }

private:
    std::mutex lock_;
    std::map<std::string, site_decision> decisions_ = {
        {"https://a.example", site_decision::allowed},
        {"https://b.example", site_decision::blocked}};
};

std::wstring list_line(HWND list, int index) {
    wchar_t text[256] = {};
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

TEST_F(consent_dialog_win_test, sites_window_lists_the_decisions_and_forgets_the_chosen_one) {
    queued_consent_prompt prompt;
    fake_sites sites;
    control_window window(nullptr, prompt, usage, sites.wiring());
    run_window_loop(window, [&](HWND owner) {
        const wchar_t title[] = L"Sites - Kelvo Web Agent";
        PostMessageW(owner, WM_COMMAND, IDM_SITES, 0);
        ASSERT_TRUE(wait_until([&] { return owned_dialogs(owner, title).size() == 1; }));
        HWND dialog = owned_dialogs(owner, title).front();
        HWND list = GetDlgItem(dialog, IDC_SITES_LIST);
        ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(list_line(list, 0), L"https://a.example (allowed)");
        EXPECT_EQ(list_line(list, 1), L"https://b.example (blocked)");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SITES_FORGET)));

        // The user chooses the second line, as a click would.
        SendMessageW(list, LB_SETCURSEL, 1, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SITES_LIST, LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(list));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_SITES_FORGET)));
        click(dialog, IDC_SITES_FORGET);
        EXPECT_EQ(sites.count(), 1u);
        ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
        EXPECT_EQ(list_line(list, 0), L"https://a.example (allowed)");

        // Chosen again, the menu item brings the same window forward.
        PostMessageW(owner, WM_COMMAND, IDM_SITES, 0);
        SendMessageW(owner, WM_NULL, 0, 0);
        Sleep(200);
        EXPECT_EQ(owned_dialogs(owner, title).size(), 1u);
    });
}

}  // namespace
}  // namespace test
}  // namespace kelvo
