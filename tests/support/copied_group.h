// A binary group whose messages are written as copies of ready-made pieces, for tests and
// benchmarks that send the same bytes the way the video channels send a frame.
//
//   copied_group frame({header, y, u, v});
//   engine.send_binary_group(0, handle, frame.group(), &dropped);
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "net/websocket_server.h"

namespace kelvo {
namespace test {

class copied_group {
public:
    explicit copied_group(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {
        for (const std::string& piece : pieces_) sizes_.push_back(piece.size());
        group_ = {sizes_.data(), sizes_.size(), [this](uint8_t* const* payloads) {
                      for (size_t i = 0; i < pieces_.size(); ++i) {
                          std::memcpy(payloads[i], pieces_[i].data(), pieces_[i].size());
                      }
                  }};
    }
    copied_group(const copied_group&) = delete;
    copied_group& operator=(const copied_group&) = delete;

    const rtc::web::binary_group& group() const { return group_; }

private:
    std::vector<std::string> pieces_;
    std::vector<size_t> sizes_;
    rtc::web::binary_group group_;
};

}  // namespace test
}  // namespace kelvo
