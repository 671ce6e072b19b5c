// Packing of one I420 frame into the stream's four messages: a 20-byte header, then the Y, U and
// V planes with every row padded to a multiple of 16 bytes (chroma rows to half of that).
#pragma once

#include <cstddef>
#include <cstdint>

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
};

// The messages of a frame: the header, Y, U and V.
constexpr size_t frame_messages = 4;

// Fills the layout; false when the header cannot describe the frame (sizes outside 1..65535, a
// row padding over 65535, strides shorter than a row, missing planes).
bool frame_layout_of(const kelvo::media::IVideoFrame& frame, frame_layout& layout);

// The rotation as the header carries it: negative values plus 360; values the 16-bit field
// cannot hold are reduced to 0..359.
uint16_t header_rotation(int32_t rotation);

// The sizes of the frame's messages, in order.
void frame_message_sizes(const frame_layout& layout, size_t (&sizes)[frame_messages]);

// Writes every byte of the frame's messages (of frame_message_sizes): the header, then the three
// planes with zeroed row padding.
void pack_frame(const kelvo::media::IVideoFrame& frame, const frame_layout& layout,
                int32_t rotation, bool mirrored, uint32_t timestamp, uint8_t* const* messages);

// Low 32 bits of the wall-clock milliseconds since 1970-01-01 00:00 UTC.
uint32_t frame_timestamp_now();

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
