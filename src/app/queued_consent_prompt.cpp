#include "app/queued_consent_prompt.h"

#include <utility>

namespace kelvo {
namespace rtc {
namespace web {

queued_consent_prompt::queued_consent_prompt(std::chrono::milliseconds answer_within,
                                             std::chrono::milliseconds allow_after)
    : answer_within_(answer_within), allow_after_(allow_after) {}

queued_consent_prompt::~queued_consent_prompt() {
    close();
}

void queued_consent_prompt::ask(const std::string& origin,
                                std::function<void(consent_answer)> answered) {
    bool queued = false;
    {
        checked_lock hold(lock_);
        if (!closed_) {
            queued_.push_back({origin, std::move(answered)});
            queued = true;
        }
    }
    if (queued) {
        wakeup_.wake();
    } else {
        answered(consent_answer::dismissed);
    }
}

void queued_consent_prompt::close() {
    std::vector<consent_question> unasked;
    {
        checked_lock hold(lock_);
        closed_ = true;
        unasked.swap(queued_);
    }
    for (auto& question : unasked) question.answered(consent_answer::dismissed);
}

std::vector<consent_question> queued_consent_prompt::take_questions() {
    std::vector<consent_question> taken;
    checked_lock hold(lock_);
    taken.swap(queued_);
    return taken;
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
