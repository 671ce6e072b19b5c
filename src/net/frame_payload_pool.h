// Storage of a stream connection's frame messages, kept for the connection's next frames.
//
// A frame of 1080p takes 3 MB in four messages. Fresh storage for each costs the allocator's
// page faults and the zeroing of every page, which for a page that takes only some of the frames
// is most of what a dropped frame costs. The storage of a message the connection no longer needs,
// written or dropped, comes back here and the next frame of the same sizes is written into it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <websocketpp/config/core.hpp>

#include "base/thread_annotations.h"

namespace kelvo {
namespace rtc {
namespace web {

class frame_payload_pool : public std::enable_shared_from_this<frame_payload_pool> {
public:
    using message_ptr = websocketpp::config::core::message_type::ptr;

    // A binary message of `size` bytes whose contents are to be written in place (kept storage
    // holds an earlier frame's bytes); `payload` receives its storage. The message gives its
    // storage back here when the last reference to it goes, on whatever thread that is.
    message_ptr binary_message(size_t size, uint8_t*& payload);

private:
    std::string take(size_t size) KELVO_EXCLUDES(mutex_);
    void give_back(std::string payload) KELVO_EXCLUDES(mutex_);

    // Two frames' worth: one being written while the next replaces the one before it.
    static constexpr size_t most_kept = 8;

    // Guards kept_: taken by the sending thread and by the thread that lets a message go, which
    // may hold the connection's write lock (a dropped frame). A leaf: nothing is called under it.
    checked_mutex mutex_;
    std::vector<std::string> kept_ KELVO_GUARDED_BY(mutex_);
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
