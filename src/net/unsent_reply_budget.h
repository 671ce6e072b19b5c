// The replies (text messages) that the agent's connections hold queued and not yet handed to their
// sockets, counted for the whole agent: a page that sends commands and never reads the answers
// makes them pile up, and many such pages together must not grow the agent without bound.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace kelvo {
namespace rtc {
namespace web {

class unsent_reply_budget {
public:
    explicit unsent_reply_budget(size_t bytes) : bytes_(bytes) {}
    unsent_reply_budget(const unsent_reply_budget&) = delete;
    unsent_reply_budget& operator=(const unsent_reply_budget&) = delete;

    // A connection's unsent replies grew from `before` bytes by `bytes`, or shrank.
    void grew(size_t before, size_t bytes) {
        if (before == 0 && bytes != 0) holders_.fetch_add(1);
        unsent_.fetch_add(bytes);
    }
    void shrank(size_t after, size_t bytes) {
        if (after == 0 && bytes != 0) holders_.fetch_sub(1);
        unsent_.fetch_sub(bytes);
    }

    bool spent() const { return unsent_.load() > bytes_; }
    // What one connection may hold while the budget is spent: an even part for each connection
    // that holds unsent replies.
    size_t share() const { return bytes_ / std::max<size_t>(1, holders_.load()); }
    size_t unsent() const { return unsent_.load(); }

private:
    const size_t bytes_;
    std::atomic<size_t> unsent_{0};
    std::atomic<size_t> holders_{0};
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
