// The whole command path without a network: the agent over a server set with no servers, the
// stand-in engine loaded, fed a sequence of messages on three connections.
//
// Input: lines separated by '\n'. A line's first byte picks what happens: 'c', 'd' or 'e' close
// connection 0, 1 or 2 (it comes back as a new one); any other byte sends the rest of the line
// as a text message on connection (byte % 3), so "0...", "1..." and "2..." name them. After each
// input every connection is closed, which tears the engine session down again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/rtc_engine_agent.h"
#include "net/connection_context.h"
#include "net/net_engine.h"

using namespace kelvo::rtc::web;

namespace {

struct harness {
    harness() : agent(net) {
        // The engine's log is written for every call; keep it out of the way.
        setenv("RIZUDADA_LOG", "/dev/null", 0);
        net.set_handler(&agent);
    }
    net_engine net;
    rtc_engine_agent agent;
};

harness& the_harness() {
    static harness* h = new harness();  // lives as long as the process: the engine stays loaded
    return *h;
}

void close_connection(rtc_engine_agent& agent, connection_context& context) {
    agent.on_connection_closed(&context);
    context = connection_context();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    harness& h = the_harness();
    connection_context contexts[3];
    const std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int messages = 0;
    while (start < input.size() && messages < 64) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        if (end > start) {
            const unsigned char selector = static_cast<unsigned char>(input[start]);
            if (selector >= 'c' && selector <= 'e') {
                close_connection(h.agent, contexts[selector - 'c']);
            } else {
                std::string reply;
                h.agent.on_message(&contexts[selector % 3], input.substr(start + 1, end - start - 1),
                                   reply);
                ++messages;
            }
        }
        start = end + 1;
    }
    for (connection_context& context : contexts) close_connection(h.agent, context);
    return 0;
}
