// Scoped access to one of the engine's interfaces (devices, parameters, media engine): obtained
// through queryInterface and released when the holder goes out of scope.
#pragma once

#include <cstdint>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace web {

template <class Interface, kelvo::rtc::INTERFACE_ID_TYPE Id>
class engine_interface {
public:
    // Empty when there is no engine or the engine does not hand the interface out.
    explicit engine_interface(kelvo::rtc::IRtcEngine* engine) {
        void* out = nullptr;
        if (engine != nullptr && engine->queryInterface(Id, &out) == 0) {
            interface_ = static_cast<Interface*>(out);
        }
    }
    ~engine_interface() {
        if (interface_ != nullptr) interface_->release();
    }
    engine_interface(const engine_interface&) = delete;
    engine_interface& operator=(const engine_interface&) = delete;

    explicit operator bool() const { return interface_ != nullptr; }
    Interface* operator->() const { return interface_; }
    Interface& operator*() const { return *interface_; }

private:
    Interface* interface_ = nullptr;
};

using audio_device_manager =
    engine_interface<kelvo::rtc::IAudioDeviceManager, kelvo::rtc::IID_AUDIO_DEVICE_MANAGER>;
using video_device_manager =
    engine_interface<kelvo::rtc::IVideoDeviceManager, kelvo::rtc::IID_VIDEO_DEVICE_MANAGER>;
using engine_parameters =
    engine_interface<kelvo::rtc::IRtcEngineParameter, kelvo::rtc::IID_RTC_ENGINE_PARAMETER>;
using media_engine = engine_interface<kelvo::media::IMediaEngine, kelvo::rtc::IID_MEDIA_ENGINE>;

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
