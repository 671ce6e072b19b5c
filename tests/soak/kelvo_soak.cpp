// Soak: the agent with the stand-in engine on a TLS and a plain server, driven for a while by
// several simulated pages at once. One page at a time holds the engine session (joins, has the
// engine add and remove peers, streams and emits events); the others open and close connections
// on both servers, subscribe, query, and drop stream connections abruptly in the middle of a
// frame. Every reply must come within its deadline; at the end the program prints what was
// handled, the errors seen and the memory in use at start and end.
//
//   kelvo_soak [--seconds N] [--pages N]      (default 60 s, 4 pages); exit status 1 on errors

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/agent_fixture.h"
#include "support/certificate_pair.h"
#include "support/in_process_agent.h"
#include "support/process_memory.h"
#include "support/raw_connection.h"
#include "support/temporary_folder.h"
#include "support/ws_test_client.h"

using namespace kelvo::test;

namespace {

constexpr std::chrono::milliseconds reply_deadline{5000};
constexpr std::chrono::seconds settle_time{6};

struct counters {
    std::atomic<uint64_t> connections{0};
    std::atomic<uint64_t> commands{0};
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> resets{0};
    std::atomic<uint64_t> sessions{0};
    // Connections the agent closed under a page: every other connection of a server goes when
    // the control connection on it closes.
    std::atomic<uint64_t> closed_by_agent{0};
    std::atomic<uint64_t> errors{0};
};

long kilobytes(size_t bytes) { return static_cast<long>(bytes / 1024); }

const auto program_start = std::chrono::steady_clock::now();

void error(counters& c, const char* what, const std::string& detail = std::string()) {
    ++c.errors;
    const long long at = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - program_start)
                             .count();
    std::fprintf(stderr, "soak: error at %lld ms: %s %s\n", at, what, detail.substr(0, 200).c_str());
}

// A connection that got no answer is one the agent closed when it ends within the deadline. A
// send on a connection the agent is already closing fails at once, before the client has seen the
// end of the closing handshake, so "still open" cannot be judged at that moment.
bool ends_within_deadline(ws_test_client& client) {
    return client.wait_close(reply_deadline).has_value();
}

// A command on a fresh TLS or plain connection, answered within the deadline.
void query(counters& c, uint16_t port, bool tls, const std::string& command) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        ws_test_client client(tls);
        if (!client.connect("127.0.0.1", port)) {
            // Closed by the agent as it opened, or refused: only a second failure is an error.
            if (attempt == 1) error(c, "connect", tls ? "tls" : "plain");
            continue;
        }
        ++c.connections;
        client.send_text(command);
        ++c.commands;
        if (client.wait_text(reply_deadline)) {
            client.close();
            return;
        }
        if (!ends_within_deadline(client)) return error(c, "no reply on an open connection to", command);
        ++c.closed_by_agent;
        return;
    }
}

// A stream connection subscribing to `uid` over the plain server, reset abruptly after a part of
// a frame has been read.
void reset_mid_frame(counters& c, uint16_t port, uint32_t uid) {
    raw_connection raw(port);
    if (!raw.ok() || !raw.upgrade(port)) return error(c, "raw upgrade");
    ++c.connections;
    raw.send_all(raw_connection::client_frame(
        0x1, R"({"command":"subscribe","uid":)" + std::to_string(uid) + "}"));
    ++c.commands;
    raw.read_until([](const std::string& r) { return r.size() > 3000; },
                   std::chrono::milliseconds(500));
    raw.reset();
    ++c.resets;
}

// The page holding the engine session for one round.
void session_round(counters& c, agent_client& page, uint16_t plain, uint16_t tls,
                   std::mt19937& random) {
    ++c.sessions;
    const uint32_t own = 1 + random() % 1000;
    const std::string join = page.join(own);
    ++c.commands;
    if (join.find(R"("code":true)") == std::string::npos) return error(c, "join", join);
    const uint32_t peer = 2000 + random() % 1000;
    page.engine_parameters(R"({"sim.peer.add":{"uid":)" + std::to_string(peer) +
                           R"(,"video":true},"sim.video":{"width":160,"height":120,"fps":60}})");
    ++c.commands;

    // A subscriber on each server; frames must flow to both.
    for (bool over_tls : {false, true}) {
        ws_test_client stream(over_tls);
        if (!stream.connect("127.0.0.1", over_tls ? tls : plain)) {
            error(c, "stream connect");
            continue;
        }
        ++c.connections;
        stream.send_text(R"({"command":"subscribe","uid":)" + std::to_string(peer) + "}");
        ++c.commands;
        if (!stream.wait_text(reply_deadline)) error(c, "no subscribe reply");
        for (int i = 0; i < 5; ++i) {
            if (!stream.wait_binary(reply_deadline)) {
                error(c, "no frame");
                break;
            }
        }
        c.frames += stream.binary_count();
        if (random() % 2) stream.close();  // otherwise dropped with the object
    }
    reset_mid_frame(c, plain, peer);
    page.engine_parameters(R"({"sim.emit":{"callback":"warning","code":)" +
                           std::to_string(random() % 100) + "}}");
    page.engine_parameters(R"({"sim.peer.remove":)" + std::to_string(peer) + "}");
    c.commands += 2;
    if (page.request(R"({"command":"getDevices"})").empty()) error(c, "no getDevices reply");
    ++c.commands;
    if (random() % 2) {
        page.request(R"({"command":"leaveChannel"})");
        ++c.commands;
    }
}

void page_loop(counters& c, int page_index, uint16_t plain, uint16_t tls,
               std::chrono::steady_clock::time_point end) {
    std::mt19937 random(static_cast<unsigned>(page_index) * 7919u + 1u);
    while (std::chrono::steady_clock::now() < end) {
        query(c, plain, false, R"({"command":"getVersion"})");
        query(c, tls, true, R"({"command":"getVersion"})");
        auto page = std::make_unique<agent_client>();
        if (!page->connect(plain)) {
            ++c.closed_by_agent;  // as for the queries: closed as it opened
            continue;
        }
        ++c.connections;
        const std::string initialized =
            page->request(R"({"command":"initialize","appID":"soak"})");
        ++c.commands;
        if (initialized.empty()) {
            if (ends_within_deadline(page->connection())) ++c.closed_by_agent;
            else error(c, "no initialize reply on an open connection");
        } else if (initialized.find(R"("code":true)") != std::string::npos) {
            session_round(c, *page, plain, tls, random);
            // Half the sessions end by dropping the control connection without a goodbye.
            if (random() % 2) page->connection().close();
        } else {
            // Another page holds the session: a stream connection that goes away at once.
            query(c, plain, false, R"({"command":"subscribe","uid":1})");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    int pages = 4;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") seconds = std::atoi(argv[i + 1]);
        else if (option == "--pages") pages = std::atoi(argv[i + 1]);
    }

    const temporary_folder certificates;
    if (certificates.path().empty() || !write_certificate_pair(certificates.path())) {
        std::fprintf(stderr, "soak: the openssl command failed\n");
        return 2;
    }

    int status = 0;
    {
        in_process_agent_options options;
        options.tls_certificate_folder = certificates.path();
        options.engine_log_prefix = "kelvo-soak";
        in_process_agent agent(options);
        if (!agent.failure().empty()) {
            std::fprintf(stderr, "soak: the servers did not start: %s\n", agent.failure().c_str());
            return 2;
        }
        const uint16_t tls = agent.port(0);
        const uint16_t plain = agent.port(1);

        counters c;
        // Warm-up round, so the start figure includes the engine and TLS set-up.
        page_loop(c, 0, plain, tls, std::chrono::steady_clock::now());
        query(c, tls, true, R"({"command":"getVersion"})");
        const long rss_start = kilobytes(resident_bytes());
        const long heap_start = kilobytes(heap_bytes_in_use());
        const auto begin = std::chrono::steady_clock::now();
        const auto end = begin + std::chrono::seconds(seconds);
        std::vector<std::thread> threads;
        for (int p = 0; p < pages; ++p)
            threads.emplace_back([&, p] { page_loop(c, p, plain, tls, end); });
        for (auto& t : threads) t.join();
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        // Connections the pages dropped finish closing on the servers' timers (TLS shutdown,
        // closing handshake): the end figures are taken once those have run out.
        std::this_thread::sleep_for(settle_time);
        const long rss_end = kilobytes(resident_bytes());
        const long heap_end = kilobytes(heap_bytes_in_use());

        std::printf("soak: %.0f s, %d pages: %llu connections, %llu commands, %llu frames, "
                    "%llu sessions, %llu resets mid-frame, %llu closed by the agent, %llu errors\n"
                    "soak: memory at start and end: resident %ld kB, %ld kB; heap in use %ld kB, "
                    "%ld kB\n",
                    elapsed, pages, (unsigned long long)c.connections.load(),
                    (unsigned long long)c.commands.load(), (unsigned long long)c.frames.load(),
                    (unsigned long long)c.sessions.load(), (unsigned long long)c.resets.load(),
                    (unsigned long long)c.closed_by_agent.load(),
                    (unsigned long long)c.errors.load(), rss_start, rss_end, heap_start, heap_end);
        if (c.errors.load() != 0) status = 1;
    }
    return status;
}
