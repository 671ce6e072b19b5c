// The dialog that asks the user about one site on Windows, owned by the control window and run
// by its loop on the main thread. "Allow" and "Block" with "Remember my decision" (checked, or
// for the origin "null" unchecked and disabled with the reason) give the answer; the close box,
// Escape or `answer_within` without an answer dismiss the question. The answer is given on the
// main thread once the dialog is gone, also when it goes with its owner.
#pragma once

#include <windows.h>

#include <chrono>

#include "app/queued_consent_prompt.h"

namespace kelvo {
namespace rtc {
namespace web {

// Shows the dialog for `question` (answered dismissed at once when it cannot be shown).
void open_consent_dialog(HWND owner, consent_question question,
                         std::chrono::milliseconds answer_within);

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
