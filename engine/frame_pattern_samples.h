// The value of each sample of the engines' test picture (described in frame_pattern.h), with
// nothing but <cstdint>: the engine built for Microsoft's ABI, which has no C or C++ library,
// draws its frames from these, and frame_pattern.h checks every picture against them.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace test_pattern {

constexpr int marker_block = 16;
constexpr int marker_bits = 16;
constexpr uint8_t marker_one = 235;
constexpr uint8_t marker_zero = 16;
constexpr uint8_t chroma_neutral = 128;

constexpr int marker_blocks(int width) {
    return width / marker_block < marker_bits ? width / marker_block : marker_bits;
}
constexpr int marker_rows(int height) { return height < marker_block ? height : marker_block; }

// The luma value the pattern puts at (x, y) for a counter.
constexpr uint8_t expected_luma(int x, int y, uint32_t counter, int width) {
    const int block = x / marker_block;
    if (y < marker_block && block < marker_blocks(width)) {
        const uint32_t bit = 1u << (marker_bits - 1 - block);
        return (counter & bit) ? marker_one : marker_zero;
    }
    return static_cast<uint8_t>((static_cast<uint32_t>(x) + static_cast<uint32_t>(y) + counter) & 0xFF);
}

// The U value at chroma sample (x, row) of a width x height picture: neutral, except the counter,
// big-endian, in the first 4 samples of rows floor(H/2) - 1 and (H+1)/2 - 1 when the chroma rows
// are at least 4 samples wide.
constexpr uint8_t expected_chroma_u(int x, int row, uint32_t counter, int width, int height) {
    const bool counter_row = (row == height / 2 - 1 || row == (height + 1) / 2 - 1) &&
                             (width + 1) / 2 >= 4;
    if (counter_row && x < 4) return static_cast<uint8_t>((counter >> (24 - 8 * x)) & 0xFF);
    return chroma_neutral;
}

}  // namespace test_pattern
}  // namespace rtc
}  // namespace kelvo
