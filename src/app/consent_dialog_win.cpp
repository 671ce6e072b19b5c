#include "app/consent_dialog_win.h"

#include <memory>
#include <utility>

#include "app/consent_question.h"
#include "app/owned_dialog_win.h"
#include "app/win/resource.h"
#include "platform/win/wide_text.h"

namespace kelvo {
namespace rtc {
namespace web {

namespace {

const UINT_PTR answer_timer = 1;
// A page chooses when its question appears, so it could make it appear under a click the user
// meant for the page: "Allow" takes no click until the user has had a moment to see the dialog.
const UINT_PTR allow_timer = 2;

// The question of an open dialog and the answer it will give when it goes.
struct open_question {
    consent_question question;
    std::chrono::milliseconds answer_within;
    std::chrono::milliseconds allow_after;
    consent_answer answer = consent_answer::dismissed;
};

// Without "Remember my decision" the answer holds for now only: allowed for this run, or
// blocked while the site pauses.
consent_answer dialogAnswer(bool allow, bool remember) {
    if (allow) return remember ? consent_answer::allow_remembered : consent_answer::allow_once;
    return remember ? consent_answer::block_remembered : consent_answer::block_once;
}

void fillDialog(HWND dialog, const open_question& open) {
    SetDlgItemTextW(dialog, IDC_CONSENT_QUESTION,
                    wide_from_utf8(consent_question_text(open.question.origin)).c_str());
    EnableWindow(GetDlgItem(dialog, IDC_CONSENT_ALLOW), FALSE);
    SetTimer(dialog, allow_timer, static_cast<UINT>(open.allow_after.count()), nullptr);
    SetTimer(dialog, answer_timer, static_cast<UINT>(open.answer_within.count()), nullptr);
}

// "Allow" and "Block" answer; "Not now" and Escape (both IDCANCEL) leave the question
// unanswered.
BOOL onCommand(HWND dialog, open_question& open, WORD command) {
    if (command != IDC_CONSENT_ALLOW && command != IDC_CONSENT_BLOCK && command != IDCANCEL) {
        return FALSE;
    }
    if (command != IDCANCEL) {
        const bool remember = IsDlgButtonChecked(dialog, IDC_CONSENT_REMEMBER) == BST_CHECKED;
        open.answer = dialogAnswer(command == IDC_CONSENT_ALLOW, remember);
    }
    DestroyWindow(dialog);
    return TRUE;
}

BOOL onTimer(HWND dialog, open_question& open, UINT_PTR timer) {
    if (timer == allow_timer) {
        KillTimer(dialog, allow_timer);
        EnableWindow(GetDlgItem(dialog, IDC_CONSENT_ALLOW), TRUE);
        return TRUE;
    }
    open.answer = consent_answer::timed_out;
    DestroyWindow(dialog);
    return TRUE;
}

// Every way the dialog ends leads to its destruction, where the answer is given once.
INT_PTR CALLBACK consentProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* open = owned_dialog_state<open_question>(dialog, message, lparam);
    if (open == nullptr) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            fillDialog(dialog, *open);
            // No focus now: the user may be typing elsewhere. When they turn to the dialog
            // the focus goes to its first control, "Not now".
            return FALSE;
        case WM_COMMAND:
            return onCommand(dialog, *open, LOWORD(wparam));
        case WM_TIMER:
            return onTimer(dialog, *open, wparam);
        case WM_CLOSE:
            DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY: {
            KillTimer(dialog, answer_timer);
            KillTimer(dialog, allow_timer);
            const auto ended = take_owned_dialog_state<open_question>(dialog);
            ended->question.answered(ended->answer);
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

void open_consent_dialog(HWND owner, consent_question question,
                         std::chrono::milliseconds answer_within,
                         std::chrono::milliseconds allow_after) {
    auto open = std::make_unique<open_question>(
        open_question{std::move(question), answer_within, allow_after});
    // Shown without taking the focus from what the user is doing; its taskbar button flashes
    // until they turn to it.
    HWND dialog = open_owned_dialog(owner, IDD_CONSENT, consentProcedure, open, SW_SHOWNOACTIVATE);
    if (dialog == nullptr) {
        open->question.answered(consent_answer::unasked);
        return;
    }
    FLASHWINFO flash{sizeof(FLASHWINFO), dialog, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
