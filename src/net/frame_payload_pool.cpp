#include "net/frame_payload_pool.h"

#include <algorithm>
#include <utility>

namespace kelvo {
namespace rtc {
namespace web {

frame_payload_pool::message_ptr frame_payload_pool::binary_message(size_t size, uint8_t*& payload) {
    using message_type = websocketpp::config::core::message_type;
    std::shared_ptr<frame_payload_pool> pool = shared_from_this();
    message_ptr message(new message_type(message_type::con_msg_man_ptr(),
                                         websocketpp::frame::opcode::binary, 0),
                        [pool](message_type* released) {
                            pool->give_back(std::move(released->get_raw_payload()));
                            delete released;
                        });
    std::string& bytes = message->get_raw_payload();
    bytes = take(size);
    payload = reinterpret_cast<uint8_t*>(&bytes[0]);
    return message;
}

std::string frame_payload_pool::take(size_t size) {
    {
        checked_lock lock(mutex_);
        auto kept = std::find_if(kept_.begin(), kept_.end(),
                                 [size](const std::string& bytes) { return bytes.size() == size; });
        if (kept != kept_.end()) {
            std::string bytes = std::move(*kept);
            kept_.erase(kept);
            return bytes;
        }
    }
    return std::string(size, '\0');
}

void frame_payload_pool::give_back(std::string payload) {
    if (payload.empty()) return;
    checked_lock lock(mutex_);
    // The oldest goes first: after a change of size it is the one least likely to fit again.
    if (kept_.size() == most_kept) kept_.erase(kept_.begin());
    kept_.push_back(std::move(payload));
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
