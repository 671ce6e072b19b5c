// What a stream channel needs from the agent that owns it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/connection_context.h"
#include "net/websocket_server.h"

namespace kelvo {
namespace rtc {
namespace web {

class IVideoStreamHost {
public:
    // Remote users' frames are sent only while the agent is in a channel. Any thread.
    virtual bool isJoined() const = 0;
    // Sends one frame's messages, written in place by the group's writer, on the stream
    // connection of `context` as one drop group; on 0, `dropped` holds the number of older
    // messages the connection discarded for it.
    virtual int32_t sendFrame(const connection_context& context, const binary_group& frame,
                              int32_t* dropped) = 0;
    // Tells the page that the user's video is available again ("onAddVideoStream").
    virtual void announceStream(uint32_t uid) = 0;

protected:
    ~IVideoStreamHost() = default;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
