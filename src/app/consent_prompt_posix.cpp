#include "app/consent_prompt_posix.h"

#include <cstdio>
#include <system_error>
#include <utility>

namespace kelvo {
namespace rtc {
namespace web {

program_consent_prompt::program_consent_prompt(question_program program,
                                               std::chrono::milliseconds answer_within)
    : program_(std::move(program)), answer_within_(answer_within) {}

program_consent_prompt::~program_consent_prompt() {
    close();
}

void program_consent_prompt::ask(const std::string& origin,
                                 std::function<void(consent_answer)> answered) {
    thread_list finished;
    bool started = false;
    {
        checked_lock hold(lock_);
        take_finished(finished);
        if (!closed_) {
            try {
                start_question(origin, answered);
                started = true;
            } catch (const std::system_error&) {
                // No thread to be had: the question goes unasked.
                threads_.pop_back();
            }
        }
    }
    join_all(finished);
    if (!started) answered(consent_answer::dismissed);
}

void program_consent_prompt::close() {
    thread_list open;
    {
        checked_lock hold(lock_);
        closed_ = true;
        open.splice(open.end(), threads_);
    }
    runner_.stop_all();
    join_all(open);
}

void program_consent_prompt::start_question(const std::string& origin,
                                            const std::function<void(consent_answer)>& answered) {
    threads_.emplace_back();
    question_thread& self = threads_.back();
    self.thread = std::thread([this, origin, answered, &self] {
        run_question(origin, answered, self);
    });
}

void program_consent_prompt::take_finished(thread_list& finished) {
    for (auto entry = threads_.begin(); entry != threads_.end();) {
        const auto next = std::next(entry);
        if (entry->finished) finished.splice(finished.end(), threads_, entry);
        entry = next;
    }
}

void program_consent_prompt::run_question(const std::string& origin,
                                          const std::function<void(consent_answer)>& answered,
                                          question_thread& self) {
    answered(ask_user(origin));
    checked_lock hold(lock_);
    self.finished = true;
}

consent_answer program_consent_prompt::ask_user(const std::string& origin) {
    if (program_.type == question_program::kind::none) {
        std::fprintf(stderr, "%s\n", unasked_line(origin).c_str());
        return consent_answer::unasked;
    }
    const auto asked = std::chrono::steady_clock::now();
    const std::optional<int> exit_code =
        runner_.run(program_.path, question_arguments(program_, origin), answer_within_);
    // Killed for its time, not for the prompt's closing.
    if (!exit_code && std::chrono::steady_clock::now() - asked >= answer_within_) {
        return consent_answer::timed_out;
    }
    return answer_from_exit(program_, exit_code);
}

void program_consent_prompt::join_all(thread_list& threads) {
    for (auto& entry : threads) entry.thread.join();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
