// The millisecond clock and identifier texts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "base/clock.h"

using kelvo::rtc::web::newUniqueId;
using kelvo::rtc::web::nowMilliseconds;

TEST(unique_id, is_a_32_digit_uppercase_random_uuid) {
    const std::string first = newUniqueId();
    const std::string second = newUniqueId();
    EXPECT_NE(first, second);
    for (const std::string& id : {first, second}) {
        ASSERT_EQ(id.size(), 32u) << id;
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
        EXPECT_EQ(id[12], '4') << id;  // random UUID version
        EXPECT_NE(std::string("89AB").find(id[16]), std::string::npos) << id;
    }
}

TEST(clock, never_goes_backwards) {
    int64_t previous = nowMilliseconds();
    for (int i = 0; i < 100000; ++i) {
        const int64_t now = nowMilliseconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

TEST(clock, counts_milliseconds_like_the_steady_clock) {
    const auto outerStart = std::chrono::steady_clock::now();
    const int64_t start = nowMilliseconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int64_t end = nowMilliseconds();
    const auto outer = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - outerStart);
    EXPECT_GE(end - start, 999);
    EXPECT_LE(end - start, outer.count() + 1);
}
