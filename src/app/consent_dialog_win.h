// The dialog that asks the user about one site on Windows, owned by the control window and run
// by its loop on the main thread. "Allow" and "Block" with "Remember my decision" (unchecked at
// first) give the answer; "Not now" (the default button: Enter and Escape), the close box and
// the window's end dismiss the question, and `answer_within` without an answer times it out.
// It appears without taking the focus. The answer is given on the main thread once the dialog
// is gone, also when it goes with its owner.
#pragma once

#include <windows.h>

#include <chrono>

#include "app/queued_consent_prompt.h"

namespace kelvo {
namespace rtc {
namespace web {

// Shows the dialog for `question` (answered unasked at once when it cannot be shown).
// "Allow" takes clicks from `allow_after` on.
void open_consent_dialog(HWND owner, consent_question question,
                         std::chrono::milliseconds answer_within,
                         std::chrono::milliseconds allow_after);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
