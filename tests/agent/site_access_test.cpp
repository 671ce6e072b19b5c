// Who may use the agent, through real connections that carry an Origin header: a site the user has
// not allowed gets nothing but "getVersion" and "getAgentInfo", an undecided site's "initialize"
// waits for the user's answer, a session's video goes to its own site only, and a session
// ends when its site stops being allowed.
#include <algorithm>
#include <atomic>
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
const char other_site[] = "https://other.example";

// Questions the test answers, as the user would, from the test's thread.
class scripted_prompt : public kelvo::rtc::web::IConsentPrompt {
public:
    void ask(const std::string& origin, std::function<void(consent_answer)> answered) override {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.push_back(origin);
        pending_.push_back(std::move(answered));
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

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> asked_;
    std::vector<std::function<void(consent_answer)>> pending_;
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

std::string forbidden(const std::string& command) {
    return R"({"command":")" + command + R"(","code":403})";
}

std::string other_site_refusal(const std::string& command) {
    return R"({"command":")" + command + R"(","code":403,"reason":"other-site"})";
}

// Polls until `done` holds; false after the agent's usual time.
bool eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + agent_timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Binary messages the connection receives within a while.
size_t frames_within(agent_client& stream, std::chrono::milliseconds wait) {
    const size_t before = stream.connection().binary_count();
    std::this_thread::sleep_for(wait);
    return stream.connection().binary_count() - before;
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

TEST_F(site_access_test, sites_not_allowed_get_403_for_all_but_agent_info_and_reach_no_engine) {
    // A blocked site, and a header that names no site (nobody can be asked about it).
    for (const char* origin : {blocked_site, "http://a.example/page"}) {
        auto page = connect(0, origin);
        EXPECT_NE(page->request(R"({"command":"getVersion"})").find("\"code\":true"),
                  std::string::npos) << origin;
        const std::string info = page->request(R"({"command":"getAgentInfo"})");
        EXPECT_NE(info.find("\"code\":true"), std::string::npos) << origin;
        // Every command the agent lists is one it knows: refused, not unknown (code 2).
        const std::vector<std::string> commands = listed_commands(info);
        EXPECT_FALSE(commands.empty()) << info;
        for (const std::string& command : commands) {
            if (command == "getVersion" || command == "getAgentInfo") continue;
            EXPECT_EQ(page->request(R"({"command":")" + command +
                                    R"(","appID":"a","channelName":"room","channelKey":"",)"
                                    R"("uid":42,"video":true})"),
                      forbidden(command))
                << origin;
        }
    }
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

TEST_F(site_access_test, a_block_is_remembered_and_a_dismissal_asks_again) {
    auto page = connect(0, undecided_site);
    ASSERT_TRUE(page->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::dismissed));
    EXPECT_EQ(page->next().value_or(""), forbidden("initialize"));
    EXPECT_EQ(sites.decision(undecided_site), site_decision::undecided);

    ASSERT_TRUE(page->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::block_remembered));
    EXPECT_EQ(page->next().value_or(""), forbidden("initialize"));
    // Blocked now: answered at once, nobody asked.
    EXPECT_EQ(initialize(*page), forbidden("initialize"));
    EXPECT_EQ(prompt.asked().size(), 2u);
    kelvo::rtc::web::site_decisions reread(folder.path() + "/sites.json");
    EXPECT_EQ(reread.decision(undecided_site), site_decision::blocked);
    EXPECT_TRUE(log().lines().empty()) << "the engine was called";
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
    sites.remember(other_site, site_decision::allowed);
    for (const char* origin : {other_site, ""}) {
        auto thief = connect(1, origin);
        EXPECT_EQ(thief->request(R"({"command":"subscribe","uid":42})"),
                  other_site_refusal("subscribe"));
        EXPECT_EQ(thief->request(R"({"command":"preview","video":false})"),
                  other_site_refusal("preview"));
        EXPECT_EQ(thief->request(R"({"command":"preview"})"), other_site_refusal("preview"));
        EXPECT_FALSE(thief->next(std::chrono::milliseconds(200)));
    }
    // The session's stream still flows.
    EXPECT_GT(frames_within(*stream, std::chrono::milliseconds(500)), 0u);
}

// Another site sends "preview" and "subscribe" by turns on the other server while a page makes
// the session: whichever waited for the session to be made is refused once it exists.
TEST_F(site_access_test, a_site_racing_the_session_s_initialize_never_gets_into_it) {
    sites.remember(other_site, site_decision::allowed);
    int previews_granted = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        auto racer = connect(1, other_site);
        auto page = connect(0, allowed_site);
        std::atomic<bool> made{false};
        std::thread race([&] {
            for (int turn = 0; !made || turn < 4; turn += made ? 1 : 0) {
                const std::string preview = racer->request(R"({"command":"preview"})");
                if (preview.find("\"code\":true") != std::string::npos) ++previews_granted;
                racer->request(R"({"command":"subscribe","uid":42})");
            }
        });
        const std::string made_reply = initialize(*page);
        made = true;
        race.join();
        ASSERT_EQ(made_reply, R"({"command":"initialize","code":true})");
        page->connection().close();
        ASSERT_TRUE(eventually([&] {
            return log().count("call release false") == static_cast<size_t>(attempt) + 1;
        }));
    }
    EXPECT_EQ(previews_granted, 0);
    // Neither the racer's camera view nor a view of user 42 was ever made in a session.
    EXPECT_EQ(log().count("L1 [wa] setup video channel for user 0"), 0u);
    EXPECT_EQ(log().count("L1 [wa] setup video channel for user 42"), 0u);
}

// A "subscribe" answered before any session waits for one: its connection gets the user's video
// once the session has it, or, for another site, a refusal; nor can another site's early stream
// connection report statistics into the session's engine.
TEST_F(site_access_test, stream_connections_made_before_the_session_get_its_video_or_a_refusal) {
    sites.remember(other_site, site_decision::allowed);
    auto early = connect(1, allowed_site);
    auto stranger = connect(1, other_site);
    // A connection that subscribes again waits for its latest uid only.
    ASSERT_EQ(early->request(R"({"command":"subscribe","uid":41})"),
              R"({"command":"subscribe","code":true})");
    for (agent_client* stream : {early.get(), stranger.get()}) {
        ASSERT_EQ(stream->request(R"({"command":"subscribe","uid":42})"),
                  R"({"command":"subscribe","code":true})");
    }
    auto page = connect(0, allowed_site);
    ASSERT_EQ(initialize(*page), R"({"command":"initialize","code":true})");
    EXPECT_EQ(stranger->next().value_or(""), other_site_refusal("subscribe"));
    ASSERT_NE(page->join(7).find("\"code\":true"), std::string::npos);
    page->engine_parameters(R"({"sim.peer.add":{"uid":42,"video":true}})");
    ASSERT_TRUE(kelvo::rtc::web::test::next_frame(early->connection()));

    const std::string stat = R"({"command":"videoStat","uid":42,"latency":5,"fps":30})";
    const auto reports = [&] {
        const std::vector<std::string> lines = log().lines();
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind("call reportVideoStats 42 5 ", 0) == 0;
        });
    };
    ASSERT_TRUE(early->send(stat));
    ASSERT_TRUE(eventually([&] { return reports() == 1; }));
    EXPECT_EQ(stranger->request(stat), other_site_refusal("videoStat"));
    EXPECT_EQ(reports(), 1);
    EXPECT_EQ(log().count("call setupRemoteVideo 42"), 1u);
    EXPECT_EQ(log().count("call setupRemoteVideo 41"), 0u);
    EXPECT_FALSE(early->next(std::chrono::milliseconds(200))) << "videoStat answered";
    EXPECT_EQ(stranger->connection().binary_count(), 0u);
}

// A site that stops being allowed while its session runs loses the session once the agent hears
// of it: the camera and the screen go off, the streams stop, the engine goes, the page is told
// why. Until then its page can switch things off, and nothing on.
TEST_F(site_access_test, a_site_no_longer_allowed_loses_its_session_and_can_always_switch_off) {
    auto page = connect(0, allowed_site);
    ASSERT_EQ(initialize(*page), R"({"command":"initialize","code":true})");
    ASSERT_NE(page->join(7).find("\"code\":true"), std::string::npos);
    auto camera = connect(1, allowed_site);
    ASSERT_EQ(camera->request(R"({"command":"preview"})"), R"({"command":"preview","code":true})");
    ASSERT_EQ(page->request(R"({"command":"startScreenSharing"})"),
              R"({"command":"startScreenSharing","code":true})");
    ASSERT_TRUE(kelvo::rtc::web::test::next_frame(camera->connection()));

    sites.remember(allowed_site, site_decision::blocked);
    agent().on_sites_changed();
    const auto closed = page->connection().wait_close(agent_timeout);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->code, 4003);
    EXPECT_EQ(closed->reason, "the user blocked this site");
    ASSERT_TRUE(log().wait_for("call release false"));
    EXPECT_EQ(frames_within(*camera, std::chrono::milliseconds(300)), 0u);
    EXPECT_TRUE(log().has_in_order(
        {"L1 [wa] site no longer allowed: session ends",
         R"(call setParameters {"rtc.video.capture":false,"che.video.local.capture":false,)"
         R"("che.video.local.render":false,"che.video.local.send":false})",
         "call setBool che.video.stop_screen_capture true", "L1 [wa] clear all channels",
         "call release false"}));

    // Allowed for this run only, then forgotten: until the agent hears of it, the page may only
    // switch off.
    auto asking = connect(0, undecided_site);
    ASSERT_TRUE(asking->send(R"({"command":"initialize","appID":"test-app"})"));
    ASSERT_TRUE(prompt.answer(consent_answer::allow_once));
    ASSERT_EQ(asking->next().value_or(""), R"({"command":"initialize","code":true})");
    ASSERT_NE(asking->join(8).find("\"code\":true"), std::string::npos);
    sites.forget(undecided_site);
    EXPECT_EQ(asking->request(R"({"command":"enableLocalVideo","enabled":true})"),
              forbidden("enableLocalVideo"));
    for (const char* off : {R"({"command":"enableLocalVideo","enabled":false})",
                            R"({"command":"stopScreenSharing"})", R"({"command":"muteLocal"})",
                            R"({"command":"leaveChannel"})"}) {
        EXPECT_NE(asking->request(off).find("\"code\":true"), std::string::npos) << off;
    }
    ASSERT_TRUE(asking->send(R"({"command":"stopRecording","key":"k"})"));
    EXPECT_TRUE(log().wait_for("call setString rtc.api.stop_recording_service k"));
    agent().on_sites_changed();
    const auto forgotten = asking->connection().wait_close(agent_timeout);
    ASSERT_TRUE(forgotten.has_value());
    EXPECT_EQ(forgotten->code, 4003);
}

}  // namespace
