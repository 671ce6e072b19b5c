// POSIX only: the consent prompt runs the question program as a real process. Its exit decides
// the answer, and it inherits none of the agent's descriptors; a program past its time, or
// still asking when the prompt closes, is killed with whatever it started; several origins are
// asked at once; without a program nobody is asked, and a line says how to allow the origin.
// Which program asks is chosen from the environment, and the desktop dialogs get a question that
// names the origin, "Not now" their default. The started agent answers "initialize" with the
// user's decision and stands a flood of sites asking at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/consent_answers.h"
#include "app/consent_flood.h"
#include "app/consent_prompt_posix.h"
#include "support/agent_fixture.h"
#include "support/process_memory.h"

namespace kelvo {
namespace test {
namespace {

using namespace std::chrono_literals;
using rtc::web::choose_question_program;
using rtc::web::program_consent_prompt;
using rtc::web::question_program;
using kind = question_program::kind;

// An executable shell script `name` in `folder`; returns its path.
std::string script(const temporary_folder& folder, const std::string& name,
                   const std::string& body) {
    const std::string path = folder.path() + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
}

std::string read_file(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The process identifier a script wrote into `path`, once it has.
pid_t written_pid(const std::string& path) {
    EXPECT_TRUE(wait_until([&] { return read_file(path).find('\n') != std::string::npos; }));
    return static_cast<pid_t>(std::atol(read_file(path).c_str()));
}

// Ended: no such process, or one that has ended and waits to be reaped.
bool process_gone(pid_t pid) {
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t name_end = stat.rfind(')');
    return stat.empty() || (name_end != std::string::npos && stat.substr(name_end + 2, 1) == "Z");
}

question_program own_program(const std::string& path) {
    return {kind::own, path};
}

std::function<const char*(const char*)> environment(std::map<std::string, std::string> values) {
    return [values](const char* name) -> const char* {
        const auto found = values.find(name);
        return found == values.end() ? nullptr : found->second.c_str();
    };
}

class program_consent_prompt_test : public ::testing::Test {
protected:
    temporary_folder folder;
    consent_answers answers;
};

TEST_F(program_consent_prompt_test, exit_code_decides_the_answer) {
    const std::map<std::string, consent_answer> expected = {
        {"exit 0", consent_answer::allow_remembered},
        {"exit 1", consent_answer::block_remembered},
        {"exit 3", consent_answer::dismissed},
        {"kill -KILL $$", consent_answer::dismissed},
    };
    for (const auto& entry : expected) {
        const std::string body =
            "printf '%s|%s\\n' \"$#\" \"$1\" > \"$0.arguments\"\n" + entry.first;
        const std::string path = script(folder, "prompt", body);
        program_consent_prompt prompt(own_program(path));
        consent_answers these;
        prompt.ask("https://example.com:8443", these.callback_for(entry.first));
        ASSERT_TRUE(these.wait_for(1)) << entry.first;
        EXPECT_EQ(these.about(entry.first), std::vector<consent_answer>{entry.second})
            << entry.first;
        // The origin is the program's one argument.
        EXPECT_EQ(read_file(path + ".arguments"), "1|https://example.com:8443\n") << entry.first;
    }
}

TEST_F(program_consent_prompt_test, program_gets_none_of_the_agents_descriptors) {
    // As the servers' sockets are: open across exec.
    const int inherited = open("/dev/null", O_RDONLY);
    ASSERT_GE(inherited, 3);
    const std::string path = script(folder, "descriptors", "ls /proc/$$/fd > \"$0.open\"\nexit 0");
    program_consent_prompt prompt(own_program(path));
    prompt.ask("https://example.com", answers.callback_for("https://example.com"));
    ASSERT_TRUE(answers.wait_for(1));
    close(inherited);
    const std::string open_descriptors = "\n" + read_file(path + ".open");
    EXPECT_NE(open_descriptors.find("\n2\n"), std::string::npos) << open_descriptors;
    EXPECT_EQ(open_descriptors.find("\n" + std::to_string(inherited) + "\n"), std::string::npos)
        << open_descriptors;
}

TEST_F(program_consent_prompt_test, program_that_cannot_start_dismisses) {
    program_consent_prompt prompt(own_program(folder.path() + "/no-such-program"));
    prompt.ask("https://example.com", answers.callback_for("https://example.com"));
    ASSERT_TRUE(answers.wait_for(1));
    EXPECT_EQ(answers.about("https://example.com"),
              std::vector<consent_answer>{consent_answer::dismissed});
}

TEST_F(program_consent_prompt_test, program_past_its_time_is_killed_with_what_it_started) {
    const std::string path = script(folder, "slow",
                                    "echo $$ > \"$0.pid\"\n"
                                    "sleep 30 &\n"
                                    "echo $! > \"$0.child\"\n"
                                    "wait\n"
                                    "exit 0");
    program_consent_prompt prompt(own_program(path), 500ms);
    const auto asked = std::chrono::steady_clock::now();
    prompt.ask("https://slow.example", answers.callback_for("https://slow.example"));
    const pid_t program = written_pid(path + ".pid");
    const pid_t child = written_pid(path + ".child");
    ASSERT_TRUE(answers.wait_for(1));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 10s);
    EXPECT_EQ(answers.about("https://slow.example"),
              std::vector<consent_answer>{consent_answer::timed_out});
    EXPECT_TRUE(process_gone(program));
    EXPECT_TRUE(wait_until([&] { return process_gone(child); }));
}

TEST_F(program_consent_prompt_test, closing_kills_the_programs_and_dismisses_their_questions) {
    const std::string path = script(folder, "asks", "echo $$ >> \"$0.pids\"\nsleep 30\nexit 0");
    program_consent_prompt prompt(own_program(path));
    prompt.ask("https://a.example", answers.callback_for("https://a.example"));
    prompt.ask("https://b.example", answers.callback_for("https://b.example"));
    ASSERT_TRUE(wait_until([&] {
        const std::string pids = read_file(path + ".pids");
        return std::count(pids.begin(), pids.end(), '\n') == 2;
    }));
    const auto closing = std::chrono::steady_clock::now();
    prompt.close();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 10s);
    // Every answer has been given by the time close() returns.
    EXPECT_TRUE(answers.wait_for(2, 0ms));
    for (const char* origin : {"https://a.example", "https://b.example"}) {
        EXPECT_EQ(answers.about(origin), std::vector<consent_answer>{consent_answer::dismissed});
    }
    // Later questions are dismissed at once, on the asking thread.
    prompt.ask("https://c.example", answers.callback_for("https://c.example"));
    EXPECT_EQ(answers.about("https://c.example"),
              std::vector<consent_answer>{consent_answer::dismissed});
    EXPECT_EQ(answers.answering_threads().back(), std::this_thread::get_id());
}

TEST_F(program_consent_prompt_test, several_origins_are_asked_at_once) {
    // Each program waits until all three have started: asked one after another, they would
    // run out of time and be dismissed.
    const std::string path = script(folder, "together",
                                    "touch \"$0.$(echo \"$1\" | tr -c a-z _)\"\n"
                                    "while [ $(ls \"$0\".* | wc -l) -lt 3 ]; do sleep 0.05; done\n"
                                    "exit 0");
    program_consent_prompt prompt(own_program(path), 10s);
    const std::vector<std::string> origins = {"https://a.example", "https://b.example",
                                              "https://c.example"};
    for (const auto& origin : origins) prompt.ask(origin, answers.callback_for(origin));
    ASSERT_TRUE(answers.wait_for(3));
    for (const auto& origin : origins) {
        EXPECT_EQ(answers.about(origin),
                  std::vector<consent_answer>{consent_answer::allow_remembered})
            << origin;
    }
    for (const auto& thread : answers.answering_threads()) {
        EXPECT_NE(thread, std::this_thread::get_id());
    }
}

TEST_F(program_consent_prompt_test, without_program_asks_nobody_and_names_the_allow_command) {
    program_consent_prompt prompt(question_program{});
    ::testing::internal::CaptureStderr();
    prompt.ask("https://example.com", answers.callback_for("https://example.com"));
    ASSERT_TRUE(answers.wait_for(1));
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answers.about("https://example.com"),
              std::vector<consent_answer>{consent_answer::unasked});
    EXPECT_NE(answers.answering_threads().front(), std::this_thread::get_id());
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
    EXPECT_NE(printed.find("kelvo_web_agent -allow https://example.com\n"), std::string::npos)
        << printed;
}

TEST(question_program, own_program_first_then_a_desktop_dialog_on_a_display) {
    temporary_folder bin;
    const std::string zenity = script(bin, "zenity", "exit 0");
    const std::string kdialog = script(bin, "kdialog", "exit 0");
    const std::string path = "/nonexistent:" + bin.path();

    question_program chosen = choose_question_program(
        environment({{"KELVO_AGENT_PROMPT", "my-prompt"}, {"DISPLAY", ":0"}, {"PATH", path}}));
    EXPECT_EQ(chosen.type, kind::own);
    EXPECT_EQ(chosen.path, "my-prompt");

    chosen = choose_question_program(
        environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"PATH", path}}));
    EXPECT_EQ(chosen.type, kind::zenity);
    EXPECT_EQ(chosen.path, zenity);

    std::remove(zenity.c_str());
    chosen = choose_question_program(
        environment({{"KELVO_AGENT_PROMPT", ""}, {"DISPLAY", ":0"}, {"PATH", path}}));
    EXPECT_EQ(chosen.type, kind::kdialog);
    EXPECT_EQ(chosen.path, kdialog);

    // No display, or no dialog program: nobody is asked.
    EXPECT_EQ(choose_question_program(environment({{"PATH", path}})).type, kind::none);
    EXPECT_EQ(
        choose_question_program(environment({{"DISPLAY", ":0"}, {"PATH", "/nonexistent"}})).type,
        kind::none);
}

TEST(question_program, desktop_dialogs_name_the_origin_and_read_their_buttons) {
    temporary_folder bin;
    // Each dialog records its arguments, one a line, and answers its second button.
    const std::string body =
        "for argument; do printf '%s\\n' \"$argument\"; done > \"$0.arguments\"\nexit 1";
    const auto environment_of = [&] {
        return environment({{"DISPLAY", ":0"}, {"PATH", bin.path()}});
    };
    consent_answers answers;
    const std::string kdialog = script(bin, "kdialog", body);
    {
        program_consent_prompt prompt(choose_question_program(environment_of()));
        prompt.ask("https://example.com", answers.callback_for("kdialog"));
        ASSERT_TRUE(answers.wait_for(1));
    }
    const std::string zenity = script(bin, "zenity", body);
    {
        program_consent_prompt prompt(choose_question_program(environment_of()));
        prompt.ask("https://example.org", answers.callback_for("zenity"));
        ASSERT_TRUE(answers.wait_for(2));
    }
    // kdialog's second button blocks; zenity's is "Not now", as is closing its window.
    EXPECT_EQ(answers.about("kdialog"),
              std::vector<consent_answer>{consent_answer::block_remembered});
    EXPECT_EQ(answers.about("zenity"), std::vector<consent_answer>{consent_answer::dismissed});

    const std::string kdialog_arguments = read_file(kdialog + ".arguments");
    EXPECT_NE(kdialog_arguments.find("--yesnocancel\nhttps://example.com wants to use your camera, "
                                     "microphone, screen and window titles, and recordings "
                                     "through Kelvo Web Agent. Allow?\n"),
              std::string::npos)
        << kdialog_arguments;
    const std::string zenity_arguments = read_file(zenity + ".arguments");
    EXPECT_NE(zenity_arguments.find("--question\n"), std::string::npos) << zenity_arguments;
    EXPECT_NE(zenity_arguments.find("--text=https://example.org wants"), std::string::npos)
        << zenity_arguments;
    // Enter answers "Not now".
    EXPECT_NE(zenity_arguments.find("--default-cancel\n"), std::string::npos) << zenity_arguments;
}

// The started program asks through KELVO_AGENT_PROMPT and answers "initialize" after the program's
// exit: allowed and remembered, blocked and remembered, or dismissed.
TEST_F(program_consent_prompt_test, the_agent_answers_initialize_with_the_user_s_decision) {
    agent_test_turn turn;
    agent_setup setup = setup_on_free_ports(folder.path());
    setup.prompt_program = script(folder, "prompt", R"(case "$1" in
  https://allow.example) exit 0 ;;
  https://block.example) exit 1 ;;
  *) exit 3 ;;
esac)");
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    const std::map<std::string, std::string> expected = {
        {"https://allow.example", R"({"command":"initialize","code":true})"},
        {"https://block.example", R"({"command":"initialize","code":403,"reason":"blocked"})"},
        {"https://other.example", R"({"command":"initialize","code":403,"reason":"dismissed"})"},
    };
    for (const auto& entry : expected) {
        agent_client page;
        page.connection().set_origin(entry.first);
        ASSERT_TRUE(page.connect(setup.plain()));
        EXPECT_EQ(page.request(R"({"command":"initialize","appID":"process-test"})"),
                  entry.second)
            << entry.first;
    }
    const std::string sites = read_file(sites_file_path(setup));
    EXPECT_NE(sites.find("https://allow.example"), std::string::npos) << sites;
    EXPECT_NE(sites.find("https://block.example"), std::string::npos) << sites;
    EXPECT_EQ(sites.find("https://other.example"), std::string::npos) << sites;
    agent_process killer(setup, {"-kill"});
    EXPECT_EQ(killer.wait_exit(), 0);
    EXPECT_EQ(instance.wait_exit(), 0);
}

// A hostile page: one site sends 300 "initialize" commands of almost 1 MiB each, then 300 sites
// ask at once. One question program runs, the sites beyond 16 are answered 429 at once, and the
// waiting commands keep what they run with, not their text.
TEST_F(program_consent_prompt_test, a_flood_of_sites_meets_one_question_and_bounded_memory) {
    agent_test_turn turn;
    agent_setup setup = setup_on_free_ports(folder.path());
    // Each question notes its origin and is never answered.
    setup.prompt_program = script(folder, "prompt", "echo \"$1\" >> \"$0.asked\"\nexec sleep 600");
    // With a certificate pair, for the TLS server.
    setup.program = install_agent_copy(folder.path() + "/installed");
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));

    raw_connection big(setup.plain());
    const size_t before = resident_bytes(instance.id());
    std::string answers;
    ASSERT_TRUE(send_large_initializes(big, setup, "https://big.example", 300, 1000 * 1000,
                                       answers));
    EXPECT_EQ(answers.find("initialize"), std::string::npos) << "answered before the user";
    if (resident_size_is_meaningful) {
        EXPECT_LT(resident_bytes(instance.id()), before + (50u << 20));
    }

    constexpr size_t sites = 300;
    constexpr size_t most_waiting = 16;
    const site_flood flood = flood_with_sites(setup, sites);
    ASSERT_TRUE(flood.complete);
    // Besides big.example.
    EXPECT_EQ(flood.refused, sites - (most_waiting - 1));
    ASSERT_TRUE(wait_until([&] { return !read_file(setup.prompt_program + ".asked").empty(); }));
    EXPECT_EQ(read_file(setup.prompt_program + ".asked"), "https://big.example\n");
    // The servers', the main thread, the one question's and the engine library's few.
    EXPECT_LT(thread_count(instance.id()), 16u);
    agent_process killer(setup, {"-kill"});
    EXPECT_EQ(killer.wait_exit(), 0);
    EXPECT_EQ(instance.wait_exit(), 0);
}

}  // namespace
}  // namespace test
}  // namespace kelvo
