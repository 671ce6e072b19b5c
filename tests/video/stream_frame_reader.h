// Reads the frame messages of a stream connection back into pictures: the 20-byte header and
// the three padded planes, checked for consistent sizes, with the stand-in's test pattern decoded.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <frame_pattern.h>
#include <gtest/gtest.h>

#include "support/ws_test_client.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace test {

struct stream_frame {
    bool flag = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t padding = 0;
    uint32_t rotation = 0;
    uint32_t timestamp = 0;
    std::string y, u, v;

    uint32_t row_length() const { return width + padding; }
    kelvo::rtc::test_pattern::planes planes() const {
        const int row = static_cast<int>(row_length());
        return {reinterpret_cast<const uint8_t*>(y.data()), row,
                reinterpret_cast<const uint8_t*>(u.data()), row / 2,
                reinterpret_cast<const uint8_t*>(v.data()), row / 2,
                static_cast<int>(width), static_cast<int>(height),
                static_cast<int>(width / 2), static_cast<int>(height / 2)};
    }
    uint32_t counter() const { return kelvo::rtc::test_pattern::frame_counter(planes()); }
    // Empty when every visible sample matches the pattern of the frame's own counter.
    std::string pattern_mismatch() const {
        return kelvo::rtc::test_pattern::check_frame_pattern(planes());
    }
};

inline uint32_t big_endian(const std::string& bytes, size_t offset, size_t size) {
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return value;
}

// The next whole frame, or none when its first message does not come in time. A frame whose
// messages do not fit together fails the test.
inline std::optional<stream_frame> next_frame(
    kelvo::test::ws_test_client& client,
    std::chrono::milliseconds timeout = kelvo::test::agent_timeout) {
    std::optional<std::string> header = client.wait_binary(timeout);
    if (!header) return std::nullopt;
    stream_frame frame;
    EXPECT_EQ(header->size(), 20u);
    if (header->size() != 20u) return std::nullopt;
    EXPECT_EQ(big_endian(*header, 0, 1), 0u);
    EXPECT_EQ(big_endian(*header, 6, 4), 0u);
    EXPECT_EQ(big_endian(*header, 12, 2), 0u);
    frame.flag = big_endian(*header, 1, 1) != 0;
    frame.width = big_endian(*header, 2, 2);
    frame.height = big_endian(*header, 4, 2);
    frame.padding = big_endian(*header, 10, 2);
    frame.rotation = big_endian(*header, 14, 2);
    frame.timestamp = big_endian(*header, 16, 4);
    EXPECT_EQ(frame.row_length() % 16, 0u);
    const std::chrono::seconds rest(5);
    std::optional<std::string> y = client.wait_binary(rest);
    std::optional<std::string> u = client.wait_binary(rest);
    std::optional<std::string> v = client.wait_binary(rest);
    EXPECT_TRUE(y && u && v) << "a frame came without its planes";
    if (!y || !u || !v) return std::nullopt;
    EXPECT_EQ(y->size(), size_t{frame.row_length()} * frame.height);
    EXPECT_EQ(u->size(), size_t{frame.row_length() / 2} * (frame.height / 2));
    EXPECT_EQ(v->size(), u->size());
    if (y->size() != size_t{frame.row_length()} * frame.height ||
        u->size() != size_t{frame.row_length() / 2} * (frame.height / 2) || v->size() != u->size()) {
        return std::nullopt;
    }
    frame.y = std::move(*y);
    frame.u = std::move(*u);
    frame.v = std::move(*v);
    return frame;
}

}  // namespace test
}  // namespace web
}  // namespace rtc
}  // namespace kelvo
