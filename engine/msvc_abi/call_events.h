// The callbacks the engine makes on its event threads, with the script's arguments.
#pragma once

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace msvc_abi {

// After a join: join success for `channel` and `granted`, the peer's video, its mute events, a
// rejoin, a warning, an error, an API result and a key request, in this order.
void play_join_events(IRtcEngineEventHandler& handler, const char* channel, uid_t granted);

// After a leave.
void play_leave_event(IRtcEngineEventHandler& handler);

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
