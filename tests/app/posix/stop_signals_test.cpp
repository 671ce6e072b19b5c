// POSIX only: SIGINT and SIGTERM end the agent as "close" does, a control socket left behind by
// a killed instance does not stop the next one, and the TLS server reads its certificate pair
// from the program's own folder.
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "app/agent_process.h"
#include "app/posix/control_socket.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {
namespace {

namespace fs = std::filesystem;

class AgentPosixTest : public ::testing::Test {
protected:
    AgentPosixTest() {
        setup.tls_port = free_loopback_port();
        do {
            setup.plain_port = free_loopback_port();
        } while (setup.plain_port == setup.tls_port);
        setup.runtime_folder = folder.path();
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

TEST_F(AgentPosixTest, SigtermAndSigintEndTheAgentWithZero) {
    for (int number : {SIGTERM, SIGINT}) {
        agent_process instance(setup);
        ASSERT_TRUE(wait_serving(setup, instance));
        kill(static_cast<pid_t>(instance.id()), number);
        EXPECT_EQ(instance.wait_exit(), 0) << "signal " << number;
        expect_stopped();
    }
}

TEST_F(AgentPosixTest, CloseMessageEndsTheAgentAndOtherTextsAreIgnored) {
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

TEST_F(AgentPosixTest, ControlSocketOfAKilledInstanceDoesNotStopTheNextOne) {
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

TEST_F(AgentPosixTest, TlsServerUsesTheCertificatePairBesideTheProgram) {
    // A copy of the program and the engine in a folder of their own, with a fresh pair.
    const fs::path built = fs::path(agent_program_path()).parent_path();
    const fs::path installed = fs::path(folder.path()) / "installed";
    fs::create_directory(installed);
    fs::copy_file(built / "kelvo_web_agent", installed / "kelvo_web_agent");
    fs::copy_file(built / "librizudada.so", installed / "librizudada.so");
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -keyout '" + (installed / "kelvo_key.pem").string() +
        "' -out '" + (installed / "kelvo_cert_chain.pem").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    setup.program = (installed / "kelvo_web_agent").string();

    agent_process instance(setup);
    ASSERT_TRUE(wait_serving(setup, instance));
    ws_test_client page(true);
    EXPECT_TRUE(page.connect("127.0.0.1", setup.tls()));
    page.close();
    EXPECT_TRUE(post_control_text(setup, "close"));
    EXPECT_EQ(instance.wait_exit(), 0);
}

TEST_F(AgentPosixTest, TlsHandshakeFailsWithoutCertificatesButThePlainServerServes) {
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

}  // namespace
}  // namespace test
}  // namespace kelvo
