// The user's site decisions on real files: what one object remembers another reads, a damaged
// file is set aside, "null" is never written as allowed, run decisions yield to newer
// remembered ones, and writers in parallel lose nothing and never show a reader part of a file.
#include "access/site_decisions.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "access/sites_file.h"
#include "app/agent_process.h"
#include "platform/file_contents.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

namespace fs = std::filesystem;

using decision_list = std::vector<std::pair<std::string, site_decision>>;

class site_decisions_test : public ::testing::Test {
protected:
    // A folder named in scripts outside any ANSI code page, as a user's may be: on Windows only
    // the wide file functions reach it.
    site_decisions_test()
        : folder(fs::u8path(temporary.path() + "/Пользователь 用户")) {
        fs::create_directories(folder);
        path = (folder / "sites.json").u8string();
    }

    static fs::path path_of(const std::string& file) { return fs::u8path(file); }
    std::string contents(const std::string& file) const {
        return platform_read_file(file).value_or("(missing)");
    }
    void write(const std::string& text) const {
        ASSERT_TRUE(platform_replace_file_contents(path, text));
    }

    test::temporary_folder temporary;
    const fs::path folder;
    std::string path;
};

TEST_F(site_decisions_test, remembers_forgets_and_reloads_what_another_object_wrote) {
    site_decisions first(path);
    EXPECT_EQ(first.decision("https://example.com"), site_decision::undecided);
    EXPECT_TRUE(first.remember("HTTPS://Example.com:443/", site_decision::allowed));
    EXPECT_TRUE(first.remember("http://tracker.test:8080", site_decision::blocked));
    EXPECT_EQ(first.decision("https://example.com"), site_decision::allowed);
    EXPECT_FALSE(first.remember("example.com", site_decision::allowed));

    site_decisions second(path);
    EXPECT_EQ(second.list(), (decision_list{{"http://tracker.test:8080", site_decision::blocked},
                                            {"https://example.com", site_decision::allowed}}));
    EXPECT_TRUE(second.forget("https://example.com"));
    EXPECT_TRUE(second.remember("http://tracker.test:8080", site_decision::allowed));
    EXPECT_EQ(contents(path), "{\"origins\":{\"http://tracker.test:8080\":\"allowed\"}}\n");

    // The first one knows only what it read, until it reads again.
    EXPECT_EQ(first.decision("https://example.com"), site_decision::allowed);
    first.reload();
    EXPECT_EQ(first.decision("https://example.com"), site_decision::undecided);
    EXPECT_EQ(first.decision("http://tracker.test:8080"), site_decision::allowed);
}

TEST_F(site_decisions_test, damaged_file_is_set_aside_with_one_warning_and_counts_as_empty) {
    testing::internal::CaptureStderr();
    site_decisions(path).reload();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "a missing file is no fault";

    for (const std::string& damaged : std::vector<std::string>{
             "not json", "", "[]", "{\"origins\":[]}", "{\"sites\":{}}",
             "{\"origins\":{\"https://a.test\":\"maybe\"}}",
             "{\"origins\":{\"a.test\":\"allowed\"}}", "{\"origins\":{\"https://a.test\":true}}",
             "{\"origins\":{}} and more", "{\"origins\":{\"https://a.test\":\"allo",
             // A zero byte: the parser would stop before the block.
             std::string("{\"origins\":{}}") + '\0' + "{\"origins\":{\"https://a.test\":\"blocked\"}}",
         }) {
        write(damaged);
        testing::internal::CaptureStderr();
        site_decisions sites(path);
        const std::string warning = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(warning.begin(), warning.end(), '\n'), 1) << warning;
        EXPECT_NE(warning.find("sites.json.damaged"), std::string::npos) << warning;
        EXPECT_TRUE(sites.list().empty()) << damaged;
        EXPECT_FALSE(fs::exists(folder / "sites.json")) << damaged;
        EXPECT_EQ(contents(path + ".damaged"), damaged) << "an older one is replaced";
    }
    site_decisions sites(path);
    EXPECT_TRUE(sites.remember("https://a.test", site_decision::blocked));
    EXPECT_EQ(site_decisions(path).decision("https://a.test"), site_decision::blocked);
}

// What it holds is not known (the user may have blocked sites in it), so it is never written
// over and no site is allowed until it can be read again; one line says so, one that it is over.
TEST_F(site_decisions_test, file_that_cannot_be_read_refuses_every_site_and_is_never_written) {
    write("{\"origins\":{\"https://a.test\":\"allowed\",\"https://b.test\":\"blocked\"}}");
    site_decisions agent(path);
    agent.allow_for_this_run("https://once.test");
    const std::string text = contents(path);
    fs::remove(path_of(path));
    fs::create_directory(path_of(path));

    testing::internal::CaptureStderr();
    agent.reload();
    EXPECT_FALSE(agent.remember("https://c.test", site_decision::allowed));
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("sites.json cannot be read ("), std::string::npos) << said;
    for (const char* origin : {"https://a.test", "https://b.test", "https://once.test", "null"}) {
        EXPECT_EQ(agent.decision(origin), site_decision::unreadable) << origin;
    }
    EXPECT_TRUE(fs::is_directory(path_of(path)));
    EXPECT_FALSE(fs::exists(path_of(path + ".damaged")));

    fs::remove(path_of(path));
    write(text);
    testing::internal::CaptureStderr();
    agent.reload();
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("sites.json can be read again"), std::string::npos) << said;
    EXPECT_EQ(agent.decision("https://a.test"), site_decision::allowed);
    EXPECT_EQ(agent.decision("https://b.test"), site_decision::blocked);
    EXPECT_EQ(agent.decision("https://once.test"), site_decision::allowed);
    EXPECT_EQ(agent.decision("https://c.test"), site_decision::allowed) << "for this run";
}

// A link in the file's place (a user's files kept elsewhere) is followed for reading, writing and
// setting a damaged file aside, and stays a link.
TEST_F(site_decisions_test, linked_file_is_edited_where_it_lies_and_the_link_stays) {
    const fs::path kept = folder / "kept" / "sites.json";
    fs::create_directories(kept.parent_path());
    ASSERT_TRUE(platform_replace_file_contents(kept.u8string(), "{\"origins\":{}}"));
    std::error_code error;
    fs::create_symlink(kept, path_of(path), error);
    if (error) GTEST_SKIP() << "no links here: " << error.message();

    site_decisions sites(path);
    EXPECT_TRUE(sites.remember("https://a.test", site_decision::blocked));
    EXPECT_TRUE(fs::is_symlink(path_of(path)));
    EXPECT_EQ(contents(kept.u8string()), "{\"origins\":{\"https://a.test\":\"blocked\"}}\n");

    ASSERT_TRUE(platform_replace_file_contents(kept.u8string(), "damaged"));
    testing::internal::CaptureStderr();
    sites.reload();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::is_symlink(path_of(path)));
    EXPECT_EQ(contents(kept.u8string() + ".damaged"), "damaged");
    // The link leads nowhere now: nothing is remembered, and nothing is written in its place.
    EXPECT_TRUE(sites.list().empty());
    EXPECT_FALSE(sites.remember("https://a.test", site_decision::allowed));
    EXPECT_TRUE(fs::is_symlink(path_of(path)));
}

TEST_F(site_decisions_test, null_is_allowed_for_this_run_only_and_may_be_blocked) {
    site_decisions sites(path);
    EXPECT_TRUE(sites.remember("null", site_decision::allowed));
    EXPECT_EQ(sites.decision("null"), site_decision::allowed);
    EXPECT_TRUE(sites.remember("https://a.test", site_decision::allowed));
    EXPECT_EQ(contents(path).find("null"), std::string::npos) << contents(path);
    EXPECT_EQ(site_decisions(path).decision("null"), site_decision::undecided);

    // Nor does an allowance written by hand count.
    write("{\"origins\":{\"null\":\"allowed\",\"https://a.test\":\"allowed\"}}");
    EXPECT_EQ(site_decisions(path).decision("null"), site_decision::undecided);
    EXPECT_EQ(site_decisions(path).decision("https://a.test"), site_decision::allowed);

    EXPECT_TRUE(sites.remember("null", site_decision::blocked));
    EXPECT_EQ(sites.decision("null"), site_decision::blocked);
    EXPECT_EQ(site_decisions(path).decision("null"), site_decision::blocked);
}

TEST_F(site_decisions_test, run_decisions_hold_until_the_file_says_otherwise_or_are_forgotten) {
    site_decisions agent(path);
    site_decisions editor(path);
    agent.allow_for_this_run("https://once.test");
    agent.allow_for_this_run("https://twice.test");
    EXPECT_EQ(agent.decision("https://once.test"), site_decision::allowed);
    EXPECT_TRUE(agent.list().empty());

    EXPECT_TRUE(editor.remember("https://other.test", site_decision::blocked));
    agent.reload();
    EXPECT_EQ(agent.decision("https://once.test"), site_decision::allowed);
    EXPECT_TRUE(editor.remember("https://once.test", site_decision::blocked));
    agent.reload();
    EXPECT_EQ(agent.decision("https://once.test"), site_decision::blocked) << "the newer word";

    EXPECT_TRUE(agent.forget("https://twice.test"));
    EXPECT_EQ(agent.decision("https://twice.test"), site_decision::undecided);
}

TEST_F(site_decisions_test, decision_that_cannot_be_written_holds_for_this_run) {
    site_decisions sites((folder / "missing" / "sites.json").u8string());
    EXPECT_FALSE(sites.remember("https://a.test", site_decision::blocked));
    EXPECT_EQ(sites.decision("https://a.test"), site_decision::blocked);
    sites.reload();
    EXPECT_EQ(sites.decision("https://a.test"), site_decision::blocked);
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST_F(site_decisions_test, writers_in_parallel_lose_nothing_and_readers_never_see_part_of_a_file) {
    constexpr int writers = 4;
    constexpr int origins_each = 15;
    std::atomic<bool> writing{true};
    std::atomic<int> partial{0};
    // Reads as another program would, without the lock; pauses so that Windows can replace the
    // file between two reads (an open file cannot be replaced there).
    std::thread reader([&] {
        while (writing) {
            const std::optional<std::string> bytes = platform_read_file(path);
            if (bytes && !parse_sites_text(*bytes)) ++partial;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([this, w] {
            site_decisions own(path);
            for (int i = 0; i < origins_each; ++i) {
                const std::string origin = "https://w" + std::to_string(w) + "-" +
                                           std::to_string(i) + ".test";
                EXPECT_TRUE(own.remember(origin, site_decision::allowed)) << origin;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    writing = false;
    reader.join();
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(site_decisions(path).list().size(), static_cast<size_t>(writers * origins_each));
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path().filename().u8string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"sites.json", "sites.json.lock"}))
        << "no new file is left behind";
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
