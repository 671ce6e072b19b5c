#include "pattern_frame.h"

#include <frame_pattern_samples.h>

#include "scripted_call.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {
namespace {

constexpr int largest_chroma_width = (largest_frame_width + 1) / 2;
constexpr int largest_chroma_height = (largest_frame_height + 1) / 2;

// The planes of the one view the engine plays (its render thread alone draws into them).
[[clang::require_constant_initialization]] uint8_t y_plane[(largest_frame_width + y_padding) *
                                                           largest_frame_height] = {};
[[clang::require_constant_initialization]] uint8_t u_plane[(largest_chroma_width + u_padding) *
                                                           largest_chroma_height] = {};
[[clang::require_constant_initialization]] uint8_t v_plane[(largest_chroma_width + v_padding) *
                                                           largest_chroma_height] = {};

int within(int value, int largest) { return value < 1 ? 1 : value > largest ? largest : value; }

}  // namespace

void pattern_frame::draw(int width, int height, uint32_t counter) {
    using namespace test_pattern;
    width_ = within(width, largest_frame_width);
    height_ = within(height, largest_frame_height);
    const int y_stride = stride(media::Y_PLANE);
    for (int row = 0; row < height_; ++row) {
        uint8_t* line = y_plane + row * y_stride;
        for (int x = 0; x < y_stride; ++x) {
            line[x] = x < width_ ? expected_luma(x, row, counter, width_) : padding_byte;
        }
    }
    const int chroma_width = (width_ + 1) / 2;
    const int u_stride = stride(media::U_PLANE);
    const int v_stride = stride(media::V_PLANE);
    for (int row = 0; row < (height_ + 1) / 2; ++row) {
        for (int x = 0; x < u_stride; ++x) {
            u_plane[row * u_stride + x] =
                x < chroma_width ? expected_chroma_u(x, row, counter, width_, height_) : padding_byte;
        }
        for (int x = 0; x < v_stride; ++x) {
            v_plane[row * v_stride + x] = x < chroma_width ? chroma_neutral : padding_byte;
        }
    }
}

const unsigned char* pattern_frame::buffer(media::PLANE_TYPE plane) const {
    switch (plane) {
    case media::Y_PLANE: return y_plane;
    case media::U_PLANE: return u_plane;
    case media::V_PLANE: return v_plane;
    }
    return nullptr;
}

int pattern_frame::stride(media::PLANE_TYPE plane) const {
    const int chroma_width = (width_ + 1) / 2;
    switch (plane) {
    case media::Y_PLANE: return width_ + y_padding;
    case media::U_PLANE: return chroma_width + u_padding;
    case media::V_PLANE: return chroma_width + v_padding;
    }
    return 0;
}

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
