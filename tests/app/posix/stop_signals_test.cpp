// POSIX only: SIGINT and SIGTERM end the agent as "close" does, a control socket left behind by
// a killed instance does not stop the next one, the TLS server fails its handshakes without a
// certificate pair, and an agent out of descriptors waits instead of spinning.
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/posix/control_socket.h"
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

}  // namespace
}  // namespace test
}  // namespace kelvo
