// POSIX only: SIGINT and SIGTERM end the agent as "close" does, a control socket left behind by
// a killed instance does not stop the next one, the TLS server fails its handshakes without a
// certificate pair, an agent out of descriptors waits instead of spinning, and the lock and
// control socket live only in a folder of the user's own.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/posix/control_socket.h"
#include "platform/posix/runtime_folder.h"
#include "support/agent_fixture.h"
#include "support/raw_connection.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {
namespace {

namespace fs = std::filesystem;

class agent_posix_test : public ::testing::Test {
protected:
    agent_posix_test() {
        setup = setup_on_free_ports(folder.path());
    }

    void expect_stopped() {
        EXPECT_FALSE(port_accepts(setup.tls()));
        EXPECT_FALSE(port_accepts(setup.plain()));
        EXPECT_FALSE(control_window_present(setup));
        EXPECT_FALSE(fs::exists(folder.path() + "/Kelvo Web Agent"));
    }

    temporary_folder folder;
    agent_setup setup;
};

// A stop signal is the user's quit: the page hears it as such, not as a crash.
TEST_F(agent_posix_test, sigterm_and_sigint_end_the_agent_with_zero) {
    for (int number : {SIGTERM, SIGINT}) {
        agent_process instance(setup);
        ASSERT_TRUE(wait_serving(setup, instance));
        ws_test_client page;
        ASSERT_TRUE(page.connect("127.0.0.1", setup.plain()));
        ASSERT_TRUE(page.ping_round_trip());
        kill(static_cast<pid_t>(instance.id()), number);
        EXPECT_EQ(instance.wait_exit(), 0) << "signal " << number;
        const std::optional<close_info> closed = page.wait_close(process_timeout);
        ASSERT_TRUE(closed.has_value()) << "signal " << number;
        EXPECT_EQ(closed->code, 1001) << "signal " << number;
        EXPECT_EQ(closed->reason, "the agent is quitting") << "signal " << number;
        expect_stopped();
    }
}

TEST_F(agent_posix_test, close_message_ends_the_agent_and_other_texts_are_ignored) {
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    for (const char* text : {"", "show", "show x", "show -1", "Close", "close now"}) {
        EXPECT_TRUE(post_control_text(setup, text)) << text;
    }
    ws_test_client page;
    EXPECT_TRUE(page.connect("127.0.0.1", setup.plain()));
    page.close();
    EXPECT_TRUE(instance.running());
    EXPECT_TRUE(post_control_text(setup, "close"));
    EXPECT_EQ(instance.wait_exit(), 0);
    expect_stopped();
}

TEST_F(agent_posix_test, control_socket_of_a_killed_instance_does_not_stop_the_next_one) {
    {
        agent_process killed(setup);
        ASSERT_TRUE(wait_serving(setup, killed));
        kill(static_cast<pid_t>(killed.id()), SIGKILL);
        EXPECT_FALSE(killed.wait_exit().has_value());
    }
    ASSERT_TRUE(fs::exists(folder.path() + "/Kelvo Web Agent"));
    EXPECT_FALSE(control_window_present(setup));
    // Nobody answers the leftover socket: "-kill" ends at once.
    agent_process killer(setup, {"-kill"});
    EXPECT_EQ(killer.wait_exit(), 0);

    agent_process next(setup);
    ASSERT_TRUE(wait_serving(setup, next));
    EXPECT_TRUE(post_control_text(setup, "close"));
    EXPECT_EQ(next.wait_exit(), 0);
    expect_stopped();
}

TEST_F(agent_posix_test, tls_handshake_fails_without_certificates_but_the_plain_server_serves) {
    const fs::path built = fs::path(agent_program_path()).parent_path();
    if (fs::exists(built / "kelvo_cert_chain.pem")) {
        GTEST_SKIP() << "the build folder holds a certificate pair (made by ./run)";
    }
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    ws_test_client secure(true);
    EXPECT_FALSE(secure.connect("127.0.0.1", setup.tls(), std::chrono::seconds(3)));
    ws_test_client plain;
    EXPECT_TRUE(plain.connect("127.0.0.1", setup.plain()));
    plain.close();
    EXPECT_TRUE(post_control_text(setup, "close"));
    EXPECT_EQ(instance.wait_exit(), 0);
}

TEST_F(agent_posix_test, out_of_descriptors_the_agent_waits_and_serves_its_pages_until_places_free_up) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer build pairs AddressSanitizer with UndefinedBehaviorSanitizer, which checks a
    // dynamic type it has not met before through a pipe: out of descriptors that pipe cannot be
    // made and the check reports a sound object as broken (its suppressions cannot help either).
    GTEST_SKIP() << "UndefinedBehaviorSanitizer's type checks need descriptors of their own";
#endif
    setup.descriptor_limit = 64;
    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    agent_client page;
    ASSERT_TRUE(page.connect(setup.plain()));
    EXPECT_EQ(page.request(R"({"command":"initialize","appID":"crowded"})"),
              R"({"command":"initialize","code":true})");

    // More clients than the agent has descriptors for: the last ones wait to be accepted.
    std::vector<std::unique_ptr<raw_connection>> crowd;
    for (int i = 0; i < 80; ++i) {
        crowd.push_back(std::make_unique<raw_connection>(setup.plain()));
        ASSERT_TRUE(crowd.back()->ok());
        crowd.back()->send_all(raw_connection::handshake(setup.plain()));
    }
    const auto answered = [](const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; };
    EXPECT_TRUE(answered(crowd.front()->read_until(answered)));
    EXPECT_FALSE(answered(crowd.back()->read_until(answered, std::chrono::milliseconds(500))));

    // Waiting at the limit costs next to nothing. (A loop that tries again at once takes a
    // whole core; the precise figure comes from the agent_limits benchmark.)
    const double cpu_before = instance.cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(instance.cpu_seconds() - cpu_before, 0.2);
    EXPECT_EQ(json_uint(page.request(R"({"command":"getDevices"})"), "code"), 0u);

    // Places free up: the waiting clients and then a new page get in.
    crowd.erase(crowd.begin(), crowd.begin() + 40);
    EXPECT_TRUE(answered(crowd.back()->read_until(answered)));
    crowd.clear();
    ws_test_client next;
    EXPECT_TRUE(next.connect("127.0.0.1", setup.plain()));
    next.close();
    EXPECT_TRUE(post_control_text(setup, "close"));
    EXPECT_EQ(instance.wait_exit(), 0);
}

// Where another user may put files (a shared temporary folder) they could hold the agent's lock
// or take its socket's name: the agent keeps both only in a folder of its user's alone.
class runtime_folder_test : public ::testing::Test {
protected:
    runtime_folder_test() {
        for (const char* name : {"KELVO_AGENT_RUNTIME_DIR", "XDG_RUNTIME_DIR", "TMPDIR"}) {
            const char* value = getenv(name);
            saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value)
                                                      : std::nullopt);
            unsetenv(name);
        }
        // Shared as /tmp is: everyone may add names, only their owner may take them away.
        chmod(shared.path().c_str(), 01777);
        setenv("TMPDIR", shared.path().c_str(), 1);
    }
    ~runtime_folder_test() override {
        for (const auto& [name, value] : saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

    // The folder, or the reason it was refused.
    static std::string folder_or_why() {
        std::string problem;
        const std::string folder = rtc::web::platform_runtime_folder(&problem);
        return folder.empty() ? "refused: " + problem : folder;
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    temporary_folder shared;
    const std::string own = shared.path() + "/kelvo-web-agent-" + std::to_string(geteuid());
};

TEST_F(runtime_folder_test, without_a_named_folder_the_agent_makes_its_own_and_refuses_a_planted_one) {
    EXPECT_EQ(folder_or_why(), own);
    struct stat status {};
    ASSERT_EQ(lstat(own.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    EXPECT_EQ(folder_or_why(), own) << "found again";

    chmod(own.c_str(), 0755);
    EXPECT_NE(folder_or_why().find("is open to other users (mode 755)"), std::string::npos)
        << folder_or_why();
    fs::remove(own);
    const std::string elsewhere = shared.path() + "/elsewhere";
    fs::create_directory(elsewhere);
    chmod(elsewhere.c_str(), 0700);
    fs::create_directory_symlink(elsewhere, own);
    EXPECT_NE(folder_or_why().find("is not a folder"), std::string::npos) << folder_or_why();
    fs::remove(own);
    if (geteuid() != 0) GTEST_SKIP() << "a folder of another user needs a suite run as root";
    fs::create_directory(own);
    chmod(own.c_str(), 0700);
    ASSERT_EQ(chown(own.c_str(), 65534, 65534), 0);
    const std::string refused = folder_or_why();
    EXPECT_NE(refused.find(own + " belongs to another user (uid 65534)"), std::string::npos)
        << refused;
    EXPECT_NE(refused.find("remove " + own), std::string::npos) << refused;
}

// The agent says why it cannot start and ends with -1, before it takes a port.
TEST_F(agent_posix_test, agent_without_a_private_runtime_folder_ends_with_minus_one_and_says_why) {
    chmod(folder.path().c_str(), 0777);
    agent_process instance(setup);
    EXPECT_EQ(instance.wait_exit(), -1);
    chmod(folder.path().c_str(), 0700);
    EXPECT_NE(instance.errors().find("cannot start: " + folder.path() +
                                     " is open to other users (mode 777)"),
              std::string::npos)
        << instance.errors();
    EXPECT_FALSE(port_accepts(setup.plain()));
    EXPECT_FALSE(fs::exists(folder.path() + "/RizudAdaEngineAgent"));
}

}  // namespace
}  // namespace test
}  // namespace kelvo
