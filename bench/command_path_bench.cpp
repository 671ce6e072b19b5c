// Command path: round trips of "getVersion" through the agent (our server, the dispatcher and the
// stand-in engine's version call) against round trips of the same text through a bare
// websocketpp echo server, measured in the same run with the same synchronous client, on one
// connection and on eight at once. Prints round trips/s, p50 and p99 latency and the ratios.
//
//   command_path_bench [seconds per measurement, default 2]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "loopback_library_server.h"
#include "support/in_process_agent.h"
#include "support/ws_test_client.h"

namespace {

using clock_type = std::chrono::steady_clock;
using kelvo::test::ws_test_client;

const std::string command = R"({"command":"getVersion"})";

// The library's ordinary server answering every text with itself.
void echo_every_message(loopback_library_server::server_type& server) {
    server.set_message_handler(
        [&server](websocketpp::connection_hdl handle,
                  loopback_library_server::server_type::message_ptr message) {
            std::error_code ignored;
            server.send(handle, message->get_payload(), message->get_opcode(), ignored);
        });
}

struct result {
    double rate = 0;  // round trips per second, all connections together
    double p50_us = 0;
    double p99_us = 0;
    size_t failures = 0;
};

result measure(uint16_t port, int connections, double seconds) {
    std::vector<std::vector<double>> latencies(connections);
    std::atomic<size_t> failures{0};
    std::vector<std::unique_ptr<ws_test_client>> clients;
    for (int i = 0; i < connections; ++i) {
        clients.push_back(std::make_unique<ws_test_client>());
        if (!clients.back()->connect("127.0.0.1", port)) {
            std::fprintf(stderr, "bench: no connection to port %u\n", port);
            std::exit(1);
        }
        // Warm-up.
        for (int k = 0; k < 50; ++k) {
            clients.back()->send_text(command);
            clients.back()->wait_text(std::chrono::seconds(5));
        }
    }
    const auto begin = clock_type::now();
    const auto end = begin + std::chrono::duration_cast<clock_type::duration>(
                                 std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int i = 0; i < connections; ++i) {
        threads.emplace_back([&, i] {
            ws_test_client& client = *clients[i];
            latencies[i].reserve(200000);
            while (clock_type::now() < end) {
                const auto sent = clock_type::now();
                client.send_text(command);
                if (!client.wait_text(std::chrono::seconds(5))) {
                    ++failures;
                    continue;
                }
                latencies[i].push_back(
                    std::chrono::duration<double, std::micro>(clock_type::now() - sent).count());
            }
        });
    }
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - begin).count();
    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    result r;
    r.failures = failures.load();
    r.rate = all.size() / elapsed;
    if (!all.empty()) {
        r.p50_us = all[all.size() / 2];
        r.p99_us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    }
    return r;
}

void print(const char* name, int connections, const result& r) {
    std::printf("%-6s %d connection%s: %9.0f round trips/s  p50 %7.1f us  p99 %7.1f us%s\n", name,
                connections, connections == 1 ? " " : "s", r.rate, r.p50_us, r.p99_us,
                r.failures ? "  (replies missing)" : "");
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const uint16_t echo_port = kelvo::test::free_loopback_port();
    loopback_library_server echo(echo_port, echo_every_message);
    const kelvo::test::in_process_agent agent({"", 1, "kelvo-command-bench", {}, {}});
    if (!agent.failure().empty()) {
        std::fprintf(stderr, "bench: the agent's server did not start: %s\n",
                     agent.failure().c_str());
        return 1;
    }
    const uint16_t agent_port = agent.port(0);

    int status = 0;
    for (int connections : {1, 8}) {
        const result bare = measure(echo_port, connections, seconds);
        const result ours = measure(agent_port, connections, seconds);
        print("echo", connections, bare);
        print("agent", connections, ours);
        std::printf("ratio  %d connection%s: rate %.2f of the echo server's, p99 %.2f of its p99\n",
                    connections, connections == 1 ? " " : "s", ours.rate / bare.rate,
                    ours.p99_us / bare.p99_us);
        if (ours.failures || bare.failures) status = 1;
    }
    return status;
}
