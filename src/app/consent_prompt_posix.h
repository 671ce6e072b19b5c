// The consent prompt on POSIX systems: each question runs the question program (see
// question_program_posix.h) on a thread of its own, so the asking thread never waits for the
// user.
#pragma once

#include <chrono>
#include <functional>
#include <list>
#include <string>
#include <thread>

#include "app/closable_consent_prompt.h"
#include "app/question_program_posix.h"
#include "base/thread_annotations.h"
#include "platform/posix/program_runner.h"

namespace kelvo {
namespace rtc {
namespace web {

class program_consent_prompt : public IClosableConsentPrompt {
public:
    // A program that has not answered within `answer_within` is killed: the question has then
    // timed out. Without a program (kind none) each question is answered unasked at once, with
    // unasked_line() on standard error.
    explicit program_consent_prompt(
        question_program program = question_program_from_environment(),
        std::chrono::milliseconds answer_within = std::chrono::seconds(60));
    // Closes: the programs still asking are killed, their questions dismissed.
    ~program_consent_prompt();
    program_consent_prompt(const program_consent_prompt&) = delete;
    program_consent_prompt& operator=(const program_consent_prompt&) = delete;

    // When no thread can be started the question is dismissed at once, on the asking thread.
    void ask(const std::string& origin, std::function<void(consent_answer)> answered) override;
    void close() override;

private:
    struct question_thread {
        std::thread thread;
        // Set under lock_ as the thread's last step: joining it then waits for nobody.
        bool finished = false;
    };
    using thread_list = std::list<question_thread>;

    void start_question(const std::string& origin,
                        const std::function<void(consent_answer)>& answered)
        KELVO_REQUIRES(lock_);
    void take_finished(thread_list& finished) KELVO_REQUIRES(lock_);
    // On the question's thread.
    void run_question(const std::string& origin,
                      const std::function<void(consent_answer)>& answered,
                      question_thread& self) KELVO_EXCLUDES(lock_);
    consent_answer ask_user(const std::string& origin);
    static void join_all(thread_list& threads);

    const question_program program_;
    const std::chrono::milliseconds answer_within_;
    program_runner runner_;
    // The question lock: the question threads and whether the prompt is closed. A leaf: no
    // program runs and no answer is given while it is held.
    checked_mutex lock_;
    bool closed_ KELVO_GUARDED_BY(lock_) = false;
    thread_list threads_ KELVO_GUARDED_BY(lock_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
