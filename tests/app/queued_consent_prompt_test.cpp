// The prompt that hands its questions to the main thread: questions asked on any thread wait
// for the main thread, which is woken; closing dismisses those it never took.
#include "app/queued_consent_prompt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "app/consent_answers.h"

namespace kelvo {
namespace test {
namespace {

using rtc::web::consent_question;
using rtc::web::queued_consent_prompt;

TEST(queued_consent_prompt, questions_from_any_thread_wait_for_the_woken_main_thread) {
    queued_consent_prompt prompt(std::chrono::milliseconds(500));
    EXPECT_EQ(prompt.answer_within(), std::chrono::milliseconds(500));
    std::atomic<int> wakes{0};
    prompt.wakeup().set([&wakes] { ++wakes; });
    consent_answers answers;
    std::vector<std::thread> servers;
    for (const char* origin : {"https://a.example", "https://b.example", "https://c.example"}) {
        servers.emplace_back([&prompt, &answers, origin] {
            prompt.ask(origin, answers.callback_for(origin));
        });
    }
    for (auto& server : servers) server.join();
    EXPECT_EQ(wakes.load(), 3);
    EXPECT_FALSE(answers.wait_for(1, std::chrono::milliseconds(0)));

    std::vector<consent_question> taken = prompt.take_questions();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_TRUE(prompt.take_questions().empty());
    for (auto& question : taken) question.answered(consent_answer::allow_once);
    for (const char* origin : {"https://a.example", "https://b.example", "https://c.example"}) {
        EXPECT_EQ(answers.about(origin), std::vector<consent_answer>{consent_answer::allow_once});
    }
}

TEST(queued_consent_prompt, closing_dismisses_the_questions_never_taken) {
    queued_consent_prompt prompt;
    consent_answers answers;
    prompt.ask("https://taken.example", answers.callback_for("https://taken.example"));
    std::vector<consent_question> taken = prompt.take_questions();
    prompt.ask("https://queued.example", answers.callback_for("https://queued.example"));
    prompt.close();
    EXPECT_EQ(answers.about("https://queued.example"),
              std::vector<consent_answer>{consent_answer::dismissed});
    // A question the main thread took is its own to answer.
    EXPECT_TRUE(answers.about("https://taken.example").empty());

    prompt.ask("https://late.example", answers.callback_for("https://late.example"));
    EXPECT_EQ(answers.about("https://late.example"),
              std::vector<consent_answer>{consent_answer::dismissed});
    EXPECT_TRUE(prompt.take_questions().empty());
}

}  // namespace
}  // namespace test
}  // namespace kelvo
