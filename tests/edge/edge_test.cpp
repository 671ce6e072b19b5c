// Bad input at the edge of the agent: oversized and deeply nested messages, bytes that are not
// UTF-8, an oversized handshake, a page that never reads its replies and a crowd of idle
// connections. Each gets a clean answer or a clean refusal, and a well-behaved page keeps being
// served meanwhile.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "support/agent_fixture.h"
#include "support/posix/other_user.h"
#include "support/raw_connection.h"

namespace kelvo {
namespace test {
namespace {

constexpr size_t message_limit = 1 << 20;
constexpr size_t unread_reply_limit = 16 << 20;
constexpr size_t connection_limit = 256;
constexpr int message_too_big = 1009;
constexpr int policy_violation = 1008;
constexpr int invalid_payload = 1007;
constexpr int abrupt_end = 1006;
constexpr int rejected = 3001;

class edge_input : public agent_fixture {
protected:
    // A page that initialised before the bad input keeps its session and its replies.
    void expect_page_served(agent_client& page) {
        EXPECT_EQ(json_uint(page.request(R"({"command":"getDevices"})"), "code"), 0u)
            << "the control page lost its session";
        auto second = connect(1);
        EXPECT_NE(second->request(R"({"command":"getVersion"})").find(R"("command":"getVersion")"),
                  std::string::npos);
    }
};

TEST_F(edge_input, message_at_the_size_limit_is_answered_and_one_over_it_is_refused) {
    auto page = control();
    page->join(7);

    // Exactly at the limit: a command padded with blanks is an ordinary command.
    std::string at_limit = R"({"command":"getVersion"})";
    at_limit.resize(message_limit, ' ');
    auto big = connect();
    ASSERT_TRUE(big->send(at_limit));
    const std::string version = big->take([](const std::string&) { return true; }).value_or("");
    EXPECT_NE(version.find(R"("command":"getVersion")"), std::string::npos) << version;

    // One byte more: closed as too big, before the agent sees any of it. The server closes while
    // the rest of the message is still on its way, and the bytes it leaves unread may turn its
    // close frame into a reset, so the client sees 1009 or an abrupt end (1006).
    std::string over = at_limit + " ";
    auto bigger = connect();
    ASSERT_TRUE(bigger->send(over));
    const auto closed = bigger->connection().wait_close(agent_timeout);
    ASSERT_TRUE(closed.has_value());
    EXPECT_TRUE(closed->code == message_too_big || closed->code == abrupt_end) << closed->code;

    expect_page_served(*page);
}

TEST_F(edge_input, deeply_nested_message_is_refused_without_harm) {
    auto page = control();
    std::string nested = R"({"command":"getVersion","x":)" + std::string(10000, '[') +
                         std::string(10000, ']') + "}";
    auto deep = connect();
    ASSERT_TRUE(deep->send(nested));
    const auto closed = deep->connection().wait_close(agent_timeout);
    ASSERT_TRUE(closed.has_value());
    EXPECT_EQ(closed->code, rejected);

    expect_page_served(*page);

    // On the control connection: the page is refused, its session ends cleanly and a new page
    // can take over.
    ASSERT_TRUE(page->send(nested));
    const auto control_closed = page->connection().wait_close(agent_timeout);
    ASSERT_TRUE(control_closed.has_value());
    EXPECT_EQ(control_closed->code, rejected);
    auto next_page = control(1);
    next_page->join(3);
    expect_page_served(*next_page);
}

TEST_F(edge_input, text_that_is_not_utf8_is_closed_by_the_library_and_bad_escapes_are_answered) {
    auto page = control();

    raw_connection raw(port());
    ASSERT_TRUE(raw.ok());
    ASSERT_TRUE(raw.upgrade(port()));
    ASSERT_TRUE(raw.send_all(raw_connection::client_frame(
        0x1, "{\"command\":\"joinChannel\",\"channel\":\"\xC3\x28\xFF\",\"uid\":1}")));
    EXPECT_EQ(raw.close_code(), invalid_payload);

    // Escapes that name no character (lone surrogates, code point 0) are valid UTF-8 on the wire:
    // the command runs and is answered as usual.
    const std::string reply = page->request(
        R"({"command":"setEncryptionSecret","secret":"\ud800\udfff\u0000x\uDBFF"})");
    EXPECT_EQ(reply, R"({"command":"setEncryptionSecret","code":true})");
    const std::string join =
        page->join(9, "\xF0\x9F\x98\x80\\ud83d");  // an emoji, then a lone high surrogate
    EXPECT_EQ(json_uint(join, "uid"), 9u) << join;

    expect_page_served(*page);
}

TEST_F(edge_input, oversized_handshake_gets_an_http_error) {
    auto page = control();
    raw_connection raw(port());
    ASSERT_TRUE(raw.ok());
    // A 64 KB header: more than the library reads for one request.
    raw.send_all(raw_connection::handshake(port(), "X-Filler: " + std::string(65536, 'f') + "\r\n"));
    const std::string answer = raw.read_until(
        [](const std::string& r) { return r.find("\r\n") != std::string::npos; });
    if (!answer.empty()) {
        EXPECT_EQ(answer.rfind("HTTP/1.1 4", 0), 0u) << answer.substr(0, 80);
    }
    EXPECT_EQ(answer.rfind("HTTP/1.1 101", 0), std::string::npos);
    expect_page_served(*page);
}

// In a child of the test (system calls only): connects to `agent`, from `from` when given, and
// sends `request`. True when the agent answers nothing at all: no byte before the end.
bool answers_nothing(const sockaddr_in* from, const sockaddr_in& agent,
                     const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if ((from && bind(fd, reinterpret_cast<const sockaddr*>(from), sizeof *from) != 0) ||
        connect(fd, reinterpret_cast<const sockaddr*>(&agent), sizeof agent) != 0) {
        close(fd);
        return false;
    }
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char answer[64];
    ssize_t got = 0;
    do {
        got = read(fd, answer, sizeof answer);
    } while (got < 0 && errno == EINTR);
    close(fd);
    return got <= 0;
}

// A program of another OS user on this machine gets nothing, not even an HTTP answer: not from
// 127.0.0.1, and not from another loopback address with a port that this user's sockets have,
// the agent's own or that of one of this user's live connections (anybody can see them).
TEST_F(edge_input, a_client_of_another_user_gets_nothing_from_any_loopback_address) {
    auto page = control();
    if (geteuid() != 0) GTEST_SKIP() << "a client of another user needs a suite run as root";
    const std::string request = raw_connection::handshake(port(1));
    const sockaddr_in agent = loopback_address_of("127.0.0.1", port(1));
    raw_connection own(port(1));
    ASSERT_TRUE(own.upgrade(port(1)));
    sockaddr_in own_end{};
    socklen_t own_size = sizeof own_end;
    ASSERT_EQ(getsockname(own.descriptor(), reinterpret_cast<sockaddr*>(&own_end), &own_size), 0);
    const sockaddr_in agent_port_elsewhere = loopback_address_of("127.0.0.2", port(0));
    const sockaddr_in own_port_elsewhere =
        loopback_address_of("127.0.0.2", ntohs(own_end.sin_port));
    const int status = exit_status(start_as_nobody([&] {
        if (!answers_nothing(nullptr, agent, request)) return 1;
        if (!answers_nothing(&agent_port_elsewhere, agent, request)) return 2;
        if (!answers_nothing(&own_port_elsewhere, agent, request)) return 3;
        return 0;
    }));
    EXPECT_EQ(status, 0) << "answered: 1 from 127.0.0.1, 2 from 127.0.0.2 with the agent's port, "
                            "3 with the port of a live connection; 9: could not become nobody";
    raw_connection again(port(1));
    EXPECT_TRUE(again.upgrade(port(1)));
    expect_page_served(*page);
}

// Another user's program that keeps hundreds of connections open, and ends and opens them as
// fast as it can, holds no place: this user's page is served all the while.
TEST_F(edge_input, another_user_s_churn_does_not_keep_this_user_s_page_out) {
    auto page = control();
    if (geteuid() != 0) GTEST_SKIP() << "a client of another user needs a suite run as root";
    constexpr int held = 300;
    constexpr time_t churn_seconds = 20;
    const sockaddr_in agent = loopback_address_of("127.0.0.1", port(0));
    std::vector<int> ring(held, -1);
    const pid_t churner = start_as_nobody(
        [&] { return churn_connections(agent, ring, churn_seconds); }, churn_seconds + 30);
    int refused = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(churn_seconds);
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto next = std::make_unique<agent_client>();
        const bool served = next->connect(port(0)) &&
                            next->request(R"({"command":"getVersion"})").find("code") !=
                                std::string::npos;
        refused += served ? 0 : 1;
        const auto pause = (end - std::chrono::steady_clock::now()) / (20 - attempt);
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
    }
    EXPECT_EQ(exit_status(churner), 0) << "9: could not become nobody";
    EXPECT_LE(refused, 1) << "of 20 pages";
    expect_page_served(*page);
}

TEST_F(edge_input, a_page_that_never_reads_its_replies_is_closed_and_others_are_served) {
    auto page = control();
    page->join(5);

    // Unknown commands whose names take almost the whole size limit: each reply repeats its name.
    // The page's socket holds little, so the replies wait in the agent. Replies already handed
    // to a write in progress no longer count as waiting, and one write may take up to the
    // limit's worth, so twice the limit (and a few more) is sure to cross it.
    const std::string command = R"({"command":")" + std::string(message_limit - 20, 'x') + R"("})";
    raw_connection hoarder(port(), 64 * 1024);
    ASSERT_TRUE(hoarder.ok());
    ASSERT_TRUE(hoarder.upgrade(port()));
    const std::string frame = raw_connection::client_frame(0x1, command);
    for (size_t sent = 0; sent < 2 * unread_reply_limit / message_limit + 8; ++sent) {
        ASSERT_TRUE(hoarder.send_all(frame)) << "command " << sent;
    }

    // Reading at once: the replies that were waiting, then the close. The agent ends a connection
    // whose page does not answer its close within a few seconds, which a slow build may spend on
    // the commands still coming after the close: then the page finds the connection ended before
    // it has read its way to the close frame.
    std::string reason;
    const int code = hoarder.close_code(&reason, std::chrono::seconds(20));
    if (code != 0 || !hoarder.ended_by_peer()) {
        EXPECT_EQ(code, policy_violation);
        EXPECT_EQ(reason, "too much unsent data");
    }
    expect_page_served(*page);
}

TEST_F(edge_input, connections_beyond_the_limit_are_turned_away_until_a_place_frees_up) {
    auto page = control();
    // With the page, the first server holds as many connections as it takes; none of them is
    // closed for being idle.
    std::vector<std::unique_ptr<raw_connection>> idle;
    for (size_t i = 1; i < connection_limit; ++i) {
        idle.push_back(std::make_unique<raw_connection>(port()));
        ASSERT_TRUE(idle.back()->ok()) << "connection " << i;
        ASSERT_TRUE(idle.back()->upgrade(port())) << "connection " << i;
    }

    raw_connection turned_away(port());
    ASSERT_TRUE(turned_away.ok());
    turned_away.send_all(raw_connection::handshake(port()));
    EXPECT_EQ(turned_away.read_until([](const std::string&) { return false; }), "");
    EXPECT_TRUE(turned_away.ended_by_peer());
    expect_page_served(*page);  // also a new page on the other server

    // A connection ends: the next page gets its place (as soon as the server has seen the end).
    idle.back()->reset();
    idle.pop_back();
    bool admitted = false;
    for (int attempt = 0; attempt < 100 && !admitted; ++attempt) {
        auto next = std::make_unique<raw_connection>(port());
        admitted = next->ok() && next->upgrade(port());
        if (admitted) idle.push_back(std::move(next));
    }
    EXPECT_TRUE(admitted);
    for (auto& connection : idle) {
        connection->read_until([](const std::string&) { return false; },
                               std::chrono::milliseconds(1));
        EXPECT_FALSE(connection->ended_by_peer());
    }
    expect_page_served(*page);
}

}  // namespace
}  // namespace test
}  // namespace kelvo
