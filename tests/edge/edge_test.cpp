// Bad input at the edge of the agent: oversized and deeply nested messages, bytes that are not
// UTF-8, an oversized handshake and a crowd of idle connections. Each gets a clean answer or a
// clean refusal, and a well-behaved page keeps being served meanwhile.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/agent_fixture.h"

namespace kelvo {
namespace test {
namespace {

constexpr size_t library_message_limit = 32000000;
constexpr int message_too_big = 1009;
constexpr int invalid_payload = 1007;
constexpr int abrupt_end = 1006;
constexpr int rejected = 3001;

// A bare TCP connection to the agent, for what a well-behaved WebSocket client cannot send.
class raw_connection {
public:
    explicit raw_connection(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~raw_connection() {
        if (fd_ >= 0) ::close(fd_);
    }
    raw_connection(const raw_connection&) = delete;
    raw_connection& operator=(const raw_connection&) = delete;

    bool ok() const { return fd_ >= 0; }

    bool send_all(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until `enough` accepts what has come, the peer closes, or the deadline passes.
    std::string read_until(bool (*enough)(const std::string&),
                           std::chrono::milliseconds timeout = agent_timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!enough(received_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            received_.append(buffer, static_cast<size_t>(n));
        }
        return received_;
    }

    static std::string handshake(uint16_t port, const std::string& extra_headers = std::string()) {
        return "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
               "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
               extra_headers + "\r\n";
    }

    // Completes the upgrade; true on "101".
    bool upgrade(uint16_t port) {
        if (!send_all(handshake(port))) return false;
        const std::string answer = read_until(
            [](const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; });
        const bool switched = answer.rfind("HTTP/1.1 101", 0) == 0;
        received_.erase(0, std::min(received_.size(), answer.find("\r\n\r\n") + 4));
        return switched;
    }

    // A masked (all-zero mask) client frame holding `payload`.
    static std::string client_frame(uint8_t opcode, const std::string& payload) {
        std::string frame(1, static_cast<char>(0x80 | opcode));
        if (payload.size() < 126) {
            frame += static_cast<char>(0x80 | payload.size());
        } else {
            frame += static_cast<char>(0x80 | 126);
            frame += static_cast<char>(payload.size() >> 8);
            frame += static_cast<char>(payload.size() & 0xFF);
        }
        frame.append(4, '\0');
        return frame + payload;
    }

    // The close code of the first server close frame received, 0 when none came.
    int close_code() {
        const std::string bytes = read_until([](const std::string& r) {
            return r.size() >= 4 && static_cast<uint8_t>(r[0]) == 0x88;
        });
        if (bytes.size() < 4 || static_cast<uint8_t>(bytes[0]) != 0x88) return 0;
        return (static_cast<uint8_t>(bytes[2]) << 8) | static_cast<uint8_t>(bytes[3]);
    }

private:
    int fd_ = -1;
    std::string received_;
};

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

    // Exactly at the library's limit: a command padded with blanks is an ordinary command.
    std::string at_limit = R"({"command":"getVersion"})";
    at_limit.resize(library_message_limit, ' ');
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

TEST_F(edge_input, a_thousand_idle_connections_do_not_crowd_out_a_page) {
    // Each connection costs the agent one descriptor and this test one more.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 2200 && limit.rlim_max >= 2200) {
        limit.rlim_cur = 2200;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const size_t count = std::min<size_t>(1000, (limit.rlim_cur - 200) / 2);
    RecordProperty("idle_connections", static_cast<int>(count));

    auto page = control();
    std::vector<std::unique_ptr<raw_connection>> idle;
    for (size_t i = 0; i < count; ++i) {
        idle.push_back(std::make_unique<raw_connection>(port(static_cast<int>(i % 2))));
        ASSERT_TRUE(idle.back()->ok()) << "connection " << i;
        ASSERT_TRUE(idle.back()->send_all(raw_connection::handshake(port(static_cast<int>(i % 2)))));
    }
    size_t upgraded = 0;
    for (auto& connection : idle) {
        const std::string answer = connection->read_until(
            [](const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; });
        if (answer.rfind("HTTP/1.1 101", 0) == 0) ++upgraded;
    }
    EXPECT_EQ(upgraded, count);
    expect_page_served(*page);
    idle.clear();  // all dropped at once
    expect_page_served(*page);
}

}  // namespace
}  // namespace test
}  // namespace kelvo
