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
#ifndef _WIN32
#include "support/process_memory.h"
#include "support/raw_connection.h"
#endif
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
    sites.remember(other_site, site_decision::allowed);
    for (const char* origin : {other_site, ""}) {
        auto thief = connect(1, origin);
        EXPECT_EQ(thief->request(R"({"command":"subscribe","uid":42})"),
                  refused("subscribe", "other-site"));
        EXPECT_EQ(thief->request(R"({"command":"preview","video":false})"),
                  refused("preview", "other-site"));
        EXPECT_EQ(thief->request(R"({"command":"preview"})"), refused("preview", "other-site"));
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
    EXPECT_EQ(stranger->next().value_or(""), refused("subscribe", "other-site"));
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
    EXPECT_EQ(stranger->request(stat), refused("videoStat", "other-site"));
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
              refused("enableLocalVideo", "not-asked-yet"));
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

#ifndef _WIN32
// The place tests speak raw BSD sockets (support/raw_connection.h); the Windows build leaves them
// out and says so in its test run.
using kelvo::test::raw_connection;

class site_places_test : public site_access_test {
protected:
    // Opens connections of a page of `origin`, on both servers in turn, until one is refused (its
    // status in `refused_with`) or `most` are open; the connections the agent accepted.
    std::vector<std::unique_ptr<raw_connection>> hold_places(const std::string& origin,
                                                             int& refused_with, size_t most = 100) {
        std::vector<std::unique_ptr<raw_connection>> held;
        for (int server = 0; held.size() < most; server = 1 - server) {
            auto next = std::make_unique<raw_connection>(port(server));
            refused_with =
                next->upgrade_status(port(server), raw_connection::origin_header(origin));
            if (refused_with != 101) break;
            held.push_back(std::move(next));
        }
        return held;
    }

    void expect_allowed_page_served(int server) {
        auto page = connect(server, allowed_site);
        EXPECT_NE(page->request(R"({"command":"getVersion"})").find("\"code\":true"),
                  std::string::npos);
    }
};

TEST_F(site_places_test, sites_not_allowed_hold_few_places_and_allowed_pages_are_served) {
    int refused_with = 0;
    const auto blocked = hold_places(blocked_site, refused_with);
    EXPECT_EQ(blocked.size(), 32u);
    EXPECT_EQ(refused_with, 429);
    for (int page = 0; page < 5; ++page) expect_allowed_page_served(page % 2);

    // Several such sites together hold no more than 128, however many there are.
    std::vector<std::vector<std::unique_ptr<raw_connection>>> undecided;
    for (const char* site : {"https://a.example", "https://b.example", "https://c.example"}) {
        undecided.push_back(hold_places(site, refused_with));
        EXPECT_EQ(undecided.back().size(), 32u) << site;
    }
    EXPECT_TRUE(hold_places("https://d.example", refused_with).empty());
    EXPECT_EQ(refused_with, 429);
    for (int page = 0; page < 5; ++page) expect_allowed_page_served(page % 2);

    // The user allows the blocked site: its connections stop counting, so another site gets
    // places, and the allowed site's pages are no longer limited.
    sites.remember(blocked_site, site_decision::allowed);
    EXPECT_EQ(hold_places("https://d.example", refused_with).size(), 32u);
    EXPECT_EQ(hold_places(blocked_site, refused_with, 40).size(), 40u);
}

TEST_F(site_places_test, a_blocked_site_flooding_unread_replies_is_closed_and_the_agent_is_small) {
    auto page = connect(0, allowed_site);
    ASSERT_EQ(initialize(*page), R"({"command":"initialize","code":true})");
    // 32 connections that ask about the agent as fast as they can and never read the answers.
    std::vector<std::unique_ptr<raw_connection>> flooders;
    for (int i = 0; i < 32; ++i) {
        flooders.push_back(std::make_unique<raw_connection>(port(i % 2), 4096));
        ASSERT_EQ(flooders.back()->upgrade_status(port(i % 2),
                                                  raw_connection::origin_header(blocked_site)),
                  101);
    }
    std::string burst;
    for (int i = 0; i < 250; ++i) {
        burst += raw_connection::client_frame(0x1, R"({"command":"getAgentInfo"})");
    }
    // The heap in use rather than the resident size: it leaves out what the allocator keeps for
    // reuse, and a sanitizer's quarantine.
    const size_t before = kelvo::test::heap_bytes_in_use();
    size_t peak = before;
    for (int round = 0; round < 40; ++round) {
        for (auto& flooder : flooders) flooder->send_all(burst);
        peak = std::max(peak, kelvo::test::heap_bytes_in_use());
        if (round % 8 == 0) {
            // Answered after the commands already waiting: generous on a loaded machine.
            ASSERT_TRUE(page->send(R"({"command":"getDevices"})"));
            const auto devices = page->take(
                [](const std::string& text) {
                    return text.find("getDevices") != std::string::npos;
                },
                std::chrono::seconds(60));
            EXPECT_NE(devices.value_or("").find("\"code\":true"), std::string::npos)
                << "round " << round;
        }
    }
    EXPECT_LT(peak - before, size_t{300} << 20);
    for (auto& flooder : flooders) {
        std::string reason;
        const int code = flooder->close_code(&reason, std::chrono::seconds(20));
        if (code != 0 || !flooder->ended_by_peer()) {
            EXPECT_EQ(code, 1008);
            EXPECT_EQ(reason, "too much unsent data");
        }
    }
    expect_allowed_page_served(1);
}

// One session's end closes its own site's other connections, never another site's.
TEST_F(site_places_test, a_session_s_end_closes_its_own_site_s_connections_only) {
    sites.remember("https://other.example", site_decision::allowed);
    auto page = connect(0, allowed_site);
    ASSERT_EQ(initialize(*page), R"({"command":"initialize","code":true})");
    auto own = connect(0, allowed_site);
    auto other = connect(0, "https://other.example");
    ASSERT_TRUE(own->connection().ping_round_trip());
    ASSERT_TRUE(other->connection().ping_round_trip());
    page->connection().close();
    const auto closed = own->connection().wait_close(agent_timeout);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->code, 3000);
    EXPECT_EQ(closed->reason, "going away");
    EXPECT_NE(other->request(R"({"command":"getVersion"})").find("\"code\":true"),
              std::string::npos);
}

class idle_places_test : public site_places_test {
protected:
    idle_places_test() { limits.idle_not_allowed = std::chrono::milliseconds(1000); }
};

// A site that is not allowed may ask about the agent, but not sit on its place; the user's
// question keeps a page waiting for its answer; allowed sites' connections are never idle.
TEST_F(idle_places_test, a_site_not_allowed_is_closed_when_idle_but_not_while_asked) {
    auto blocked = connect(0, blocked_site);
    auto asking = connect(1, undecided_site);
    auto allowed = connect(0, allowed_site);
    ASSERT_TRUE(asking->send(R"({"command":"initialize","appID":"test-app"})"));
    for (int i = 0; i < 5; ++i) {
        blocked->request(R"({"command":"getAgentInfo"})");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto closed = blocked->connection().wait_close(agent_timeout);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->code, 1008);
    EXPECT_EQ(closed->reason, "idle, site not allowed");

    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(asking->connection().is_open());
    ASSERT_TRUE(prompt.answer(consent_answer::allow_once));
    EXPECT_EQ(asking->next().value_or(""), R"({"command":"initialize","code":true})");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(asking->connection().is_open());
    EXPECT_NE(allowed->request(R"({"command":"getVersion"})").find("\"code\":true"),
              std::string::npos);
}

#endif  // !_WIN32

}  // namespace
