// Cost of packing one frame into the stream's messages, against a plain memcpy of the same
// visible bytes measured in the same run (the copy that packing cannot avoid).
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/video/fake_video_frame.h"
#include "video/frame_packer.h"

namespace {

using kelvo::rtc::web::frame_layout;
using kelvo::rtc::web::frame_messages;
using kelvo::rtc::web::test::fake_video_frame;

size_t visible_bytes(int width, int height) {
    return static_cast<size_t>(width) * height + 2 * static_cast<size_t>(width / 2) * (height / 2);
}

void BM_PackFrame(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int stride = static_cast<int>(state.range(2));
    fake_video_frame frame(width, height, stride, (stride + 1) / 2);
    frame_layout layout;
    kelvo::rtc::web::frame_layout_of(frame, layout);
    size_t sizes[frame_messages];
    kelvo::rtc::web::frame_message_sizes(layout, sizes);
    std::vector<uint8_t> storage[frame_messages];
    uint8_t* messages[frame_messages];
    for (size_t i = 0; i < frame_messages; ++i) {
        storage[i].resize(sizes[i]);
        messages[i] = storage[i].data();
    }
    for (auto _ : state) {
        kelvo::rtc::web::frame_layout_of(frame, layout);
        kelvo::rtc::web::pack_frame(frame, layout, 0, false, kelvo::rtc::web::frame_timestamp_now(),
                                    messages);
        benchmark::DoNotOptimize(messages[1]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * visible_bytes(width, height)));
}

void BM_Memcpy(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const size_t bytes = visible_bytes(width, height);
    std::vector<uint8_t> source(bytes, 0x5A);
    std::vector<uint8_t> target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// width, height, Y stride. The last case has rows that need padding, so it is copied row by row.
#define FRAME_SIZES                                                                          \
    Args({640, 480, 640})->Args({1280, 720, 1280})->Args({1920, 1080, 1920})->Args({1366, 768, 1366})

BENCHMARK(BM_PackFrame)->FRAME_SIZES;
BENCHMARK(BM_Memcpy)->FRAME_SIZES;

}  // namespace

BENCHMARK_MAIN();
