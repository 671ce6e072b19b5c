// The engine's secondary interfaces, handed out by queryInterface and freed by their release().
#pragma once

#include <vector>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace standin {

class standin_engine;

IRtcEngineParameter* new_parameter_object(standin_engine& engine);
media::IMediaEngine* new_media_engine(standin_engine& engine);
IVideoDeviceManager* new_video_device_manager(standin_engine& engine);
IAudioDeviceManager* new_audio_device_manager(standin_engine& engine);

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
