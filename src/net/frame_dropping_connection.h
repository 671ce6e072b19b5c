// Frame dropping inside websocketpp's connection.
//
// The library's connection keeps its queue of messages waiting to be written private and offers
// one send(message_ptr). Our configurations give the connection a base of our own (the flag) and
// define connection<our config>::send themselves (an explicit specialization, which is a member
// and so may use the queue under the connection's own write lock). A send that carries a drop
// group or several messages reaches that definition through queue_batch, which leaves the batch
// in a per-thread slot for the duration of the one send call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <queue>
#include <vector>

#include <websocketpp/config/core.hpp>
#include <websocketpp/error.hpp>
#include <websocketpp/frame.hpp>

#include "net/frame_payload_pool.h"
#include "net/websocket_server.h"

namespace kelvo {
namespace rtc {
namespace web {

// Frame dropping: part of the base of our connections (counted_connection.h).
class frame_dropping_connection_base {
public:
    void set_frame_dropping(bool enabled) { frame_dropping_.store(enabled); }
    bool frame_dropping() const { return frame_dropping_.load(); }
    // Records the size the socket's send buffer is to be fitted to; true when it changed by more
    // than a quarter, so that frames of nearly one size never send the socket work per frame.
    bool refit_send_buffer(size_t bytes) {
        const size_t fitted = send_buffer_fit_.load();
        if (fitted != 0 && bytes >= fitted - fitted / 4 && bytes <= fitted + fitted / 4) {
            return false;
        }
        send_buffer_fit_.store(bytes);
        return true;
    }

    // Storage for the messages of the connection's frames, written in place.
    frame_payload_pool& frame_payloads() { return *frame_payloads_; }

private:
    std::atomic<bool> frame_dropping_{false};
    // Shared with the messages that hold its storage, which may outlive the connection.
    const std::shared_ptr<frame_payload_pool> frame_payloads_ =
        std::make_shared<frame_payload_pool>();
    // Any sending thread; the socket itself is only touched on the I/O thread.
    std::atomic<size_t> send_buffer_fit_{0};
};

using ws_message_ptr = websocketpp::config::core::message_type::ptr;

// Messages queued under one hold of the write lock; the first drop happens before any of them is
// queued. `group` as for send_binary: n in, number removed out (only with frame dropping on).
struct outgoing_batch {
    std::vector<ws_message_ptr> messages;
    int32_t* group = nullptr;
    // Number of waiting messages removed by this send (0 with frame dropping off).
    int32_t removed = 0;
};

// The batch of the send call running on this thread, if any.
outgoing_batch*& current_outgoing_batch();

// Hands `batch` to the connection's send; the library's error code comes back.
template <typename connection_ptr>
std::error_code queue_batch(const connection_ptr& con, outgoing_batch& batch) {
    current_outgoing_batch() = &batch;
    std::error_code ec = con->send(batch.messages.front());
    current_outgoing_batch() = nullptr;
    return ec;
}

// A binary message holding a copy of the data: the one copy a message costs on its way out.
template <typename connection_type>
ws_message_ptr make_binary_message(connection_type& con, const void* data, size_t size) {
    ws_message_ptr message = con.get_message(websocketpp::frame::opcode::binary, size);
    message->append_payload(data, size);
    return message;
}

// The send buffer for frames of `frame_bytes`: the kernel's own sizing lets several whole frames
// wait in the socket, each of them making the picture later, where no newer frame replaces them.
int send_buffer_for_frame(size_t frame_bytes);

// Removes n * floor(q / n) of the q oldest waiting binary messages (other messages, such as a
// close frame or a pong, are never removed and keep their order), lowers `buffered` by their
// payload sizes, and returns the number removed. Caller holds the connection's write lock.
int32_t drop_whole_groups(std::queue<ws_message_ptr>& waiting, size_t& buffered, int32_t n);

// Sets the frame header of an unmasked, uncompressed data message in place, so the payload is
// written from the message itself without the copy the library's preparation makes.
void prepare_server_data_frame(const ws_message_ptr& message);

// Takes the batch left for this send call: the messages it queues are the batch's, or the one
// message it was given (then in `single`). A batch whose first message is not `message` was left
// for another call, and is dropped from `batch`.
std::vector<ws_message_ptr>& take_messages_of_send(outgoing_batch*& batch,
                                                   const ws_message_ptr& message,
                                                   std::vector<ws_message_ptr>& single);

// Prepares every message not prepared yet: in place when `in_place` (a batch of data messages on
// a connection of protocol version 7 or later), otherwise as the library does, into a fresh
// message from the connection's manager.
template <typename processor_type, typename manager_type>
std::error_code prepare_messages(std::vector<ws_message_ptr>& messages, bool in_place,
                                 processor_type& processor, manager_type& manager) {
    for (ws_message_ptr& message : messages) {
        if (message->get_prepared()) continue;
        if (in_place) {
            prepare_server_data_frame(message);
            continue;
        }
        ws_message_ptr prepared = manager.get_message();
        if (!prepared) {
            return websocketpp::error::make_error_code(websocketpp::error::no_outgoing_buffers);
        }
        const std::error_code ec = processor.prepare_data_frame(message, prepared);
        if (ec) return ec;
        // The library's fresh message leaves its opcode unset; frame dropping and the count of
        // unsent replies tell messages apart by it.
        prepared->set_opcode(message->get_opcode());
        message = prepared;
    }
    return std::error_code();
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo

// The body of connection<config>::send for our configurations. Apart from the batch and where the
// state is checked it is the library's own send: state check, preparation, queueing under the
// write lock, and a write posted to the I/O thread unless one is in progress.
#define KELVO_DEFINE_FRAME_DROPPING_SEND(config_type)                                           \
    template <>                                                                                 \
    lib::error_code connection<config_type>::send(connection<config_type>::message_ptr msg) {   \
        using namespace ::kelvo::rtc::web;                                                      \
        outgoing_batch* batch = current_outgoing_batch();                                       \
        current_outgoing_batch() = nullptr;                                                     \
        std::vector<message_ptr> single;                                                        \
        std::vector<message_ptr>& messages = take_messages_of_send(batch, msg, single);         \
        bool needs_writing = false;                                                             \
        {                                                                                       \
            /* Both locks, in the order the library's close takes them: a close frame is      */ \
            /* queued under the write lock after the state has left "open", so no data message */ \
            /* can be queued behind a close frame. */                                           \
            scoped_lock_type state_lock(m_connection_state_lock);                               \
            scoped_lock_type lock(m_write_lock);                                                \
            if (m_state != session::state::open) {                                             \
                return error::make_error_code(error::invalid_state);                            \
            }                                                                                   \
            const bool in_place = batch && m_processor->get_version() >= 7;                     \
            lib::error_code ec = prepare_messages(messages, in_place, *m_processor,             \
                                                  *m_msg_manager);                              \
            if (ec) {                                                                           \
                return ec;                                                                      \
            }                                                                                   \
            if (batch && batch->group && this->frame_dropping()) {                              \
                batch->removed = drop_whole_groups(m_send_queue, m_send_buffer_size,            \
                                                   *batch->group);                              \
                *batch->group = batch->removed;                                                 \
            }                                                                                   \
            for (message_ptr& message : messages) {                                             \
                write_push(message);                                                            \
            }                                                                                   \
            needs_writing = !m_write_flag && !m_send_queue.empty();                             \
        }                                                                                       \
        if (needs_writing) {                                                                    \
            transport_con_type::dispatch(lib::bind(&type::write_frame, type::get_shared()));    \
        }                                                                                       \
        return lib::error_code();                                                               \
    }                                                                                           \
                                                                                                \
    /* The library reads the count without its lock; ours reads it under the write lock. */    \
    template <>                                                                                 \
    size_t connection<config_type>::get_buffered_amount() const {                               \
        scoped_lock_type lock(const_cast<mutex_type&>(m_write_lock));                           \
        return m_send_buffer_size;                                                              \
    }                                                                                           \
                                                                                                \
    /* The library's queue, which also counts the replies waiting against the agent's limits. */ \
    template <>                                                                                 \
    void connection<config_type>::write_push(connection<config_type>::message_ptr msg) {       \
        if (!msg) {                                                                             \
            return;                                                                             \
        }                                                                                       \
        m_send_buffer_size += msg->get_payload().size();                                        \
        m_send_queue.push(msg);                                                                 \
        this->queued(msg);                                                                      \
    }                                                                                           \
                                                                                                \
    template <>                                                                                 \
    connection<config_type>::message_ptr connection<config_type>::write_pop() {                 \
        if (m_send_queue.empty()) {                                                             \
            return message_ptr();                                                               \
        }                                                                                       \
        message_ptr msg = m_send_queue.front();                                                 \
        m_send_buffer_size -= msg->get_payload().size();                                        \
        m_send_queue.pop();                                                                     \
        this->taken(msg);                                                                       \
        return msg;                                                                             \
    }
