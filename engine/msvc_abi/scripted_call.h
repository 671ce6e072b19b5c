// The call this engine plays, the same every time, so that whoever drives an agent with it knows
// every argument the engine passes: after a join, on its event thread, join success, a remote
// video, mute events, a rejoin, a warning, an error, an API result and a key request; on a remote
// view's render thread, `frame_count` frames of the test pattern at the size the renderer asks
// for, then the peer leaving; after a leave, the leave callback.
#pragma once

#include <cstdint>

namespace kelvo {
namespace rtc {
namespace msvc_abi {

// The uid granted for a join with uid 0; above 2^31, so its sign is tested on every crossing.
constexpr uint32_t granted_uid = 3000000001u;
constexpr int join_elapsed = 17;

// The one peer of the call and its video.
constexpr uint32_t peer_uid = 4000000002u;
constexpr int peer_video_width = 640;
constexpr int peer_video_height = 360;
constexpr int peer_video_elapsed = 23;
constexpr bool peer_audio_muted = true;
constexpr bool peer_video_muted = false;
constexpr bool peer_video_enabled = true;
constexpr int peer_leave_reason = 2;

constexpr int rejoin_elapsed = 31;
constexpr int warning_code = 8;
constexpr int error_code = -1003;
constexpr const char* api_name = "rtc.api.start_recording_service";
constexpr int api_error = -7;

// The frames of a remote view: as many, paced this far apart, drawn at the size the renderer
// asked for (at most the largest) or else at the default size. Each plane's rows are longer than
// the picture by a padding of its own, filled with `padding_byte`, so a reader that takes a
// wrong stride or plane shows in the picture.
constexpr int frame_count = 12;
constexpr unsigned frame_interval_ms = 40;
constexpr int frame_rotation = 270;
constexpr bool frame_mirrored = true;
constexpr int default_frame_width = 160;
constexpr int default_frame_height = 120;
constexpr int largest_frame_width = 640;
constexpr int largest_frame_height = 480;
constexpr int y_padding = 40;
constexpr int u_padding = 24;
constexpr int v_padding = 8;
constexpr uint8_t padding_byte = 0xEE;

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
