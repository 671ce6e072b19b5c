// Video streams end to end: the agent with the stand-in engine streams frames to loopback
// clients that read as fast as they can (one 1080p30 stream, then four 720p30 streams), and the
// memory held for a stream whose client stops reading for ten seconds.
//
// Prints frames/s received and the process CPU time per frame. The process also runs the
// stand-in engine, which draws every frame, and the clients; the time the drawing costs is
// measured in the same run and subtracted, so the figure left is the agent's packing and
// sending plus the clients' reading.
//
//   video_stream_bench [seconds per case, default 5]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <frame_pattern.h>

#include "agent/rtc_engine_agent.h"
#include "net/net_engine.h"
#include "support/ws_test_client.h"

namespace {

using kelvo::test::ws_test_client;
using namespace std::chrono_literals;

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Resident memory in MB; 0 where /proc is not there.
double resident_mb() {
    std::ifstream statm("/proc/self/statm");
    long pages_total = 0, pages_resident = 0;
    if (!(statm >> pages_total >> pages_resident)) return 0;
    return pages_resident * 4096.0 / (1024 * 1024);
}

// CPU seconds the stand-in spends drawing one frame of this size.
double drawing_seconds(int width, int height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3 / 2 + width);
    uint8_t* y = pixels.data();
    uint8_t* u = y + static_cast<size_t>(width) * height;
    uint8_t* v = u + static_cast<size_t>(width / 2) * (height / 2);
    const int rounds = 30;
    const double start = cpu_seconds();
    for (int i = 0; i < rounds; ++i) {
        kelvo::rtc::test_pattern::fill_frame_pattern(y, width, u, width / 2, v, width / 2, width,
                                                     height, static_cast<uint32_t>(i));
    }
    return (cpu_seconds() - start) / rounds;
}

bool request(ws_test_client& client, const std::string& text) {
    if (!client.send_text(text)) return false;
    return client.wait_text(5s).has_value();
}

struct agent_under_test {
    kelvo::rtc::web::net_engine net;
    std::unique_ptr<kelvo::rtc::web::rtc_engine_agent> agent;
    uint16_t port = 0;
    ws_test_client control;

    bool start(int peers, int width, int height) {
        agent = std::make_unique<kelvo::rtc::web::rtc_engine_agent>(net);
        for (int attempt = 0; attempt < 5; ++attempt) {
            port = kelvo::test::free_loopback_port();
            if (net.add_plain_server(port) == 0) break;
            port = 0;
        }
        if (port == 0 || !control.connect("127.0.0.1", port)) return false;
        request(control, R"({"command":"initialize","appID":"bench"})");
        control.send_text(R"({"command":"joinChannel","channelKey":"","channelName":"bench","uid":7})");
        std::this_thread::sleep_for(300ms);
        std::string parameters = "{\"sim.video\":{\"width\":" + std::to_string(width) +
                                 ",\"height\":" + std::to_string(height) + ",\"fps\":30}";
        parameters += "}";
        request(control, R"({"command":"setParameters","parameters":)" + quoted(parameters) + "}");
        for (int i = 0; i < peers; ++i) {
            const std::string peer = R"({"sim.peer.add":{"uid":)" + std::to_string(100 + i) +
                                     R"(,"video":true}})";
            control.send_text(R"({"command":"setParameters","parameters":)" + quoted(peer) + "}");
        }
        std::this_thread::sleep_for(300ms);
        return true;
    }

    ~agent_under_test() {
        net.clear();
        agent.reset();
    }

    static std::string quoted(const std::string& text) {
        std::string out = "\"";
        for (char c : text) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\"";
    }
};

// Subscribes one client per peer and lets them read for `seconds`.
void run_streams(const char* name, int peers, int width, int height, int seconds) {
    agent_under_test setup;
    if (!setup.start(peers, width, height)) {
        std::printf("%s: could not start the agent\n", name);
        return;
    }
    std::vector<std::unique_ptr<ws_test_client>> streams;
    for (int i = 0; i < peers; ++i) {
        streams.push_back(std::make_unique<ws_test_client>());
        streams.back()->connect("127.0.0.1", setup.port);
        request(*streams.back(), R"({"command":"subscribe","uid":)" + std::to_string(100 + i) + "}");
    }
    // Drain what the clients receive so nothing piles up in the test client's own queue.
    std::atomic<bool> done{false};
    std::thread drain([&] {
        while (!done.load()) {
            bool any = false;
            for (auto& stream : streams) {
                while (stream->wait_binary(0ms)) any = true;
            }
            if (!any) std::this_thread::sleep_for(1ms);
        }
    });
    std::this_thread::sleep_for(1s);  // settle
    std::vector<size_t> start_counts;
    for (auto& stream : streams) start_counts.push_back(stream->binary_count());
    const double cpu_start = cpu_seconds();
    const auto wall_start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = cpu_seconds() - cpu_start;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    size_t frames = 0;
    for (size_t i = 0; i < streams.size(); ++i) frames += (streams[i]->binary_count() - start_counts[i]) / 4;
    done.store(true);
    drain.join();

    const double drawing = drawing_seconds(width, height);
    const double per_frame = frames ? cpu / frames : 0;
    std::printf("%s: %.1f frames/s received (%d streams, %.1f per stream; produced 30 per stream)\n",
                name, frames / wall, peers, frames / wall / peers);
    std::printf("%s: process CPU %.3f ms/frame, stand-in drawing %.3f ms/frame, "
                "agent + client %.3f ms/frame\n",
                name, per_frame * 1e3, drawing * 1e3, (per_frame - drawing) * 1e3);
}

void run_stalled_reader(int seconds) {
    agent_under_test setup;
    if (!setup.start(1, 1920, 1080)) return;
    ws_test_client stream;
    stream.connect("127.0.0.1", setup.port);
    request(stream, R"({"command":"subscribe","uid":100})");
    std::this_thread::sleep_for(1s);
    while (stream.wait_binary(0ms)) {
    }
    const double before = resident_mb();
    stream.pause_reading();
    double highest = before;
    for (int i = 0; i < seconds; ++i) {
        std::this_thread::sleep_for(1s);
        highest = std::max(highest, resident_mb());
    }
    const double after = resident_mb();
    stream.resume_reading();
    const double frame_mb = (1920.0 * 1080 * 3 / 2 + 20) / (1024 * 1024);
    std::printf("stalled 1080p reader for %d s: resident %.1f MB before, %.1f MB after, highest "
                "%.1f MB: growth %.1f MB = %.1f frames of %.2f MB\n",
                seconds, before, after, highest, highest - before, (highest - before) / frame_mb,
                frame_mb);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    run_streams("1080p30 x1", 1, 1920, 1080, seconds);
    run_streams("720p30 x4", 4, 1280, 720, seconds);
    run_stalled_reader(10);
    return 0;
}
