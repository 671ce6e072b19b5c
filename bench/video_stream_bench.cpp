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
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <frame_pattern.h>

#include "support/agent_fixture.h"
#include "support/in_process_agent.h"
#include "support/process_memory.h"
#include "support/ws_test_client.h"

namespace {

using kelvo::test::ws_test_client;
using namespace std::chrono_literals;

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double resident_mb() { return static_cast<double>(kelvo::test::resident_bytes()) / (1024 * 1024); }

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

// The agent with a joined page and a peer per stream sending video of the size asked for.
struct agent_under_test {
    kelvo::test::in_process_agent running{{"", 1, "kelvo-stream-bench", {}, {}}};
    kelvo::test::agent_client control;

    bool start(int peers, int width, int height) {
        if (!running.failure().empty() || !control.connect(port())) return false;
        control.request(R"({"command":"initialize","appID":"bench"})");
        control.join(7, "bench");
        control.engine_parameters(R"({"sim.video":{"width":)" + std::to_string(width) +
                                  R"(,"height":)" + std::to_string(height) + R"(,"fps":30}})");
        for (int i = 0; i < peers; ++i) {
            control.engine_parameters(R"({"sim.peer.add":{"uid":)" + std::to_string(100 + i) +
                                      R"(,"video":true}})");
        }
        std::this_thread::sleep_for(300ms);
        return true;
    }

    uint16_t port() const { return running.port(0); }
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
        streams.back()->connect("127.0.0.1", setup.port());
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
    stream.connect("127.0.0.1", setup.port());
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
