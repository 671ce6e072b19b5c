// Who may use the agent, through real connections that carry an Origin header: a site the user has
// not allowed gets nothing but "getVersion" and "getAgentInfo", an undecided site's "initialize"
// waits for the user's answer, and a session's video goes to its own site only.
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "access/consent_prompt.h"
#include "access/site_decisions.h"
#include "support/agent_fixture.h"
#include "support/temporary_folder.h"
#include "video/stream_frame_reader.h"

namespace {

using kelvo::rtc::web::consent_answer;
using kelvo::rtc::web::site_decision;
using kelvo::test::agent_client;
using kelvo::test::agent_timeout;

const char allowed_site[] = "https://allowed.example";
const char blocked_site[] = "http://evil.localhost:8000";
const char undecided_site[] = "https://new.example";

// Questions the test answers, as the user would, from the test's thread.
class scripted_prompt : public kelvo::rtc::web::IConsentPrompt {
public:
    void ask(const std::string& origin, std::function<void(consent_answer)> answered) override {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.push_back(origin);
        pending_.push_back(std::move(answered));
        most_open_ = std::max(most_open_, pending_.size());
        changed_.notify_all();
    }

    // Waits for the next question not answered yet and answers it.
    bool answer(consent_answer answer) {
        std::function<void(consent_answer)> answered;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!changed_.wait_for(lock, agent_timeout, [&] { return !pending_.empty(); })) {
                return false;
            }
            answered = std::move(pending_.front());
            pending_.erase(pending_.begin());
        }
        answered(answer);
        return true;
    }

    std::vector<std::string> asked() {
        std::lock_guard<std::mutex> lock(mutex_);
        return asked_;
    }

    // The most questions that were open at the same time.
    size_t most_open() {
        std::lock_guard<std::mutex> lock(mutex_);
        return most_open_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> asked_;
    std::vector<std::function<void(consent_answer)>> pending_;
    size_t most_open_ = 0;
};

class site_access_test : public kelvo::test::agent_fixture {
protected:
    site_access_test() : sites(folder.path() + "/sites.json") {
        sites.remember(allowed_site, site_decision::allowed);
        sites.remember(blocked_site, site_decision::blocked);
        access.sites = &sites;
        access.prompt = &prompt;
    }

    std::string initialize(agent_client& page) {
        return page.request(R"({"command":"initialize","appID":"test-app"})");
    }

    kelvo::test::temporary_folder folder;
    kelvo::rtc::web::site_decisions sites;
    scripted_prompt prompt;
};

std::string refused(const std::string& command, const std::string& reason, int code = 403) {
    return R"({"command":")" + command + R"(","code":)" + std::to_string(code) +
           R"(,"reason":")" + reason + R"("})";
}

// The names in the "commands" member of a "getAgentInfo" reply.
std::vector<std::string> listed_commands(const std::string& agent_info) {
    const std::string start = R"("commands":[)";
    const size_t begin = agent_info.find(start);
    const size_t end = agent_info.find(']', begin);
    std::vector<std::string> names;
    if (begin == std::string::npos || end == std::string::npos) return names;
    std::istringstream list(agent_info.substr(begin + start.size(), end - begin - start.size()));
    for (std::string quoted; std::getline(list, quoted, ',');) {
        if (quoted.size() >= 2) names.push_back(quoted.substr(1, quoted.size() - 2));
    }
    return names;
}

TEST_F(site_access_test, sites_not_allowed_get_403_with_the_reason_and_reach_no_engine) {
    struct refused_site {
        const char* origin;
        const char* reason;             // for every command but "initialize"
        const char* initialize_reason;  // for "initialize"
    };
    // A blocked site; a header that names no site (nobody can be asked about it); "null", the
    // origin of file pages and of sandboxed frames of any site.
    for (const refused_site& site : {refused_site{blocked_site, "blocked", "blocked"},
                                     refused_site{"http://a.example/page", "not-asked-yet",
                                                  "cannot-ask"},
                                     refused_site{"null", "null-origin", "null-origin"}}) {
        auto page = connect(0, site.origin);
        EXPECT_NE(page->request(R"({"command":"getVersion"})").find("\"code\":true"),
                  std::string::npos) << site.origin;
        const std::string info = page->request(R"({"command":"getAgentInfo"})");
        EXPECT_NE(info.find("\"code\":true"), std::string::npos) << site.origin;
        // Every command the agent lists is one it knows: refused, not unknown (code 2).
        const std::vector<std::string> commands = listed_commands(info);
        EXPECT_FALSE(commands.empty()) << info;
        for (const std::string& command : commands) {
            if (command == "getVersion" || command == "getAgentInfo") continue;
            EXPECT_EQ(page->request(R"({"command":")" + command +
                                    R"(","appID":"a","channelName":"room","channelKey":"",)"
                                    R"("uid":42,"video":true})"),
                      refused(command, command == "initialize" ? site.initialize_reason
                                                               : site.reason))
                << site.origin;
        }
    }
    // An undecided site is told that only "initialize" asks.
    auto undecided = connect(1, undecided_site);
    EXPECT_EQ(undecided->request(R"({"command":"joinChannel","channelName":"room"})"),
              refused("joinChannel", "not-asked-yet"));
    EXPECT_TRUE(prompt.asked().empty());
    EXPECT_TRUE(log().lines().empty()) << "the engine was called";
    // A program of this user (no Origin) is served.
    auto program = connect(1);
    EXPECT_EQ(initialize(*program), R"({"command":"initialize","code":true})");
}

TEST_F(site_access_test, an_undecided_site_is_asked_once_and_answered_after_the_user_decides) {
    // Two pages of the site ask before the user answers; the other server stays responsive.
    auto first = connect(0, undecided_site);
    auto second = connect(1, "HTTPS://New.Example:443");
    ASSERT_TRUE(first->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(second->send(R"({"command":"initialize","appID":"test-app"})"));
    auto bystander = connect(1, allowed_site);
    EXPECT_NE(bystander->request(R"({"command":"getVersion"})").find("\"code\":true"),
              std::string::npos);
    EXPECT_FALSE(first->next(std::chrono::milliseconds(200))) << "answered before the user";

    ASSERT_TRUE(prompt.answer(consent_answer::allow_once));
    EXPECT_EQ(prompt.asked(), std::vector<std::string>{undecided_site});
    // Both run now, in either order: one page starts the engine, the other finds it in use.
    std::vector<std::string> replies{first->next().value_or(""), second->next().value_or("")};
    std::sort(replies.begin(), replies.end());
    EXPECT_EQ(replies, (std::vector<std::string>{R"({"command":"initialize","code":19})",
                                                 R"({"command":"initialize","code":true})"}));
    EXPECT_EQ(sites.decision(undecided_site), site_decision::allowed);
}

// A question that ends without a lasting answer pauses the site: it is not asked again, and
// every command of it is refused with why, until the pause ends.
TEST_F(site_access_test, an_unanswered_question_pauses_the_site_and_a_block_is_remembered) {
    const std::vector<std::pair<consent_answer, std::string>> pausing = {
        {consent_answer::dismissed, "dismissed"},
        {consent_answer::timed_out, "timeout"},
        {consent_answer::block_once, "blocked"},
        {consent_answer::unasked, "cannot-ask"},
    };
    for (const auto& [answer, reason] : pausing) {
        const std::string site = "https://" + reason + ".example";
        auto page = connect(0, site);
        ASSERT_TRUE(page->send(R"({"command":"initialize","appID":"test-app"})"));
        ASSERT_TRUE(prompt.answer(answer));
        EXPECT_EQ(page->next().value_or(""), refused("initialize", reason));
        EXPECT_EQ(initialize(*page), refused("initialize", reason));
        EXPECT_EQ(page->request(R"({"command":"enableVideo"})"), refused("enableVideo", reason));
        EXPECT_EQ(sites.decision(site), site_decision::undecided);
    }
    EXPECT_EQ(prompt.asked().size(), pausing.size());

    auto page = connect(0, undecided_site);
    ASSERT_TRUE(page->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::block_remembered));
    EXPECT_EQ(page->next().value_or(""), refused("initialize", "blocked"));
    EXPECT_EQ(initialize(*page), refused("initialize", "blocked"));
    EXPECT_EQ(prompt.asked().size(), pausing.size() + 1);
    kelvo::rtc::web::site_decisions reread(folder.path() + "/sites.json");
    EXPECT_EQ(reread.decision(undecided_site), site_decision::blocked);
    EXPECT_TRUE(log().lines().empty()) << "the engine was called";
}

class short_pause_test : public site_access_test {
protected:
    short_pause_test() { access.questions.pause = std::chrono::milliseconds(100); }
};

TEST_F(short_pause_test, the_site_is_asked_again_once_its_pause_has_ended) {
    auto page = connect(0, undecided_site);
    ASSERT_TRUE(page->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::dismissed));
    EXPECT_EQ(page->next().value_or(""), refused("initialize", "dismissed"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(page->request(R"({"command":"enableVideo"})"),
              refused("enableVideo", "not-asked-yet"));
    ASSERT_TRUE(page->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::allow_once));
    EXPECT_EQ(page->next().value_or(""), R"({"command":"initialize","code":true})");
    EXPECT_EQ(prompt.asked().size(), 2u);
}

// Many sites ask at once: one question is with the prompt at a time, the others wait their
// turn, and beyond the sites that may wait (or what one site's commands may hold) the command
// is answered 429 at once, without asking.
TEST_F(site_access_test, questions_wait_their_turn_and_beyond_the_limits_get_429) {
    constexpr size_t most_waiting = 16;
    std::vector<std::unique_ptr<agent_client>> pages;
    for (size_t i = 0; i < most_waiting + 2; ++i) {
        pages.push_back(connect(0, "https://site" + std::to_string(i) + ".example"));
        ASSERT_TRUE(pages.back()->send(R"({"command":"initialize","appID":"test-app"})"));
        // Answered after the "initialize" was taken in: the sites come in this order.
        EXPECT_NE(pages.back()->request(R"({"command":"getVersion"})"), "");
    }
    for (size_t i = most_waiting; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i]->next().value_or(""), refused("initialize", "too-many-questions", 429));
    }
    // A site already waiting may add a command, but not one that holds a lot.
    ASSERT_TRUE(pages[0]->send(R"({"command":"initialize","key":"test-app"})"));
    EXPECT_EQ(pages[1]->request(R"({"command":"initialize","appID":")" +
                                std::string(300 * 1024, 'a') + R"("})"),
              refused("initialize", "too-many-questions", 429));

    for (size_t i = 0; i < most_waiting; ++i) {
        ASSERT_TRUE(prompt.answer(i == 0 ? consent_answer::allow_once : consent_answer::dismissed));
        if (i == 0) {
            // Asked in the order they came; the first runs both its commands: the second finds
            // the engine made.
            EXPECT_EQ(pages[0]->next().value_or(""), R"({"command":"initialize","code":true})");
            EXPECT_EQ(pages[0]->next().value_or(""), R"({"command":"initialize","code":5})");
        } else {
            EXPECT_EQ(pages[i]->next().value_or(""), refused("initialize", "dismissed"));
        }
    }
    EXPECT_EQ(prompt.most_open(), 1u);
    ASSERT_EQ(prompt.asked().size(), most_waiting);
    EXPECT_EQ(prompt.asked()[1], "https://site1.example");
    // A place is free again.
    ASSERT_TRUE(pages.back()->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::dismissed));
    EXPECT_EQ(pages.back()->next().value_or(""), refused("initialize", "dismissed"));
}

TEST_F(site_access_test, another_site_cannot_take_the_session_s_video_or_camera) {
    auto page = connect(0, allowed_site);
    ASSERT_EQ(initialize(*page), R"({"command":"initialize","code":true})");
    ASSERT_NE(page->join(7).find("\"code\":true"), std::string::npos);
    page->engine_parameters(R"({"sim.peer.add":{"uid":42,"video":true}})");
    ASSERT_TRUE(page->wait_for(R"({"command":"onAddVideoStream","uid":42})"));
    auto stream = connect(0, allowed_site);
    ASSERT_EQ(stream->request(R"({"command":"subscribe","uid":42})"),
              R"({"command":"subscribe","code":true})");
    ASSERT_TRUE(kelvo::rtc::web::test::next_frame(stream->connection()));

    // A page of another site, allowed itself, and a local program, on the other server.
    sites.remember("https://other.example", site_decision::allowed);
    for (const char* origin : {"https://other.example", ""}) {
        auto thief = connect(1, origin);
        EXPECT_EQ(thief->request(R"({"command":"subscribe","uid":42})"),
                  refused("subscribe", "other-site"));
        EXPECT_EQ(thief->request(R"({"command":"preview","video":false})"),
                  refused("preview", "other-site"));
        EXPECT_EQ(thief->request(R"({"command":"preview"})"), refused("preview", "other-site"));
        EXPECT_FALSE(thief->next(std::chrono::milliseconds(200)));
    }
    // The session's stream still flows.
    const size_t before = stream->connection().binary_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(stream->connection().binary_count(), before);
}

}  // namespace
