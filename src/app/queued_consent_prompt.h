// A consent prompt whose questions the main thread takes and asks: ask() queues the question and
// wakes the main thread, which shows it and answers it there (on Windows the control window, a
// dialog for each question). Nothing in it knows the platform, so the hand-off between threads
// is checked under the thread sanitizer as well.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/closable_consent_prompt.h"
#include "app/main_thread_wakeup.h"
#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

struct consent_question {
    std::string origin;
    std::function<void(consent_answer)> answered;
};

class queued_consent_prompt : public IClosableConsentPrompt {
public:
    // `answer_within`: how long the main thread waits for the user's answer to each question.
    // `allow_after`: how long after a question appears it may be allowed (a page chooses when
    // its question appears, and could make it appear under a click the user meant for the page).
    explicit queued_consent_prompt(
        std::chrono::milliseconds answer_within = std::chrono::seconds(60),
        std::chrono::milliseconds allow_after = std::chrono::seconds(1));
    // Closes: the questions still queued are dismissed.
    ~queued_consent_prompt();
    queued_consent_prompt(const queued_consent_prompt&) = delete;
    queued_consent_prompt& operator=(const queued_consent_prompt&) = delete;

    void ask(const std::string& origin, std::function<void(consent_answer)> answered) override;
    // Dismisses the questions still queued, on the calling thread (the main thread). The
    // questions already taken are the main thread's to end.
    void close() override;

    std::chrono::milliseconds answer_within() const { return answer_within_; }
    std::chrono::milliseconds allow_after() const { return allow_after_; }
    // Woken after each question is queued. The main thread takes the questions after it set the
    // wake-up, since some may have been queued before.
    main_thread_wakeup& wakeup() { return wakeup_; }
    // The main thread: the questions queued since it last took them, oldest first.
    std::vector<consent_question> take_questions() KELVO_EXCLUDES(lock_);

private:
    const std::chrono::milliseconds answer_within_;
    const std::chrono::milliseconds allow_after_;
    main_thread_wakeup wakeup_;
    // The queue lock: the queued questions and whether the prompt is closed. A leaf: no answer is
    // given and nobody is woken while it is held.
    checked_mutex lock_;
    bool closed_ KELVO_GUARDED_BY(lock_) = false;
    std::vector<consent_question> queued_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
