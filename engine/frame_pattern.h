// The stand-in engine's test picture: a moving I420 pattern whose pixels carry a frame counter,
// so that anyone who receives a frame (raw planes, a packed stream message, a screenshot) can
// tell which frame it is and whether it arrived intact. The engine draws it with
// fill_frame_pattern; tests read it back with the decode and check functions.
//
//   Y (x, y) = (x + y + counter) & 0xFF, except the marker strip: the top 16 rows hold 16 x 16
//              blocks for bit 15 down to bit 0 of the counter, as many as fit in the width,
//              235 for a one bit, 16 for a zero bit;
//   U        = 128, except the first 4 bytes of the last chroma row: the 32-bit counter,
//              big-endian (written into row floor(H/2) - 1 and row (H+1)/2 - 1, which are the same
//              row for even heights, so a receiver keeping floor(H/2) chroma rows finds it too);
//   V        = 128.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame_pattern_samples.h"

namespace kelvo {
namespace rtc {
namespace test_pattern {

// One picture's planes as a receiver sees them. chroma_width and chroma_height are the chroma
// samples that carry data: (W + 1) / 2 and (H + 1) / 2 for a full I420 frame, floor(W / 2) and
// floor(H / 2) for the packed stream message.
struct planes {
    const uint8_t* y;
    int y_stride;
    const uint8_t* u;
    int u_stride;
    const uint8_t* v;
    int v_stride;
    int width;
    int height;
    int chroma_width;
    int chroma_height;
};

// Draws the pattern into a full I420 frame (chroma (W + 1) / 2 x (H + 1) / 2).
inline void fill_frame_pattern(uint8_t* y, int y_stride, uint8_t* u, int u_stride, uint8_t* v,
                               int v_stride, int width, int height, uint32_t counter) {
    // Each row is the ramp 0..255 repeated, shifted by row + counter: copied from one longer ramp,
    // so drawing costs about what a copy of the picture does.
    std::vector<uint8_t> ramp(static_cast<size_t>(width) + 256);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
    for (int row = 0; row < height; ++row) {
        uint8_t* line = y + static_cast<size_t>(row) * y_stride;
        std::memcpy(line, ramp.data() + ((static_cast<uint32_t>(row) + counter) & 0xFF), width);
        if (row >= marker_block) continue;
        for (int block = 0; block < marker_blocks(width); ++block) {
            const uint32_t bit = 1u << (marker_bits - 1 - block);
            std::memset(line + block * marker_block, (counter & bit) ? marker_one : marker_zero,
                        marker_block);
        }
    }
    const int chroma_width = (width + 1) / 2;
    const int chroma_height = (height + 1) / 2;
    for (int row = 0; row < chroma_height; ++row) {
        std::memset(u + static_cast<size_t>(row) * u_stride, chroma_neutral, chroma_width);
        std::memset(v + static_cast<size_t>(row) * v_stride, chroma_neutral, chroma_width);
    }
    if (chroma_width < 4) return;
    const uint8_t be[4] = {static_cast<uint8_t>(counter >> 24), static_cast<uint8_t>(counter >> 16),
                           static_cast<uint8_t>(counter >> 8), static_cast<uint8_t>(counter)};
    const int rows[2] = {height / 2 - 1, chroma_height - 1};
    for (int row : rows) {
        if (row >= 0) std::memcpy(u + static_cast<size_t>(row) * u_stride, be, 4);
    }
}

// The counter bits the marker strip shows: bits 15 down to 16 - marker_blocks(width) of the
// counter (all 16 bits from a width of 256 up), read at the middle of each block.
inline uint32_t decode_frame_counter(const uint8_t* y, int stride, int width) {
    uint32_t value = 0;
    const int row = std::min(marker_block / 2, marker_block - 1);
    for (int block = 0; block < marker_blocks(width); ++block) {
        const uint8_t sample = y[static_cast<size_t>(row) * stride + block * marker_block + marker_block / 2];
        if (sample >= 128) value |= 1u << (marker_bits - 1 - block);
    }
    return value;
}

// The mask of counter bits decode_frame_counter can see at a width.
inline uint32_t visible_counter_bits(int width) {
    const int blocks = marker_blocks(width);
    return blocks == 0 ? 0u : ((0xFFFFu >> (marker_bits - blocks)) << (marker_bits - blocks)) & 0xFFFFu;
}

// The full 32-bit counter from the last chroma row of the U plane; needs chroma_width >= 4.
inline uint32_t decode_frame_counter_u(const uint8_t* u, int u_stride, int chroma_height) {
    const uint8_t* p = u + static_cast<size_t>(chroma_height - 1) * u_stride;
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// Checks every visible sample of a picture against the pattern for `counter`. Returns an empty
// text when the picture matches, otherwise a description of the first mismatch. The marker strip
// needs a height of 16 rows to be complete; shorter pictures are checked as far as they go.
inline std::string check_frame_pattern(const planes& p, uint32_t counter) {
    auto mismatch = [](const char* plane, int x, int y, int got, int want) {
        return std::string(plane) + " plane at (" + std::to_string(x) + "," + std::to_string(y) +
               ") is " + std::to_string(got) + ", expected " + std::to_string(want);
    };
    for (int row = 0; row < p.height; ++row) {
        for (int x = 0; x < p.width; ++x) {
            const int got = p.y[static_cast<size_t>(row) * p.y_stride + x];
            const int want = expected_luma(x, row, counter, p.width);
            if (got != want) return mismatch("Y", x, row, got, want);
        }
    }
    for (int row = 0; row < p.chroma_height; ++row) {
        for (int x = 0; x < p.chroma_width; ++x) {
            const int want_u = expected_chroma_u(x, row, counter, p.width, p.height);
            const int got_u = p.u[static_cast<size_t>(row) * p.u_stride + x];
            if (got_u != want_u) return mismatch("U", x, row, got_u, want_u);
            const int got_v = p.v[static_cast<size_t>(row) * p.v_stride + x];
            if (got_v != chroma_neutral) return mismatch("V", x, row, got_v, chroma_neutral);
        }
    }
    return std::string();
}

// The counter of a picture: from the U plane when it carries it, else the marker strip's bits.
inline uint32_t frame_counter(const planes& p) {
    if ((p.width + 1) / 2 >= 4 && p.chroma_width >= 4 && p.chroma_height >= 1)
        return decode_frame_counter_u(p.u, p.u_stride, p.chroma_height);
    return decode_frame_counter(p.y, p.y_stride, p.width);
}

// Decodes the counter and checks the picture against it in one step.
inline std::string check_frame_pattern(const planes& p) { return check_frame_pattern(p, frame_counter(p)); }

}  // namespace test_pattern
}  // namespace rtc
}  // namespace kelvo
