// The agent program as a process: the kill switch, the single instance, "-version" and "-help",
// server start failures, ending through "-kill", a page served by the started program with the
// stand-in engine, the certificate pair beside an installed copy and "-make-certificate", which
// makes it, and the switches that edit the sites file.
#include "app/agent_process.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "access/site_decisions.h"
#include "net/self_signed_certificate.h"
#include "platform/file_contents.h"
#include "support/agent_fixture.h"
#include "support/certificate_pair.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {
namespace {

constexpr int already_running = -1;
constexpr int start_failure = -1;

class agent_process_test : public ::testing::Test {
protected:
    agent_process_test() { setup = setup_on_free_ports(folder.path()); }

    // Ends a serving instance the way a second copy does, and checks both ends.
    void kill_and_expect_clean_end(agent_process& instance) {
        agent_process killer(setup, {"-kill"});
        EXPECT_EQ(killer.wait_exit(), 0);
        EXPECT_EQ(instance.wait_exit(), 0);
        EXPECT_FALSE(port_accepts(setup.tls()));
        EXPECT_FALSE(port_accepts(setup.plain()));
        EXPECT_FALSE(control_window_present(setup));
    }

    agent_test_turn turn;
    temporary_folder folder;
    agent_setup setup;
};

TEST_F(agent_process_test, kill_without_instance_ends_with_zero_and_takes_no_lock) {
    agent_process killer(setup, {"-kill"});
    EXPECT_EQ(killer.wait_exit(), 0);
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/RizudAdaEngineAgent"));
    EXPECT_FALSE(port_accepts(setup.tls()));
}

TEST_F(agent_process_test, near_misses_of_the_kill_switch_start_the_agent) {
    agent_process first(setup, {"-Kill"});
    ASSERT_TRUE(wait_serving(setup, first));
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-Kill"}, {"-kill "}, {"-kill", "now"}}) {
        agent_process other(setup, arguments);
        EXPECT_EQ(other.wait_exit(), already_running) << arguments[0];
    }
    EXPECT_TRUE(first.running());
    kill_and_expect_clean_end(first);
}

TEST_F(agent_process_test, second_start_ends_with_minus_one_and_the_first_keeps_serving) {
    agent_process first(setup);
    ASSERT_TRUE(wait_serving(setup, first));
    agent_process second(setup);
    EXPECT_EQ(second.wait_exit(), already_running);
    // It says why it ended, naming the instance that goes on.
    const std::string said = second.errors();
    EXPECT_NE(said.find("another instance is already running (pid " + std::to_string(first.id()) +
                        ")"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("kelvo_web_agent -kill"), std::string::npos) << said;

    EXPECT_TRUE(first.running());
    EXPECT_TRUE(control_window_present(setup));
    ws_test_client page;
    EXPECT_TRUE(page.connect("127.0.0.1", setup.plain()));
    EXPECT_TRUE(port_accepts(setup.tls()));
    page.close();
    kill_and_expect_clean_end(first);
}

TEST_F(agent_process_test, version_and_help_answer_on_standard_output_and_start_nothing) {
    agent_process version(setup, {"-version"});
    EXPECT_EQ(version.wait_exit(), 0);
    EXPECT_EQ(version.output(), "Kelvo Web Agent " KELVO_AGENT_VERSION "\nengine 1.0.0-standin\n");
    std::vector<std::string> switches = {"-kill", "-kill-for-upgrade", "-allow ORIGIN",
                                         "-block ORIGIN", "-forget ORIGIN", "-make-certificate",
                                         "-version", "-help, -h, --help",
                                         // and every environment variable the agent reads
                                         "KELVO_AGENT_TLS_PORT", "KELVO_AGENT_PLAIN_PORT",
                                         "KELVO_AGENT_RUNTIME_DIR", "XDG_CONFIG_HOME",
                                         "KELVO_AGENT_PROMPT", "RIZUDADA_LOG"};
#ifdef _WIN32
    switches.insert(switches.end(), {"-trust-certificate", "-untrust-certificate"});
#endif
    for (const char* help_switch : {"-help", "-h", "--help"}) {
        agent_process help(setup, {help_switch});
        EXPECT_EQ(help.wait_exit(), 0) << help_switch;
        const std::string usage = help.output();
        for (const std::string& listed : switches) {
            EXPECT_NE(usage.find("  " + listed + " "), std::string::npos)
                << listed << "\n" << usage;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() + "/RizudAdaEngineAgent"));
    EXPECT_FALSE(port_accepts(setup.plain()));
}

TEST_F(agent_process_test, taken_tls_port_ends_with_minus_one_without_plain_server_or_window) {
    port_holder tls(setup.tls());
    ASSERT_TRUE(tls.holding());
    agent_process agent(setup);
    EXPECT_EQ(agent.wait_exit(), start_failure);
    EXPECT_FALSE(port_accepts(setup.plain()));
    EXPECT_FALSE(control_window_present(setup));
}

TEST_F(agent_process_test, taken_plain_port_ends_with_minus_one_and_releases_the_tls_port) {
    port_holder plain(setup.plain());
    ASSERT_TRUE(plain.holding());
    agent_process agent(setup);
    EXPECT_EQ(agent.wait_exit(), start_failure);
    EXPECT_FALSE(port_accepts(setup.tls()));
    // The TLS server is gone with its port: another program can take it.
    port_holder tls(setup.tls());
    EXPECT_TRUE(tls.holding());
    EXPECT_FALSE(control_window_present(setup));
}

TEST_F(agent_process_test, kill_from_another_process_ends_the_instance_with_zero) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    kill_and_expect_clean_end(instance);
    // The lock went with the process: a new instance starts.
    agent_process next(setup);
    ASSERT_TRUE(wait_serving(setup, next));
    kill_and_expect_clean_end(next);
}

// A page tells a user's quit from a restart for an upgrade by the close of each of its
// connections: the control connection and a stream connection, both closed with the reason.
TEST_F(agent_process_test, kill_switches_tell_every_page_why_the_agent_goes) {
    struct ending {
        const char* kill_switch;
        int code;
        const char* reason;
    };
    for (const ending& end : {ending{"-kill", 1001, "the agent is quitting"},
                              ending{"-kill-for-upgrade", 1012, "service restart"}}) {
        agent_process instance(setup);
        ASSERT_TRUE(wait_serving(setup, instance));
        agent_client control;
        ASSERT_TRUE(control.connect(setup.plain()));
        EXPECT_EQ(control.request(R"({"command":"initialize","appID":"process-test"})"),
                  R"({"command":"initialize","code":true})");
        agent_client stream;
        ASSERT_TRUE(stream.connect(setup.plain()));
        EXPECT_EQ(stream.request(R"({"command":"subscribe","uid":5})"),
                  R"({"command":"subscribe","code":true})");
        agent_process killer(setup, {end.kill_switch});
        EXPECT_EQ(killer.wait_exit(), 0) << end.kill_switch;
        EXPECT_EQ(instance.wait_exit(), 0) << end.kill_switch;
        for (agent_client* page : {&control, &stream}) {
            const std::optional<close_info> closed =
                page->connection().wait_close(process_timeout);
            ASSERT_TRUE(closed.has_value()) << end.kill_switch;
            EXPECT_EQ(closed->code, end.code) << end.kill_switch;
            EXPECT_EQ(closed->reason, end.reason) << end.kill_switch;
        }
        EXPECT_FALSE(control_window_present(setup));
    }
}

TEST_F(agent_process_test, show_messages_leave_the_instance_serving) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    EXPECT_TRUE(post_show_message(setup, 0));
    EXPECT_TRUE(post_show_message(setup, 1));
    EXPECT_TRUE(post_show_message(setup, 0));
    ws_test_client page;
    EXPECT_TRUE(page.connect("127.0.0.1", setup.plain()));
    EXPECT_TRUE(instance.running());
    page.close();
    kill_and_expect_clean_end(instance);
}

TEST_F(agent_process_test, page_initialises_joins_and_leaves_through_the_started_program) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    {
        agent_client page;
        ASSERT_TRUE(page.connect(setup.plain()));
        EXPECT_EQ(page.request(R"({"command":"initialize","appID":"process-test"})"),
                  R"({"command":"initialize","code":true})");
        EXPECT_EQ(page.request(R"({"command":"joinChannel","channelKey":"","channelName":"room","uid":77})"),
                  R"({"command":"joinChannel","uid":77,"code":true})");
        EXPECT_EQ(page.request(R"({"command":"leaveChannel"})"),
                  R"({"command":"leaveChannel","code":true})");
    }
    kill_and_expect_clean_end(instance);
}

// An installation folder named in scripts outside any ANSI code page (a user name, say).
TEST_F(agent_process_test, installed_copy_serves_tls_and_loads_its_engine_from_a_folder_in_any_script) {
    setup.program = install_agent_copy(folder.path() + "/Пользователь 用户");
    ASSERT_FALSE(setup.program.empty());
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    {
        agent_client page(true);
        ASSERT_TRUE(page.connect(setup.tls()));
        EXPECT_EQ(page.request(R"({"command":"initialize","appID":"installed"})"),
                  R"({"command":"initialize","code":true})");
    }
    kill_and_expect_clean_end(instance);
}

// A key behind a pass phrase must not make the agent wait for someone to type it: the
// handshake fails as without a key, the TLS server goes on, and the agent still ends.
TEST_F(agent_process_test, key_behind_a_pass_phrase_fails_the_handshake_without_prompting) {
    setup.program = install_agent_copy(folder.path() + "/installed", "secret");
    ASSERT_FALSE(setup.program.empty());
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    for (int attempt = 0; attempt < 2; ++attempt) {
        ws_test_client secure(true);
        EXPECT_FALSE(secure.connect("127.0.0.1", setup.tls(), std::chrono::seconds(3)));
        EXPECT_NE(http_upgrade_status(setup.tls(), "127.0.0.1", true), 101);
    }
    ws_test_client plain;
    EXPECT_TRUE(plain.connect("127.0.0.1", setup.plain()));
    plain.close();
    kill_and_expect_clean_end(instance);
}

// "-make-certificate" beside an installed copy, as the installer runs it; the copy's agent runs
// meanwhile, so every new pair is checked by a handshake as a browser would make it.
class make_certificate_test : public agent_process_test {
protected:
    make_certificate_test() : installed(folder.path() + "/installed") {
        setup.program = install_agent_copy(installed);
    }

    static std::string file_of(const std::string& path) {
        return rtc::web::platform_read_file(path).value_or("");
    }
    std::string file(const char* name) const { return file_of(installed + "/" + name); }
    std::string chain() const { return file("kelvo_cert_chain.pem"); }
    std::string key_path() const { return installed + "/kelvo_key.pem"; }

    std::optional<int> make_certificate() {
        return agent_process(setup, {"-make-certificate"}).wait_exit();
    }

    // The upgrade's status from a client that trusts the certificate beside the copy alone.
    int trusting_upgrade(const std::string& host) {
        return http_upgrade(setup.tls(), host + ":" + std::to_string(setup.tls()), true, nullptr,
                            std::chrono::seconds(5), chain())
            .status;
    }

    // A new pair that a browser trusting it accepts for both names.
    void expect_made_pair() {
        EXPECT_EQ(describe_certificate(chain()),
                  "EC prime256v1, ecdsa-with-SHA256, not a CA, serverAuth only, 825 days");
        EXPECT_TRUE(readable_by_user_only(key_path()));
        EXPECT_EQ(trusting_upgrade("127.0.0.1"), 101);
        EXPECT_EQ(trusting_upgrade("agent.kelvo.localhost"), 101);
    }

    const std::string installed;
};

TEST_F(make_certificate_test, makes_a_missing_pair_while_the_agent_runs_and_keeps_it_afterwards) {
    ASSERT_FALSE(setup.program.empty());
    for (const char* name : {"kelvo_cert_chain.pem", "kelvo_key.pem"}) {
        std::filesystem::remove(std::filesystem::u8path(installed + "/" + name));
    }
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    // Starting makes no files: without them only TLS handshakes fail.
    EXPECT_TRUE(chain().empty());
    EXPECT_EQ(http_upgrade_status(setup.tls(), "127.0.0.1", true), -1);

    EXPECT_EQ(make_certificate(), 0);
    expect_made_pair();
    const std::string made_chain = chain();
    const std::string made_key = file("kelvo_key.pem");
    EXPECT_EQ(make_certificate(), 0);
    EXPECT_EQ(chain(), made_chain);
    EXPECT_EQ(file("kelvo_key.pem"), made_key);
    kill_and_expect_clean_end(instance);
}

// The copy comes with a pair made by the openssl command; the others are put in its place in
// turn. Only a pair of the program's own kind that lasts beyond 30 days is kept; anything else
// that a page's browser might be told to trust (a certificate authority, another site's, a weak
// key) is replaced.
TEST_F(make_certificate_test, keeps_only_its_own_kind_of_pair_lasting_beyond_30_days) {
    ASSERT_FALSE(setup.program.empty());
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    temporary_folder other;
    struct pair_case {
        const char* what;
        std::function<bool()> lay;
        bool replaced;
    };
    const std::string chain_path = installed + "/kelvo_cert_chain.pem";
    // A pair the program made earlier, that ends in `days_left` days.
    auto own_pair = [&](int days_left) {
        const std::time_t made = std::time(nullptr) -
            static_cast<std::time_t>(rtc::web::self_signed_lifetime_days - days_left) * 86400;
        return rtc::web::make_self_signed_certificate(made).value();
    };
    auto lay_own = [&](int days_left) {
        return [&, days_left] {
            const auto pair = own_pair(days_left);
            return rtc::web::platform_replace_private_file(key_path(), pair.key_pem) &&
                   rtc::web::platform_replace_file_contents(chain_path, pair.chain_pem);
        };
    };
    auto lay_other = [&](const std::string& kind, int days) {
        return [&, kind, days] {
            return write_certificate_pair(installed, "kelvo_key.pem", "", days, kind);
        };
    };
    const std::string own_names =
        " -addext \"subjectAltName=IP:127.0.0.1,DNS:agent.kelvo.localhost\""
        " -addext basicConstraints=critical,CA:FALSE -addext extendedKeyUsage=serverAuth";
    const std::vector<pair_case> cases = {
        {"openssl's, ends tomorrow", [] { return true; }, true},
        {"own, ends in 20 days", lay_own(20), true},
        {"own, lasts 40 days", lay_own(40), false},
        {"own, its key readable by others",
         [&] {
             // Written anew as any file is (on Windows: the folder's access list), then opened
             // to everyone (POSIX).
             namespace fs = std::filesystem;
             const auto key = rtc::web::platform_read_file(key_path());
             if (!key || !rtc::web::platform_replace_file_contents(key_path(), *key)) return false;
             std::error_code error;
             fs::permissions(fs::u8path(key_path()), fs::perms::group_read | fs::perms::others_read,
                             fs::perm_options::add, error);
             return !error;
         },
         false},
        {"certificate is not PEM",
         [&] { return rtc::web::platform_replace_file_contents(chain_path, "garbage"); }, true},
        {"own, with the key of another own pair",
         [&] {
             return lay_own(400)() &&
                    rtc::web::platform_replace_private_file(key_path(), own_pair(400).key_pem);
         },
         true},
        {"own, followed by another certificate",
         [&] {
             return lay_own(400)() && write_certificate_pair(other.path()) &&
                    rtc::web::platform_replace_file_contents(
                        chain_path, file_of(chain_path) + file_of(other.path() +
                                                                  "/kelvo_cert_chain.pem"));
         },
         true},
        {"key behind a pass phrase",
         [&] { return write_certificate_pair(installed, "kelvo_key.pem", "secret", 40); }, true},
        {"a certificate authority for *.bank.example",
         lay_other(std::string(test_certificate_kind) +
                       " -addext \"subjectAltName=DNS:*.bank.example\"",
                   400),
         true},
        {"RSA-1024 and SHA-1 for the agent's names", lay_other("-newkey rsa:1024 -sha1" + own_names, 400),
         true},
        {"a certificate authority for the agent's names",
         lay_other(std::string(test_certificate_kind) +
                       " -addext \"subjectAltName=IP:127.0.0.1,DNS:agent.kelvo.localhost\"",
                   400),
         true},
        {"the agent's names for ten years",
         lay_other(std::string(test_certificate_kind) + own_names, 3650), true},
    };
    for (const pair_case& laid : cases) {
        SCOPED_TRACE(laid.what);
        ASSERT_TRUE(laid.lay());
        const std::string before = chain();
        EXPECT_EQ(make_certificate(), 0);
        if (laid.replaced) {
            EXPECT_NE(chain(), before);
            expect_made_pair();
        } else {
            EXPECT_EQ(chain(), before);
            EXPECT_TRUE(readable_by_user_only(key_path()));
        }
    }
    kill_and_expect_clean_end(instance);
}

// The one test on the product's own ports.
TEST_F(agent_process_test, listens_on_ports_8921_and_8922_by_default) {
    setup.tls_port = 0;
    setup.plain_port = 0;
    if (port_accepts(8921) || port_accepts(8922)) {
        GTEST_SKIP() << "ports 8921/8922 are in use (is an agent running?); "
                        "the default ports cannot be checked";
    }
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    kill_and_expect_clean_end(instance);
}

using rtc::web::site_decision;
using rtc::web::site_decisions;

site_decision remembered(const agent_setup& setup, const std::string& origin) {
    return site_decisions(sites_file_path(setup)).decision(origin);
}

// The agent reads its own user's settings (in a folder named in any script) and each switch
// edits those of the user who runs it, here another folder. The agent's file is damaged before
// each switch runs: it is set aside only when the agent reads it again, so that shows the
// switch's message reached the agent.
TEST_F(agent_process_test, site_switches_edit_the_sites_file_and_make_the_running_agent_reload) {
    setup.config_folder = folder.path() + "/Пользователь 用户";
    std::filesystem::create_directories(std::filesystem::u8path(setup.config_folder));
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    agent_setup editor = setup;
    editor.config_folder = folder.path();
    const auto aside_path = std::filesystem::u8path(sites_file_path(setup) + ".damaged");
    const std::vector<std::pair<std::vector<std::string>, site_decision>> switches = {
        {{"-allow", "HTTP://Example.com:80"}, site_decision::allowed},
        {{"-block", "http://example.com"}, site_decision::blocked},
        {{"-forget", "http://example.com/"}, site_decision::undecided},
    };
    for (const auto& [arguments, decision] : switches) {
        std::filesystem::remove(aside_path);
        ASSERT_TRUE(rtc::web::platform_replace_file_contents(sites_file_path(setup), "damaged"));
        agent_process edit(editor, arguments);
        EXPECT_EQ(edit.wait_exit(), 0) << arguments[0];
        EXPECT_EQ(remembered(editor, "http://example.com"), decision) << arguments[0];
        EXPECT_TRUE(wait_until([&] { return std::filesystem::exists(aside_path); }))
            << arguments[0] << " did not make the agent read its file again";
    }
    ws_test_client page;
    EXPECT_TRUE(page.connect("127.0.0.1", setup.plain()));
    page.close();
    kill_and_expect_clean_end(instance);
}

// A sites file that cannot be read (here a folder in its place; after "sudo -E kelvo_web_agent
// -allow ...", a file of root's) is never taken for an empty one: a switch fails and leaves it
// as it is, and the running agent refuses every site, saying why, until it can read it again.
TEST_F(agent_process_test, sites_file_that_cannot_be_read_fails_the_switches_and_refuses_every_site) {
    const std::string path = sites_file_path(setup);
    const std::string allowed = R"({"origins":{"http://allowed.test":"allowed"}})";
    std::filesystem::create_directories(std::filesystem::u8path(path).parent_path());
    ASSERT_TRUE(rtc::web::platform_replace_file_contents(path, allowed));
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    auto initialize_from = [&](const std::string& origin) {
        agent_client page;
        page.connection().set_origin(origin);
        EXPECT_TRUE(page.connect(setup.plain()));
        return page.request(R"({"command":"initialize","appID":"process-test"})");
    };
    EXPECT_EQ(initialize_from("http://allowed.test"), R"({"command":"initialize","code":true})");

    std::filesystem::remove(std::filesystem::u8path(path));
    std::filesystem::create_directory(std::filesystem::u8path(path));
    EXPECT_TRUE(post_reload_message(setup));
    EXPECT_TRUE(wait_until([&] { return instance.errors().find("cannot be read") != std::string::npos; }))
        << instance.errors();
    for (const char* origin : {"http://allowed.test", "http://other.test"}) {
        EXPECT_EQ(initialize_from(origin),
                  R"({"command":"initialize","code":403,"reason":"sites-unreadable"})");
    }
    for (const char* word : {"-allow", "-block", "-forget"}) {
        agent_process edit(setup, {word, "http://allowed.test"});
        EXPECT_EQ(edit.wait_exit(), 1) << word;
        EXPECT_NE(edit.errors().find("was left as it was"), std::string::npos) << edit.errors();
        EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::u8path(path))) << word;
    }
    EXPECT_TRUE(instance.running());

    std::filesystem::remove(std::filesystem::u8path(path));
    ASSERT_TRUE(rtc::web::platform_replace_file_contents(path, allowed));
    EXPECT_TRUE(post_reload_message(setup));
    EXPECT_TRUE(wait_until([&] { return instance.errors().find("can be read again") != std::string::npos; }));
    EXPECT_EQ(initialize_from("http://allowed.test"), R"({"command":"initialize","code":true})");
    kill_and_expect_clean_end(instance);
}

// Another process blocking or forgetting the site of the running session ends the session: its
// page is closed with 4003 and says why.
TEST_F(agent_process_test, blocking_or_forgetting_the_running_session_s_site_ends_the_session) {
    const std::string site = "https://meet.example";
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    for (const char* ending : {"-block", "-forget"}) {
        agent_process allow(setup, {"-allow", site});
        ASSERT_EQ(allow.wait_exit(), 0);
        agent_client page;
        page.connection().set_origin(site);
        ASSERT_TRUE(page.connect(setup.plain()));
        ASSERT_EQ(page.request(R"({"command":"initialize","appID":"process-test"})"),
                  R"({"command":"initialize","code":true})");
        agent_process edit(setup, {ending, site});
        EXPECT_EQ(edit.wait_exit(), 0);
        const std::optional<close_info> closed = page.connection().wait_close(process_timeout);
        ASSERT_TRUE(closed.has_value()) << ending;
        EXPECT_EQ(closed->code, 4003) << ending;
        EXPECT_EQ(closed->reason, "the user blocked this site");
    }
    kill_and_expect_clean_end(instance);
}

TEST_F(agent_process_test, site_switches_answer_a_wrong_command_line_with_two_and_write_nothing) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"-allow"}, {"-allow", "example.com"}, {"-block", "https://a.test/path"},
             {"-allow", "null"}, {"-forget", "https://a.test", "more"}}) {
        agent_process edit(setup, arguments);
        EXPECT_EQ(edit.wait_exit(), 2) << arguments.back();
        if (arguments.size() != 2) {
            EXPECT_NE(edit.errors().find("kelvo_web_agent -help"), std::string::npos)
                << edit.errors();
        }
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(sites_file_path(setup))));
    // Without a running agent the file is still edited, and no agent is started.
    agent_process edit(setup, {"-block", "null"});
    EXPECT_EQ(edit.wait_exit(), 0);
    EXPECT_EQ(remembered(setup, "null"), site_decision::blocked);
    EXPECT_FALSE(port_accepts(setup.plain()));
}

TEST_F(agent_process_test, site_switches_run_together_lose_no_decision_while_the_agent_reloads) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    constexpr int editors = 6;
    std::vector<std::unique_ptr<agent_process>> edits;
    for (int i = 0; i < editors; ++i) {
        const std::string origin = "https://site-" + std::to_string(i) + ".test";
        edits.push_back(
            std::make_unique<agent_process>(setup, std::vector<std::string>{"-allow", origin}));
    }
    for (auto& edit : edits) EXPECT_EQ(edit->wait_exit(), 0);
    EXPECT_EQ(site_decisions(sites_file_path(setup)).list().size(), static_cast<size_t>(editors));
    EXPECT_TRUE(instance.running());
    kill_and_expect_clean_end(instance);
}

}  // namespace
}  // namespace test
}  // namespace kelvo
