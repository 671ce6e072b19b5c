// Base of every connection of our server configurations: frame dropping, and what the connection
// counts against the agent's limits (its unsent replies, and its place if its site is not allowed).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include <websocketpp/frame.hpp>

#include "net/connection_limits.h"
#include "net/frame_dropping_connection.h"

namespace kelvo {
namespace rtc {
namespace web {

class counted_connection_base : public frame_dropping_connection_base {
public:
    ~counted_connection_base() {
        if (limits_) limits_->unsent.shrank(0, unsent_.load());
    }

    // Set once, right after the connection is made and before it is used.
    void count_against(std::shared_ptr<shared_limits> limits) { limits_ = std::move(limits); }

    // The connection's queue of messages waiting to be written, under its write lock: a message
    // went in, or was taken out to be written. Only replies (text messages) count: video frames
    // are kept few by frame dropping.
    void queued(const ws_message_ptr& message) {
        if (!counts(message)) return;
        const size_t bytes = message->get_payload().size();
        limits_->unsent.grew(unsent_.fetch_add(bytes), bytes);
    }
    void taken(const ws_message_ptr& message) {
        if (!counts(message)) return;
        const size_t bytes = message->get_payload().size();
        limits_->unsent.shrank(unsent_.fetch_sub(bytes) - bytes, bytes);
    }
    size_t unsent_reply_bytes() const { return unsent_.load(); }

    // Set when the handshake is validated, before the connection opens; only read after that.
    void hold_place(std::shared_ptr<site_places::place> place) { place_ = std::move(place); }
    // Null for a connection of an allowed site or of a program of the user.
    site_places::place* place() const { return place_.get(); }

private:
    bool counts(const ws_message_ptr& message) const {
        return limits_ && message && message->get_opcode() == websocketpp::frame::opcode::text;
    }

    // Declared first, destroyed last: the place gives itself back to it.
    std::shared_ptr<shared_limits> limits_;
    std::atomic<size_t> unsent_{0};
    std::shared_ptr<site_places::place> place_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
