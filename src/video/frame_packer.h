// Packing of one I420 frame into the stream message layout: a 20-byte header, then the Y, U and
// V planes with every row padded to a multiple of 16 bytes (chroma rows to half of that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace web {

constexpr size_t frame_header_size = 20;

// Sizes of one frame's message, taken from the frame's width, height and Y stride.
struct frame_layout {
    int32_t width = 0;
    int32_t height = 0;
    size_t padded_stride = 0;  // the Y stride rounded up to a multiple of 16
    size_t y_size = 0;         // padded_stride * height
    size_t chroma_size = 0;    // padded_stride / 2 * floor(height / 2), for U and for V each
    size_t buffer_size = 0;    // header + padded_stride * height * 3 / 2
};

// Fills the layout; false when the header cannot describe the frame (sizes outside 1..65535, a
// row padding over 65535, strides shorter than a row, missing planes) or it is too large to hold.
bool frame_layout_of(const kelvo::media::IVideoFrame& frame, frame_layout& layout);

// The rotation as the header carries it: negative values plus 360; values the 16-bit field
// cannot hold are reduced to 0..359.
uint16_t header_rotation(int32_t rotation);

// Writes the header and the three planes to `out` (layout.buffer_size bytes at least).
void pack_frame(const kelvo::media::IVideoFrame& frame, const frame_layout& layout,
                int32_t rotation, bool mirrored, uint32_t timestamp, uint8_t* out);

// Low 32 bits of the wall-clock milliseconds since 1970-01-01 00:00 UTC.
uint32_t frame_timestamp_now();

// The channel's reused frame buffer: reallocated only when a frame needs more than it holds, or
// less than half of it. New storage starts zeroed so padding never carries stale heap memory.
class FrameBuffer {
public:
    // A buffer of at least `needed` bytes, or null when it cannot be allocated.
    uint8_t* reserve(size_t needed);
    size_t size() const { return size_; }
    const uint8_t* data() const { return data_.get(); }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
