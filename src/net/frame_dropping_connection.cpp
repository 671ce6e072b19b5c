#include "net/frame_dropping_connection.h"

#include <algorithm>
#include <limits>

namespace kelvo {
namespace rtc {
namespace web {

outgoing_batch*& current_outgoing_batch() {
    thread_local outgoing_batch* batch = nullptr;
    return batch;
}

std::vector<ws_message_ptr>& take_messages_of_send(outgoing_batch*& batch,
                                                   const ws_message_ptr& message,
                                                   std::vector<ws_message_ptr>& single) {
    if (batch && (batch->messages.empty() || batch->messages.front() != message)) batch = nullptr;
    if (batch) return batch->messages;
    single.push_back(message);
    return single;
}

int send_buffer_for_frame(size_t frame_bytes) {
    // A buffer of a few segments at least: smaller ones wait for the receiver's delayed
    // acknowledgements and send a few kilobytes per wait (on loopback a segment is 64 KiB).
    constexpr size_t smallest = 256 * 1024;
    // One frame: Linux doubles what it is given, for its bookkeeping, so a frame being written
    // and the next one fit, where its own sizing would hold up to 4 MB (a dozen tile-sized
    // frames). Half a frame would hold less but cost more wake-ups per frame on both ends.
    const size_t bytes = std::max(frame_bytes, smallest);
    return static_cast<int>(std::min<size_t>(bytes, std::numeric_limits<int>::max()));
}

int32_t drop_whole_groups(std::queue<ws_message_ptr>& waiting, size_t& buffered, int32_t n) {
    if (n < 1 || waiting.size() < static_cast<size_t>(n)) {
        return 0;
    }
    // std::queue cannot be walked, so the waiting messages are taken out and put back in order.
    std::vector<ws_message_ptr> all;
    all.reserve(waiting.size());
    size_t droppable = 0;
    while (!waiting.empty()) {
        if (waiting.front()->get_opcode() == websocketpp::frame::opcode::binary) {
            ++droppable;
        }
        all.push_back(std::move(waiting.front()));
        waiting.pop();
    }
    const size_t group = static_cast<size_t>(n);
    size_t to_remove = group * (droppable / group);
    const int32_t removed = static_cast<int32_t>(to_remove);
    for (ws_message_ptr& message : all) {
        if (to_remove > 0 && message->get_opcode() == websocketpp::frame::opcode::binary) {
            buffered -= message->get_payload().size();
            --to_remove;
        } else {
            waiting.push(std::move(message));
        }
    }
    return removed;
}

void prepare_server_data_frame(const ws_message_ptr& message) {
    const std::string& payload = message->get_payload();
    websocketpp::frame::basic_header header(message->get_opcode(), payload.size(), true, false);
    websocketpp::frame::extended_header extended(payload.size());
    message->set_header(websocketpp::frame::prepare_header(header, extended));
    message->set_prepared(true);
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
