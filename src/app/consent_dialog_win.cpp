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

// The question of an open dialog and the answer it will give when it goes.
struct open_question {
    consent_question question;
    std::chrono::milliseconds answer_within;
    consent_answer answer = consent_answer::dismissed;
};

// Blocking without remembering blocks for now only: the question stays unanswered. For "null"
// the box is never checked, so allowing it holds for this run.
consent_answer dialogAnswer(bool allow, bool remember) {
    if (allow) return remember ? consent_answer::allow_remembered : consent_answer::allow_once;
    return remember ? consent_answer::block_remembered : consent_answer::dismissed;
}

void fillDialog(HWND dialog, const open_question& open) {
    const std::string& origin = open.question.origin;
    SetDlgItemTextW(dialog, IDC_CONSENT_QUESTION,
                    wide_from_utf8(consent_question_text(origin)).c_str());
    const bool shared = is_shared_null_origin(origin);
    CheckDlgButton(dialog, IDC_CONSENT_REMEMBER, shared ? BST_UNCHECKED : BST_CHECKED);
    if (shared) {
        EnableWindow(GetDlgItem(dialog, IDC_CONSENT_REMEMBER), FALSE);
        SetDlgItemTextW(dialog, IDC_CONSENT_NOTE, wide_from_utf8(null_origin_note()).c_str());
    }
    SetTimer(dialog, answer_timer, static_cast<UINT>(open.answer_within.count()), nullptr);
}

// "Allow" and "Block" answer; Escape (IDCANCEL) leaves the question unanswered.
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

// Every way the dialog ends leads to its destruction, where the answer is given once.
INT_PTR CALLBACK consentProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* open = owned_dialog_state<open_question>(dialog, message, lparam);
    if (open == nullptr) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            fillDialog(dialog, *open);
            return TRUE;
        case WM_COMMAND:
            return onCommand(dialog, *open, LOWORD(wparam));
        case WM_TIMER:
        case WM_CLOSE:
            DestroyWindow(dialog);
            return TRUE;
        case WM_DESTROY: {
            KillTimer(dialog, answer_timer);
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
                         std::chrono::milliseconds answer_within) {
    auto open = std::make_unique<open_question>(open_question{std::move(question), answer_within});
    if (open_owned_dialog(owner, IDD_CONSENT, consentProcedure, open) == nullptr) {
        open->question.answered(consent_answer::dismissed);
    }
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
