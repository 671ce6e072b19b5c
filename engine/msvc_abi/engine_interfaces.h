// The engine's interfaces the agent asks for by id: the parameter object (3) and the media engine
// (4), one of each, living as long as the library. Every call is recorded and succeeds.
#pragma once

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace msvc_abi {

class parameter_object final : public IRtcEngineParameter {
public:
    void release() override;
    int setBool(const char* key, bool value) override;
    int setInt(const char* key, int value) override;
    int setString(const char* key, const char* value) override;
    int setObject(const char* key, const char* json) override;
    int setParameters(const char* json) override;
};

class media_object final : public media::IMediaEngine {
public:
    void release() override;
    int registerVideoRenderFactory(media::IExternalVideoRenderFactory* factory) override;
    // The factory registered last; read by the engine when it starts a view.
    media::IExternalVideoRenderFactory* factory() const {
        return __atomic_load_n(&factory_, __ATOMIC_SEQ_CST);
    }

private:
    media::IExternalVideoRenderFactory* factory_ = nullptr;
};

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
