// The agent's processor time for one 1080p stream at 30 frames per second, as a real process,
// while its page takes every frame and while it takes only a third of them (it reads one frame
// every 100 ms and otherwise leaves its socket unread, as a page that draws slowly). The agent
// should work for the frames it delivers, not for the ones it drops. Programs named are measured
// side by side in the same run:
//
//   stream_cpu_bench [--seconds S] [LABEL=PROGRAM ...]
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "program_comparison.h"
#include "running_agent.h"
#include "support/agent_fixture.h"
#include "support/ws_test_client.h"

namespace {

using namespace kelvo::test;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

struct figures {
    double every_frame_per_second = 0;
    double every_frame_cpu = 0;
    double every_frame_ms_per_frame = 0;
    double third_per_second = 0;
    double third_cpu = 0;
    double third_ms_per_frame = 0;
    double third_to_every = 0;
};

struct stream_figures {
    double frames_per_second;
    double cpu_share;

    // Into one case's three rows of the table.
    void record(double& per_second, double& cpu_percent, double& ms_per_frame) const {
        per_second = frames_per_second;
        cpu_percent = cpu_share * 100;
        ms_per_frame = cpu_share * 1000 / frames_per_second;
    }
};

// A page reading one frame every `period` from a stream of a 1080p30 peer, for `seconds`, on an
// agent of its own (so that no case starts with another's connections).
stream_figures measure_stream(const std::string& program, std::chrono::milliseconds period,
                              double seconds) {
    running_agent agent(program);
    agent_client control;
    if (!control.connect(agent.setup().plain())) {
        std::fprintf(stderr, "bench: no control connection\n");
        std::exit(1);
    }
    control.request(R"({"command":"initialize","appID":"bench"})");
    control.join(7, "bench");
    control.engine_parameters(R"({"sim.video":{"width":1920,"height":1080,"fps":30}})");
    control.engine_parameters(R"({"sim.peer.add":{"uid":100,"video":true}})");
    ws_test_client stream;
    stream.connect("127.0.0.1", agent.setup().plain());
    stream.send_text(R"({"command":"subscribe","uid":100})");
    stream.wait_text(5s);
    std::this_thread::sleep_for(1s);

    const size_t first = stream.binary_count();
    const double cpu_before = agent.process().cpu_seconds();
    const auto begin = clock_type::now();
    const auto end = begin + std::chrono::duration_cast<clock_type::duration>(
                                 std::chrono::duration<double>(seconds));
    for (auto next = begin; next < end; next += period) {
        stream.resume_reading();
        const size_t frame_read = stream.binary_count() + 4;  // a header and three planes
        while (stream.binary_count() < frame_read && stream.wait_binary(200ms)) {
        }
        stream.pause_reading();
        while (stream.wait_binary(0ms)) {
        }
        std::this_thread::sleep_until(next + period);
    }
    const double elapsed = std::chrono::duration<double>(clock_type::now() - begin).count();
    const double cpu = agent.process().cpu_seconds() - cpu_before;
    const double frames = static_cast<double>(stream.binary_count() - first) / 4;
    stream.resume_reading();
    return {frames / elapsed, cpu / elapsed};
}

figures measure(const std::string& program, double seconds) {
    figures out;
    measure_stream(program, 33ms, seconds)
        .record(out.every_frame_per_second, out.every_frame_cpu, out.every_frame_ms_per_frame);
    measure_stream(program, 100ms, seconds)
        .record(out.third_per_second, out.third_cpu, out.third_ms_per_frame);
    out.third_to_every = out.third_cpu / out.every_frame_cpu;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const compared_programs compared = parse_compared_programs(argc, argv, "stream_cpu_bench", 10);
    print_comparison<figures>(compared, measure_each<figures>(compared, measure), {
        {"page takes every frame: frames/s delivered", &figures::every_frame_per_second},
        {"  agent CPU %", &figures::every_frame_cpu},
        {"  agent CPU ms per delivered frame", &figures::every_frame_ms_per_frame},
        {"page takes a third: frames/s delivered", &figures::third_per_second},
        {"  agent CPU %", &figures::third_cpu},
        {"  agent CPU ms per delivered frame", &figures::third_ms_per_frame},
        {"agent CPU, a third / every frame", &figures::third_to_every},
    });
    return 0;
}
