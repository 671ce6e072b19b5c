// The consent prompt as the program's run holds it: besides asking, it can end its questions
// before the agent that waits for their answers goes.
#pragma once

#include "access/consent_prompt.h"

namespace kelvo {
namespace rtc {
namespace web {

class IClosableConsentPrompt : public IConsentPrompt {
public:
    // Answers every question still open as dismissed (what asks it is ended) and returns once no
    // answer is under way any more. A question asked after this is answered dismissed at once,
    // on the asking thread: only the program's end does that, when no server runs any more.
    virtual void close() = 0;

protected:
    ~IClosableConsentPrompt() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
