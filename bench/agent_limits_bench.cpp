// The agent under load at its limits, as a real process: TLS handshakes per second and memory per
// TLS connection, memory while a page never reads its replies, and processor time while the
// agent is out of descriptors; what pages of a blocked site and programs of another OS user can
// take from the user's own pages: connections held, memory, and whether an allowed page is still
// served; and a page flooding the user with questions (many sites asking at once, and one site's
// many large "initialize" commands waiting for the user). Every agent program named is measured
// the same way in the same
// run, so a build of an earlier revision can be set beside this one:
//
//   agent_limits_bench [--seconds S] [LABEL=PROGRAM ...]
//
// Without programs it measures the agent beside it ("this"). Each program is copied with the
// stand-in engine beside it into a folder of its own with a fresh certificate pair. The last
// columns give the ratio of the first program's figure to each later one's.
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/consent_flood.h"
#include "program_comparison.h"
#include "running_agent.h"
#include "support/posix/other_user.h"
#include "support/raw_connection.h"
#include "support/ws_test_client.h"

namespace {

using namespace kelvo::test;
using clock_type = std::chrono::steady_clock;

constexpr size_t open_connections = 200;  // within the agent's limit of connections per server
constexpr size_t unread_commands = 400;
constexpr size_t command_bytes = 1000 * 1000;
constexpr unsigned descriptor_limit = 64;

struct handshake_figures {
    double per_second = 0;
    double agent_cpu_ms_each = 0;
    double resumed_share = 0;
};

struct figures {
    double full_per_second = 0;
    double full_cpu_ms = 0;
    double offering_per_second = 0;
    double offering_cpu_ms = 0;
    double resumed_share = 0;
    double kb_per_open_plain_connection = 0;
    double kb_per_open_tls_connection = 0;
    double kb_per_waiting_tls_connection = 0;
    double unread_peak_mb = 0;
    double unread_end_mb = 0;
    double cpu_share_out_of_descriptors = 0;
    double blocked_connections_held = 0;
    double blocked_held_mb = 0;
    double allowed_served_while_held = 0;
    double churn_refused_of_20 = 0;
    double churn_mb = 0;
    double flood_growth_mb = 0;
    double allowed_served_during_flood = 0;
    double flood_questions = 0;
    double flood_threads = 0;
    double question_flood_growth_mb = 0;
    double flood_refused = 0;
    double waiting_growth_mb = 0;
};

const char blocked_site[] = "http://blocked.example";
const char allowed_site[] = "http://allowed.example";
const std::string sites_file = std::string(R"({"origins":{")") + blocked_site +
                               R"(":"blocked",")" + allowed_site + R"(":"allowed"}})";

double megabytes(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// Handshakes (TLS and WebSocket upgrade) one after another for `seconds`; with `resume`, each
// offers the session of the one before.
handshake_figures measure_handshakes(running_agent& agent, double seconds, bool resume) {
    tls_session session;
    size_t done = 0;
    size_t resumed = 0;
    const double cpu_before = agent.process().cpu_seconds();
    const auto begin = clock_type::now();
    const auto end = begin + std::chrono::duration_cast<clock_type::duration>(
                                 std::chrono::duration<double>(seconds));
    while (clock_type::now() < end) {
        const http_answer answer =
            http_upgrade(agent.setup().tls(), "127.0.0.1", true, resume ? &session : nullptr);
        if (answer.status != 101) {
            std::fprintf(stderr, "bench: a TLS handshake failed\n");
            std::exit(1);
        }
        ++done;
        resumed += answer.resumed ? 1 : 0;
    }
    const double elapsed = std::chrono::duration<double>(clock_type::now() - begin).count();
    handshake_figures out;
    out.per_second = static_cast<double>(done) / elapsed;
    out.agent_cpu_ms_each =
        1000.0 * (agent.process().cpu_seconds() - cpu_before) / static_cast<double>(done);
    out.resumed_share = static_cast<double>(resumed) / static_cast<double>(done);
    return out;
}

// Growth of the agent's resident memory per connection while `open_connections` TLS connections
// are held: finished WebSocket connections, or TCP connections that never begin their handshake.
double kb_per_tls_connection(running_agent& agent, bool finish_handshake) {
    asio::io_context io;
    asio::ssl::context context(asio::ssl::context::tls_client);
    context.set_verify_mode(asio::ssl::verify_none);
    const asio::ip::tcp::endpoint server(asio::ip::address_v4::loopback(), agent.setup().tls());
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    // Settle allocations the first connection makes once.
    http_upgrade(agent.setup().tls(), "127.0.0.1", true);
    const size_t before = agent.resident_bytes();
    std::vector<std::unique_ptr<asio::ssl::stream<asio::ip::tcp::socket>>> held;
    for (size_t i = 0; i < open_connections; ++i) {
        held.push_back(std::make_unique<asio::ssl::stream<asio::ip::tcp::socket>>(io, context));
        auto& stream = *held.back();
        stream.next_layer().connect(server);
        if (finish_handshake) {
            stream.handshake(asio::ssl::stream_base::client);
            asio::write(stream, asio::buffer(request));
            asio::streambuf answer;
            asio::read_until(stream, answer, "\r\n\r\n");
        }
    }
    // The agent accepts the waiting ones on its own time.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t after = agent.resident_bytes();
    return static_cast<double>(after - std::min(after, before)) / 1024.0 /
           static_cast<double>(open_connections);
}

// The same for plain WebSocket connections, for comparison.
double kb_per_plain_connection(running_agent& agent) {
    raw_connection first(agent.setup().plain());
    first.upgrade(agent.setup().plain());
    const size_t before = agent.resident_bytes();
    std::vector<std::unique_ptr<raw_connection>> held;
    for (size_t i = 0; i < open_connections; ++i) {
        held.push_back(std::make_unique<raw_connection>(agent.setup().plain()));
        held.back()->upgrade(agent.setup().plain());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t after = agent.resident_bytes();
    return static_cast<double>(after - std::min(after, before)) / 1024.0 /
           static_cast<double>(open_connections);
}

// A page sends unknown commands of about 1 MB (each answered with a reply as large) and never
// reads; the agent's resident memory is sampled after each command and once it has had time to
// close the page.
void measure_unread_replies(running_agent& agent, figures& out) {
    raw_connection page(agent.setup().plain());
    if (!page.ok() || !page.upgrade(agent.setup().plain())) {
        std::fprintf(stderr, "bench: no page connection\n");
        std::exit(1);
    }
    const std::string frame = raw_connection::client_frame(
        0x1, R"({"command":")" + std::string(command_bytes, 'x') + R"("})");
    size_t peak = 0;
    for (size_t i = 0; i < unread_commands && page.send_all(frame); ++i) {
        peak = std::max(peak, agent.resident_bytes());
    }
    std::this_thread::sleep_for(std::chrono::seconds(6));  // past the closing handshake's wait
    out.unread_peak_mb = megabytes(std::max(peak, agent.resident_bytes()));
    out.unread_end_mb = megabytes(agent.resident_bytes());
}

// Share of one core the agent uses while clients wait that it has no descriptors for.
double cpu_share_out_of_descriptors(const std::string& program) {
    running_agent agent(program, descriptor_limit);
    std::vector<std::unique_ptr<raw_connection>> crowd;
    for (unsigned i = 0; i < descriptor_limit + 20; ++i) {
        crowd.push_back(std::make_unique<raw_connection>(agent.setup().plain()));
        crowd.back()->send_all(raw_connection::handshake(agent.setup().plain()));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu_before = agent.process().cpu_seconds();
    const auto begin = clock_type::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double elapsed = std::chrono::duration<double>(clock_type::now() - begin).count();
    return (agent.process().cpu_seconds() - cpu_before) / elapsed;
}

// An allowed page connects and asks for the agent's version, within 2 s.
bool allowed_page_served(uint16_t port) {
    const auto begin = clock_type::now();
    ws_test_client page;
    page.set_origin(allowed_site);
    if (!page.connect("127.0.0.1", port, std::chrono::seconds(2)) ||
        !page.send_text(R"({"command":"getVersion"})")) {
        return false;
    }
    const auto left = std::chrono::seconds(2) - (clock_type::now() - begin);
    return page.wait_text(std::chrono::duration_cast<std::chrono::milliseconds>(left)).has_value();
}

// A blocked site opens as many connections as the agent lets it (up to 600, both servers); then
// five allowed pages try their luck.
void measure_blocked_site_holding(const std::string& program, figures& out) {
    running_agent agent(program, 0, sites_file);
    const uint16_t ports[] = {agent.setup().tls(), agent.setup().plain()};
    const size_t before = agent.resident_bytes();
    std::vector<std::unique_ptr<raw_connection>> held;
    for (size_t attempt = 0; attempt < 600; ++attempt) {
        // The plain server only: the TLS server's place limit is the same and a bare connection
        // speaks no TLS.
        auto next = std::make_unique<raw_connection>(ports[1]);
        if (next->upgrade_status(ports[1], raw_connection::origin_header(blocked_site)) != 101) {
            break;
        }
        held.push_back(std::move(next));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    out.blocked_connections_held = static_cast<double>(held.size());
    const size_t after = agent.resident_bytes();
    out.blocked_held_mb = megabytes(after - std::min(before, after));
    int served = 0;
    for (int page = 0; page < 5; ++page) served += allowed_page_served(ports[1]) ? 1 : 0;
    out.allowed_served_while_held = served / 5.0;
}

// Another OS user ("nobody") keeps 300 connections to the plain server open, ending and opening
// them as fast as it can, for 20 s; an allowed page tries once a second. Root only (-1 else).
void measure_other_user_churn(const std::string& program, figures& out) {
    out.churn_refused_of_20 = -1;
    if (geteuid() != 0) return;
    running_agent agent(program, 0, sites_file);
    const uint16_t port = agent.setup().plain();
    const sockaddr_in address = loopback_address_of("127.0.0.1", port);
    std::vector<int> ring(300, -1);
    constexpr time_t churn_seconds = 20;
    const size_t before = agent.resident_bytes();
    const pid_t churner = start_as_nobody(
        [&] { return churn_connections(address, ring, churn_seconds); }, churn_seconds + 30);
    int refused = 0;
    size_t peak = before;
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(900));
        refused += allowed_page_served(port) ? 0 : 1;
        peak = std::max(peak, agent.resident_bytes());
    }
    if (exit_status(churner) != 0) {
        std::fprintf(stderr, "bench: the churning client could not become nobody\n");
        std::exit(1);
    }
    out.churn_refused_of_20 = refused;
    out.churn_mb = megabytes(peak - before);
}

// 32 connections of a blocked site ask "getAgentInfo" as fast as they can and never read the
// answers; an allowed page asks for the version between bursts.
void measure_blocked_flood(const std::string& program, figures& out) {
    running_agent agent(program, 0, sites_file);
    const uint16_t port = agent.setup().plain();
    std::vector<std::unique_ptr<raw_connection>> flooders;
    for (int i = 0; i < 32; ++i) {
        flooders.push_back(std::make_unique<raw_connection>(port, 4096));
        const std::string origin = raw_connection::origin_header(blocked_site);
        if (flooders.back()->upgrade_status(port, origin) != 101) {
            std::fprintf(stderr, "bench: a blocked site's connection was refused\n");
            std::exit(1);
        }
    }
    std::string burst;
    for (int i = 0; i < 250; ++i) {
        burst += raw_connection::client_frame(0x1, R"({"command":"getAgentInfo"})");
    }
    const size_t before = agent.resident_bytes();
    size_t peak = before;
    int served = 0;
    constexpr int rounds = 80;
    for (int round = 0; round < rounds; ++round) {
        for (auto& flooder : flooders) flooder->send_all(burst);
        peak = std::max(peak, agent.resident_bytes());
        served += allowed_page_served(port) ? 1 : 0;
    }
    out.flood_growth_mb = megabytes(peak - before);
    out.allowed_served_during_flood = served / static_cast<double>(rounds);
}

constexpr size_t flooding_sites = 300;
constexpr size_t waiting_commands = 300;

// A question program that notes each question in "<itself>.asked" and is never answered (it
// gives up after a while, so none outlives the benchmark by long).
std::string silent_prompt(const std::string& folder) {
    const std::string path = folder + "/silent-prompt";
    std::ofstream(path) << "#!/bin/sh\necho \"$1\" >> \"$0.asked\"\nsleep 30\nexit 3\n";
    chmod(path.c_str(), 0755);
    return path;
}

size_t lines_in(const std::string& path) {
    std::ifstream file(path);
    size_t lines = 0;
    for (std::string line; std::getline(file, line);) ++lines;
    return lines;
}

// Sites of their own asking the user at once: question programs running, the agent's threads
// and its growth once every page was answered "getVersion" (and a moment for programs to start),
// and how many were answered 429 at once.
void measure_question_flood(const std::string& program, figures& out) {
    temporary_folder scripts;
    const std::string prompt = silent_prompt(scripts.path());
    running_agent agent(program, 0, std::string(), prompt);
    const size_t before = agent.resident_bytes();
    const site_flood flood = flood_with_sites(agent.setup(), flooding_sites);
    if (!flood.complete) {
        std::fprintf(stderr, "bench: a flooding page was not answered\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    out.flood_questions = static_cast<double>(lines_in(prompt + ".asked"));
    out.flood_threads = static_cast<double>(thread_count(agent.process().id()));
    out.question_flood_growth_mb =
        megabytes(agent.resident_bytes() - std::min(agent.resident_bytes(), before));
    out.flood_refused = static_cast<double>(flood.refused);
}

// One site's "initialize" commands of about 1 MB each, all waiting for the user.
void measure_waiting_initializes(const std::string& program, figures& out) {
    temporary_folder scripts;
    running_agent agent(program, 0, std::string(), silent_prompt(scripts.path()));
    raw_connection page(agent.setup().plain());
    const size_t before = agent.resident_bytes();
    std::string answers;
    if (!send_large_initializes(page, agent.setup(), "https://big.example", waiting_commands,
                                command_bytes, answers)) {
        std::fprintf(stderr, "bench: the waiting page was not answered\n");
        std::exit(1);
    }
    out.waiting_growth_mb =
        megabytes(agent.resident_bytes() - std::min(agent.resident_bytes(), before));
}

figures measure(const std::string& program, double seconds) {
    figures out;
    {
        running_agent agent(program);
        const handshake_figures full = measure_handshakes(agent, seconds, false);
        out.full_per_second = full.per_second;
        out.full_cpu_ms = full.agent_cpu_ms_each;
        const handshake_figures offering = measure_handshakes(agent, seconds, true);
        out.offering_per_second = offering.per_second;
        out.offering_cpu_ms = offering.agent_cpu_ms_each;
        out.resumed_share = offering.resumed_share;
        out.kb_per_open_tls_connection = kb_per_tls_connection(agent, true);
    }
    {
        running_agent agent(program);
        out.kb_per_waiting_tls_connection = kb_per_tls_connection(agent, false);
    }
    {
        running_agent agent(program);
        out.kb_per_open_plain_connection = kb_per_plain_connection(agent);
    }
    {
        running_agent agent(program);
        measure_unread_replies(agent, out);
    }
    out.cpu_share_out_of_descriptors = cpu_share_out_of_descriptors(program);
    measure_blocked_site_holding(program, out);
    measure_other_user_churn(program, out);
    measure_blocked_flood(program, out);
    measure_question_flood(program, out);
    measure_waiting_initializes(program, out);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const compared_programs compared = parse_compared_programs(argc, argv, "agent_limits_bench", 3);
    print_comparison<figures>(compared, measure_each<figures>(compared, measure), {
        {"full TLS handshakes per second (one client)", &figures::full_per_second},
        {"agent CPU ms per full TLS handshake", &figures::full_cpu_ms},
        {"handshakes per second offering a session", &figures::offering_per_second},
        {"agent CPU ms per handshake offering one", &figures::offering_cpu_ms},
        {"share of those resumed", &figures::resumed_share},
        {"KB per open plain connection", &figures::kb_per_open_plain_connection},
        {"KB per open TLS connection", &figures::kb_per_open_tls_connection},
        {"KB per TLS connection before its handshake", &figures::kb_per_waiting_tls_connection},
        {"MB resident, peak, page never reading", &figures::unread_peak_mb},
        {"MB resident, 6 s later", &figures::unread_end_mb},
        {"core share, out of descriptors", &figures::cpu_share_out_of_descriptors},
        {"connections a blocked site holds (600 tried)", &figures::blocked_connections_held},
        {"MB agent growth while it holds them", &figures::blocked_held_mb},
        {"share of allowed pages served in 2 s meanwhile", &figures::allowed_served_while_held},
        {"allowed pages refused of 20, other user churning", &figures::churn_refused_of_20},
        {"MB agent growth during the churn", &figures::churn_mb},
        {"MB agent growth, 32 blocked getAgentInfo floods", &figures::flood_growth_mb},
        {"share of allowed pages served in 2 s meanwhile", &figures::allowed_served_during_flood},
        {"question programs, 300 sites asking", &figures::flood_questions},
        {"agent threads, 300 sites asking", &figures::flood_threads},
        {"MB resident growth, 300 sites asking", &figures::question_flood_growth_mb},
        {"sites answered 429 at once, of 300", &figures::flood_refused},
        {"MB resident growth, 300 x 1 MB initialize waiting", &figures::waiting_growth_mb},
    });
    return 0;
}
