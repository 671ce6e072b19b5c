// A hostile page against a running agent whose question program never answers: many sites
// asking at once, or one site sending many large "initialize" commands. For the application
// tests and the limits benchmark (POSIX: plain connections are raw sockets).
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/agent_process.h"
#include "support/raw_connection.h"
#include "support/ws_test_client.h"

namespace kelvo {
namespace test {

// The count of threads of the process, from /proc; 0 when it cannot be read.
inline size_t thread_count(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    const std::string status((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
    const size_t at = status.find("Threads:");
    return at == std::string::npos ? 0 : std::strtoul(status.c_str() + at + 8, nullptr, 10);
}

// True once the reply to "getVersion" has come: everything sent before it was taken in.
inline bool version_answered(const std::string& received) {
    return received.find(R"("command":"getVersion")") != std::string::npos;
}

inline std::string version_frame() {
    return raw_connection::client_frame(0x1, R"({"command":"getVersion"})");
}

// What an "initialize" answered at once for too many waiting sites reads.
constexpr char too_many_questions[] =
    R"({"command":"initialize","code":429,"reason":"too-many-questions"})";

struct site_flood {
    // The pages still waiting for the user, connected: half on each server.
    std::vector<std::unique_ptr<raw_connection>> plain;
    std::vector<std::unique_ptr<ws_test_client>> tls;
    // Sites whose "initialize" was answered 429 at once.
    size_t refused = 0;
    // Every page was answered its "getVersion".
    bool complete = true;
};

// `sites` pages, each of its own origin (https://siteN.example), send "initialize" and then
// "getVersion", one page after the other.
inline site_flood flood_with_sites(const agent_setup& setup, size_t sites) {
    site_flood flood;
    const std::string initialize = R"({"command":"initialize","appID":"a"})";
    for (size_t i = 0; i < sites && flood.complete; ++i) {
        const std::string origin = "https://site" + std::to_string(i) + ".example";
        std::string received;
        if (i % 2 == 0) {
            flood.plain.push_back(std::make_unique<raw_connection>(setup.plain()));
            raw_connection& page = *flood.plain.back();
            page.send_all(raw_connection::handshake(setup.plain(), "Origin: " + origin + "\r\n") +
                          raw_connection::client_frame(0x1, initialize) + version_frame());
            received = page.read_until(version_answered, process_timeout);
        } else {
            flood.tls.push_back(std::make_unique<ws_test_client>(true));
            ws_test_client& page = *flood.tls.back();
            page.set_origin(origin);
            if (page.connect("127.0.0.1", setup.tls())) {
                page.send_text(initialize);
                page.send_text(R"({"command":"getVersion"})");
                while (!version_answered(received)) {
                    const auto text = page.wait_text(process_timeout);
                    if (!text) break;
                    received += *text;
                }
            }
        }
        flood.complete = version_answered(received);
        if (received.find(too_many_questions) == std::string::npos) continue;
        ++flood.refused;
        // A refused page goes, as a page would: sites not allowed hold few places together.
        if (i % 2 == 0) {
            flood.plain.pop_back();
        } else {
            flood.tls.pop_back();
        }
    }
    return flood;
}

// One page of `origin` on the plain server sends `count` "initialize" commands of about `bytes`
// each (a large member besides the application id), then "getVersion"; true once that is
// answered. What the agent answered before it goes to `answers`.
inline bool send_large_initializes(raw_connection& page, const agent_setup& setup,
                                   const std::string& origin, size_t count, size_t bytes,
                                   std::string& answers) {
    if (!page.send_all(raw_connection::handshake(setup.plain(), "Origin: " + origin + "\r\n"))) {
        return false;
    }
    const std::string large = raw_connection::client_frame(
        0x1, R"({"command":"initialize","appID":"a","padding":")" + std::string(bytes, 'x') +
                 R"("})");
    for (size_t i = 0; i < count; ++i) {
        if (!page.send_all(large)) return false;
    }
    if (!page.send_all(version_frame())) return false;
    answers = page.read_until(version_answered, process_timeout);
    return version_answered(answers);
}

}  // namespace test
}  // namespace kelvo
