// Bad input at the edge of the agent: oversized and deeply nested messages, bytes that are not
// UTF-8, an oversized handshake and a crowd of idle connections. Each gets a clean answer or a
// clean refusal, and a well-behaved page keeps being served meanwhile.
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/agent_fixture.h"
#include "support/raw_connection.h"

namespace kelvo {
namespace test {
namespace {

constexpr size_t library_message_limit = 32000000;
constexpr int message_too_big = 1009;
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
