#include "video/frame_packer.h"

#include <chrono>
#include <cstring>
#include <limits>

namespace kelvo {
namespace rtc {
namespace web {

using kelvo::media::IVideoFrame;
using kelvo::media::U_PLANE;
using kelvo::media::V_PLANE;
using kelvo::media::Y_PLANE;

namespace {

constexpr int64_t max_field = 0xFFFF;

void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}

void put32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}

// Copies `rows` rows of `row_bytes` each and zeroes each row's padding (the storage may hold an
// earlier frame); one block copy when neither side has row padding.
void copy_plane(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride,
                size_t row_bytes, size_t rows) {
    if (dst_stride == row_bytes && src_stride == row_bytes) {
        if (rows != 0) std::memcpy(dst, src, row_bytes * rows);
        return;
    }
    for (size_t r = 0; r < rows; ++r) {
        uint8_t* row = dst + r * dst_stride;
        if (row_bytes != 0) std::memcpy(row, src + r * src_stride, row_bytes);
        std::memset(row + row_bytes, 0, dst_stride - row_bytes);
    }
}

bool chroma_plane_ok(const IVideoFrame& frame, kelvo::media::PLANE_TYPE plane, int64_t row_bytes,
                     int64_t rows) {
    if (row_bytes == 0 || rows == 0) {
        return true;
    }
    return frame.buffer(plane) != nullptr && frame.stride(plane) >= row_bytes;
}

}  // namespace

bool frame_layout_of(const IVideoFrame& frame, frame_layout& layout) {
    const int64_t width = frame.width();
    const int64_t height = frame.height();
    const int64_t y_stride = frame.stride(Y_PLANE);
    if (width < 1 || width > max_field || height < 1 || height > max_field) {
        return false;
    }
    if (frame.buffer(Y_PLANE) == nullptr || y_stride < width) {
        return false;
    }
    const int64_t padded = (y_stride + 15) / 16 * 16;
    if (padded - width > max_field) {
        return false;
    }
    const int64_t chroma_rows = height / 2;
    if (!chroma_plane_ok(frame, U_PLANE, width / 2, chroma_rows) ||
        !chroma_plane_ok(frame, V_PLANE, width / 2, chroma_rows)) {
        return false;
    }
    // At most about 4.3 GB (65535 + 65535 rounded, times 65535 rows) in the Y plane.
    if (static_cast<uint64_t>(padded) * static_cast<uint64_t>(height) >
        std::numeric_limits<size_t>::max()) {
        return false;
    }
    layout.width = static_cast<int32_t>(width);
    layout.height = static_cast<int32_t>(height);
    layout.padded_stride = static_cast<size_t>(padded);
    layout.y_size = static_cast<size_t>(padded * height);
    layout.chroma_size = static_cast<size_t>(padded / 2 * chroma_rows);
    return true;
}

uint16_t header_rotation(int32_t rotation) {
    int64_t value = rotation;
    if (value < 0) {
        value += 360;
    }
    if (value < 0 || value > max_field) {
        value = (value % 360 + 360) % 360;
    }
    return static_cast<uint16_t>(value);
}

void frame_message_sizes(const frame_layout& layout, size_t (&sizes)[frame_messages]) {
    sizes[0] = frame_header_size;
    sizes[1] = layout.y_size;
    sizes[2] = layout.chroma_size;
    sizes[3] = layout.chroma_size;
}

void pack_frame(const IVideoFrame& frame, const frame_layout& layout, int32_t rotation,
                bool mirrored, uint32_t timestamp, uint8_t* const* messages) {
    const size_t width = static_cast<size_t>(layout.width);
    const size_t height = static_cast<size_t>(layout.height);
    const size_t padded = layout.padded_stride;

    uint8_t* out = messages[0];
    std::memset(out, 0, frame_header_size);
    out[1] = mirrored ? 1 : 0;
    put16(out + 2, static_cast<uint32_t>(width));
    put16(out + 4, static_cast<uint32_t>(height));
    put16(out + 10, static_cast<uint32_t>(padded - width));
    put16(out + 14, header_rotation(rotation));
    put32(out + 16, timestamp);

    uint8_t* y = messages[1];
    uint8_t* u = messages[2];
    uint8_t* v = messages[3];
    copy_plane(y, padded, frame.buffer(Y_PLANE), static_cast<size_t>(frame.stride(Y_PLANE)),
               width, height);
    const size_t chroma_width = width / 2;
    const size_t chroma_rows = height / 2;
    copy_plane(u, padded / 2, frame.buffer(U_PLANE), static_cast<size_t>(frame.stride(U_PLANE)),
               chroma_width, chroma_rows);
    copy_plane(v, padded / 2, frame.buffer(V_PLANE), static_cast<size_t>(frame.stride(V_PLANE)),
               chroma_width, chroma_rows);
}

uint32_t frame_timestamp_now() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
