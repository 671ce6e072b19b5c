// The agent started as the program starts it, inside a test or load program: a net_engine with an
// optional TLS server and plain servers on free loopback ports, the rtc_engine_agent as their
// handler, and the stand-in engine (loaded from the program's folder when a page initialises)
// writing to a log file of its own.
//
//   in_process_agent agent({/*tls_certificate_folder=*/"", /*plain_servers=*/2});
//   if (!agent.failure().empty()) ...;            // a server did not start
//   ws_test_client page;
//   page.connect("127.0.0.1", agent.port(0));
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/rtc_engine_agent.h"
#include "net/net_engine.h"
#include "support/engine_log_file.h"

namespace kelvo {
namespace test {

struct in_process_agent_options {
    // When set, a TLS server comes first (server index 0), reading its certificate pair from
    // this folder for every connection, as the program's does.
    std::string tls_certificate_folder;
    // Plain servers after it, at the next server indexes.
    int plain_servers = 1;
    // The beginning of the engine log file's name.
    std::string engine_log_prefix = "kelvo-agent";
    // Who decides which sites may use the agent; by default every site may.
    kelvo::rtc::web::agent_access access;
    // What the servers hold at most; by default the program's limits.
    kelvo::rtc::web::connection_limits limits;
};

class in_process_agent {
public:
    explicit in_process_agent(const in_process_agent_options& options);
    // In the program's own order: servers, then the agent (and its engine), then the log file.
    ~in_process_agent();
    in_process_agent(const in_process_agent&) = delete;
    in_process_agent& operator=(const in_process_agent&) = delete;

    // Empty when every server started; otherwise which one did not (and those after it were
    // not tried).
    const std::string& failure() const { return failure_; }
    // The port of the server at this index.
    uint16_t port(int server_index) const { return ports_.at(server_index); }

    kelvo::rtc::web::net_engine& net() { return net_; }
    kelvo::rtc::web::rtc_engine_agent& agent() { return agent_; }
    const engine_log_file& log() const { return log_; }

private:
    engine_log_file log_;
    kelvo::rtc::web::net_engine net_;
    kelvo::rtc::web::rtc_engine_agent agent_;
    std::vector<uint16_t> ports_;
    std::string failure_;
};

}  // namespace test
}  // namespace kelvo
