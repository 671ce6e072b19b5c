#include "engine_interfaces.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "standin_engine.h"

namespace kelvo {
namespace rtc {
namespace standin {

namespace {

// Copies a text into a device buffer, cut to fit and terminated.
void copy_device_text(char* target, const std::string& text) {
    const size_t length = std::min(text.size(), static_cast<size_t>(MAX_DEVICE_ID_LENGTH - 1));
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

class parameter_object final : public IRtcEngineParameter {
public:
    explicit parameter_object(standin_engine& engine) : engine_(engine) {}

    void release() override {
        engine_.log_call("release parameter");
        delete this;
    }
    int setBool(const char* key, bool value) override {
        engine_.log_call(log_words({"setBool", log_text(key), log_bool(value)}));
        int code = 0;
        if (engine_.take_failure("setBool", code)) return code;
        engine_.parameter_bool(log_text(key), value);
        return 0;
    }
    int setInt(const char* key, int value) override {
        engine_.log_call(log_words({"setInt", log_text(key), std::to_string(value)}));
        int code = 0;
        return engine_.take_failure("setInt", code) ? code : 0;
    }
    int setString(const char* key, const char* value) override {
        engine_.log_call(log_words({"setString", log_text(key), log_text(value)}));
        int code = 0;
        if (engine_.take_failure("setString", code)) return code;
        engine_.parameter_string(log_text(key));
        return 0;
    }
    int setObject(const char* key, const char* json) override {
        engine_.log_call(log_words({"setObject", log_text(key), log_text(json)}));
        int code = 0;
        if (engine_.take_failure("setObject", code)) return code;
        return engine_.parameter_object(log_text(key), json);
    }
    int setParameters(const char* json) override {
        engine_.log_call(log_words({"setParameters", log_text(json)}));
        int code = 0;
        if (engine_.take_failure("setParameters", code)) return code;
        return engine_.apply_parameters(json);
    }

private:
    ~parameter_object() = default;
    standin_engine& engine_;
};

class media_engine final : public media::IMediaEngine {
public:
    explicit media_engine(standin_engine& engine) : engine_(engine) {}

    void release() override {
        engine_.log_call("release mediaEngine");
        delete this;
    }
    int registerVideoRenderFactory(media::IExternalVideoRenderFactory* factory) override {
        engine_.log_call("registerVideoRenderFactory");
        int code = 0;
        if (engine_.take_failure("registerVideoRenderFactory", code)) return code;
        engine_.register_factory(factory);
        return 0;
    }

private:
    ~media_engine() = default;
    standin_engine& engine_;
};

class device_collection final : public IDeviceCollection {
public:
    device_collection(standin_engine& engine, std::vector<device_entry> entries)
        : engine_(engine), entries_(std::move(entries)) {}

    int getCount() override {
        engine_.log_call("getCount");
        int code = 0;
        if (engine_.take_failure("getCount", code)) return code;
        return static_cast<int>(entries_.size());
    }
    int getDevice(int index, char deviceName[MAX_DEVICE_ID_LENGTH], char deviceId[MAX_DEVICE_ID_LENGTH]) override {
        engine_.log_call(log_words({"getDevice", std::to_string(index)}));
        int code = 0;
        if (engine_.take_failure("getDevice", code)) return code;
        if (index < 0 || static_cast<size_t>(index) >= entries_.size() || !deviceName || !deviceId) return -2;
        const device_entry& entry = entries_[static_cast<size_t>(index)];
        if (entry.fail) return -1;
        copy_device_text(deviceName, entry.name);
        copy_device_text(deviceId, entry.id);
        return 0;
    }
    void release() override {
        engine_.log_call("release deviceCollection");
        delete this;
    }

private:
    ~device_collection() = default;
    standin_engine& engine_;
    const std::vector<device_entry> entries_;
};

// An enumeration: the named failure gives null, else a snapshot of the current list.
IDeviceCollection* enumerate(standin_engine& engine, const char* operation, device_kind kind) {
    engine.log_call(operation);
    int code = 0;
    if (engine.take_failure(operation, code)) return nullptr;
    return new device_collection(engine, engine.devices(kind));
}

// A device selection: accepted unless a failure is armed for it.
int select(standin_engine& engine, const char* operation, const char* device_id) {
    engine.log_call(log_words({operation, log_text(device_id)}));
    int code = 0;
    return engine.take_failure(operation, code) ? code : 0;
}

class video_device_manager final : public IVideoDeviceManager {
public:
    explicit video_device_manager(standin_engine& engine) : engine_(engine) {}

    IDeviceCollection* enumerateVideoDevices() override {
        return enumerate(engine_, "enumerateVideoDevices", device_kind::camera);
    }
    int setDevice(const char* deviceId) override { return select(engine_, "setDevice", deviceId); }
    void release() override {
        engine_.log_call("release videoDeviceManager");
        delete this;
    }

private:
    ~video_device_manager() = default;
    standin_engine& engine_;
};

class audio_device_manager final : public IAudioDeviceManager {
public:
    explicit audio_device_manager(standin_engine& engine) : engine_(engine) {}

    IDeviceCollection* enumeratePlaybackDevices() override {
        return enumerate(engine_, "enumeratePlaybackDevices", device_kind::playback);
    }
    IDeviceCollection* enumerateRecordingDevices() override {
        return enumerate(engine_, "enumerateRecordingDevices", device_kind::recording);
    }
    int setPlaybackDevice(const char* deviceId) override {
        return select(engine_, "setPlaybackDevice", deviceId);
    }
    int setRecordingDevice(const char* deviceId) override {
        return select(engine_, "setRecordingDevice", deviceId);
    }
    void release() override {
        engine_.log_call("release audioDeviceManager");
        delete this;
    }

private:
    ~audio_device_manager() = default;
    standin_engine& engine_;
};

}  // namespace

IRtcEngineParameter* new_parameter_object(standin_engine& engine) { return new parameter_object(engine); }
media::IMediaEngine* new_media_engine(standin_engine& engine) { return new media_engine(engine); }
IVideoDeviceManager* new_video_device_manager(standin_engine& engine) { return new video_device_manager(engine); }
IAudioDeviceManager* new_audio_device_manager(standin_engine& engine) { return new audio_device_manager(engine); }

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
