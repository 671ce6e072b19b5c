// An I420 frame in memory with its own strides, filled with a position-dependent pattern so a
// test can tell which source byte landed where.
#pragma once

#include <cstdint>
#include <vector>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace web {
namespace test {

class fake_video_frame : public kelvo::media::IVideoFrame {
public:
    fake_video_frame(int width, int height, int y_stride, int chroma_stride)
        : width_(width), height_(height) {
        strides_[0] = y_stride;
        strides_[1] = strides_[2] = chroma_stride;
        const int chroma_rows = (height + 1) / 2;
        planes_[0].assign(static_cast<size_t>(y_stride) * height, 0xEE);
        planes_[1].assign(static_cast<size_t>(chroma_stride) * chroma_rows, 0xEE);
        planes_[2].assign(static_cast<size_t>(chroma_stride) * chroma_rows, 0xEE);
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < width; ++c) planes_[0][r * y_stride + c] = value(0, r, c);
        }
        for (int p = 1; p <= 2; ++p) {
            for (int r = 0; r < chroma_rows; ++r) {
                for (int c = 0; c < (width + 1) / 2; ++c) {
                    planes_[p][r * chroma_stride + c] = value(p, r, c);
                }
            }
        }
    }

    static uint8_t value(int plane, int row, int column) {
        return static_cast<uint8_t>(plane * 85 + row * 7 + column * 3);
    }

    void drop_plane(int plane) { missing_[plane] = true; }
    void set_stride(int plane, int stride) { strides_[plane] = stride; }
    void set_size(int width, int height) { width_ = width; height_ = height; }

    const unsigned char* buffer(kelvo::media::PLANE_TYPE plane) const override {
        return missing_[plane] ? nullptr : planes_[plane].data();
    }
    int stride(kelvo::media::PLANE_TYPE plane) const override { return strides_[plane]; }
    int width() const override { return width_; }
    int height() const override { return height_; }

private:
    int width_;
    int height_;
    int strides_[3];
    bool missing_[3] = {false, false, false};
    std::vector<uint8_t> planes_[3];
};

}  // namespace test
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
