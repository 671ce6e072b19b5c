// The engine's video frame: one picture of the test pattern in planes of the engine's own, each
// with its own stride, lent to the renderer for one delivery.
#pragma once

#include <cstdint>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace msvc_abi {

class pattern_frame final : public media::IVideoFrame {
public:
    // Draws picture `counter` at width x height, each cut to 1 .. the script's largest size.
    void draw(int width, int height, uint32_t counter);

    const unsigned char* buffer(media::PLANE_TYPE plane) const override;
    int stride(media::PLANE_TYPE plane) const override;
    int width() const override { return width_; }
    int height() const override { return height_; }

private:
    int width_ = 0;
    int height_ = 0;
};

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
