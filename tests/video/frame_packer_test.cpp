#include "video/frame_packer.h"

#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "video/fake_video_frame.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using test::fake_video_frame;

uint32_t read16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t read32(const uint8_t* p) { return (read16(p) << 16) | read16(p + 2); }

// The frame's messages one after the other, as the page receives them, packed into storage that
// holds an earlier frame's bytes, as a stream connection's kept storage does.
std::vector<uint8_t> pack(const fake_video_frame& frame, frame_layout& layout, int rotation = 0,
                          bool flag = false, uint32_t timestamp = 0) {
    EXPECT_TRUE(frame_layout_of(frame, layout));
    size_t sizes[frame_messages];
    frame_message_sizes(layout, sizes);
    std::vector<uint8_t> out(sizes[0] + sizes[1] + sizes[2] + sizes[3], 0xAA);
    uint8_t* messages[frame_messages];
    for (size_t i = 0, at = 0; i < frame_messages; at += sizes[i++]) messages[i] = out.data() + at;
    pack_frame(frame, layout, rotation, flag, timestamp, messages);
    return out;
}

// Every row of plane `p` carries the frame's first `width` bytes of that row, then zeroed padding.
void expect_plane(const uint8_t* plane, int p, size_t stride, int width, int rows) {
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < static_cast<int>(stride); ++c) {
            ASSERT_EQ(plane[r * stride + c], c < width ? fake_video_frame::value(p, r, c) : 0)
                << "plane " << p << " row " << r << " byte " << c;
        }
    }
}

// The Y plane at the frame's full size, U and V at half of it.
void expect_planes(const std::vector<uint8_t>& out, const frame_layout& layout) {
    const size_t s = layout.padded_stride;
    const uint8_t* y = out.data() + frame_header_size;
    expect_plane(y, 0, s, layout.width, layout.height);
    for (int p = 1; p <= 2; ++p) {
        expect_plane(y + layout.y_size + (p - 1) * layout.chroma_size, p, s / 2, layout.width / 2,
                     layout.height / 2);
    }
}

TEST(frame_packer, vga_frame_has_no_padding_and_four_exact_pieces) {
    fake_video_frame frame(640, 480, 640, 320);
    frame_layout layout;
    const auto out = pack(frame, layout, 90, true, 0x01020304);
    EXPECT_EQ(layout.padded_stride, 640u);
    EXPECT_EQ(frame_header_size, 20u);
    EXPECT_EQ(layout.y_size, 307200u);
    EXPECT_EQ(layout.chroma_size, 76800u);
    EXPECT_EQ(out.size(), 20u + 460800u);

    const uint8_t expected_header[20] = {0, 1, 0x02, 0x80, 0x01, 0xE0, 0, 0, 0, 0,
                                         0, 0, 0,    0,    0,    90,   1, 2, 3, 4};
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 20),
              std::vector<uint8_t>(expected_header, expected_header + 20));
    expect_planes(out, layout);
}

TEST(frame_packer, rows_are_padded_to_sixteen_bytes) {
    fake_video_frame frame(100, 50, 100, 50);
    frame_layout layout;
    const auto out = pack(frame, layout);
    EXPECT_EQ(layout.padded_stride, 112u);
    EXPECT_EQ(read16(out.data() + 10), 12u);
    EXPECT_EQ(layout.y_size, 112u * 50);
    EXPECT_EQ(layout.chroma_size, 56u * 25);
    expect_planes(out, layout);

    // A stride wider than the picture: only the picture's bytes are taken from each row.
    fake_video_frame wide(100, 50, 120, 64);
    const auto wide_out = pack(wide, layout);
    EXPECT_EQ(layout.padded_stride, 128u);
    EXPECT_EQ(read16(wide_out.data() + 10), 28u);
    expect_planes(wide_out, layout);
}

TEST(frame_packer, odd_height_keeps_floor_of_half_the_chroma_rows) {
    fake_video_frame frame(64, 121, 64, 32);
    frame_layout layout;
    const auto out = pack(frame, layout);
    EXPECT_EQ(read16(out.data() + 4), 121u);
    EXPECT_EQ(layout.y_size, 64u * 121);
    EXPECT_EQ(layout.chroma_size, 32u * 60);
    EXPECT_EQ(out.size(), 20u + 64 * 121 + 2 * 32 * 60);
    expect_planes(out, layout);
}

TEST(frame_packer, header_fields_are_big_endian) {
    fake_video_frame frame(1922, 1081, 1922, 961);
    frame_layout layout;
    const auto out = pack(frame, layout, -90, false, 0xA1B2C3D4u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(read16(out.data() + 2), 1922u);
    EXPECT_EQ(read16(out.data() + 4), 1081u);
    EXPECT_EQ(read16(out.data() + 6), 0u);
    EXPECT_EQ(read16(out.data() + 8), 0u);
    EXPECT_EQ(read16(out.data() + 10), 1936u - 1922u);
    EXPECT_EQ(read16(out.data() + 12), 0u);
    EXPECT_EQ(read16(out.data() + 14), 270u);
    EXPECT_EQ(read32(out.data() + 16), 0xA1B2C3D4u);
}

TEST(frame_packer, rotation_is_normalised) {
    EXPECT_EQ(header_rotation(-90), 270);
    EXPECT_EQ(header_rotation(-180), 180);
    EXPECT_EQ(header_rotation(-270), 90);
    EXPECT_EQ(header_rotation(-360), 0);
    for (int r : {0, 90, 180, 270}) EXPECT_EQ(header_rotation(r), r);
    // Values the 16-bit field cannot hold are reduced to a turn.
    EXPECT_EQ(header_rotation(-450), 270);
    EXPECT_EQ(header_rotation(70000), 70000 % 360);
    EXPECT_EQ(header_rotation(INT32_MIN), ((INT32_MIN % 360) + 720) % 360);
}

TEST(frame_packer, refuses_frames_the_header_cannot_describe) {
    frame_layout layout;
    const auto refused = [&](fake_video_frame& frame) { return !frame_layout_of(frame, layout); };

    fake_video_frame frame(100, 50, 100, 50);
    EXPECT_FALSE(refused(frame));
    frame.set_size(0, 50);
    EXPECT_TRUE(refused(frame));
    frame.set_size(100, -2);
    EXPECT_TRUE(refused(frame));
    frame.set_size(65536, 2);
    EXPECT_TRUE(refused(frame));

    fake_video_frame short_stride(100, 50, 100, 50);
    short_stride.set_stride(0, 99);
    EXPECT_TRUE(refused(short_stride));
    fake_video_frame short_chroma(100, 50, 100, 50);
    short_chroma.set_stride(2, 49);
    EXPECT_TRUE(refused(short_chroma));
    fake_video_frame negative(100, 50, 100, 50);
    negative.set_stride(1, -50);
    EXPECT_TRUE(refused(negative));
    fake_video_frame huge_padding(100, 2, 100, 50);
    huge_padding.set_stride(0, 100 + 65536);
    EXPECT_TRUE(refused(huge_padding));
    for (int plane = 0; plane < 3; ++plane) {
        fake_video_frame missing(100, 50, 100, 50);
        missing.drop_plane(plane);
        EXPECT_TRUE(refused(missing)) << "plane " << plane;
    }
    // One pixel high or wide has no chroma rows or columns to copy, so no chroma planes needed.
    fake_video_frame thin(1, 1, 1, 1);
    thin.drop_plane(1);
    thin.drop_plane(2);
    EXPECT_FALSE(refused(thin));
    EXPECT_EQ(layout.chroma_size, 0u);
}

TEST(frame_packer, timestamp_is_wall_clock_milliseconds) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const uint32_t stamp = frame_timestamp_now();
    EXPECT_LT(static_cast<uint32_t>(stamp - static_cast<uint32_t>(ms)), 5000u);
}

}  // namespace
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
