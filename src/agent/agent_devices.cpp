// Listing and choosing the engine's cameras, playback and recording devices.
#include "agent/engine_interface.h"
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IDeviceCollection;
using kelvo::rtc::IRtcEngine;
using kelvo::rtc::MAX_DEVICE_ID_LENGTH;

constexpr int32_t invalid_argument = -2;
constexpr int32_t nothing_found = -1;

// Appends an entry for every device of the collection that it hands out, in its order, and
// releases the collection.
void append_devices(IDeviceCollection* collection, const char* kind, JsonValue& list) {
    if (collection == nullptr) return;
    const int count = collection->getCount();
    for (int index = 0; index < count; ++index) {
        char name[MAX_DEVICE_ID_LENGTH] = {};
        char id[MAX_DEVICE_ID_LENGTH] = {};
        if (collection->getDevice(index, name, id) != 0) continue;
        name[MAX_DEVICE_ID_LENGTH - 1] = '\0';
        id[MAX_DEVICE_ID_LENGTH - 1] = '\0';
        JsonValue entry;
        entry.makeObject();
        entry.setString("deviceId", id);
        entry.setString("label", name);
        entry.setString("kind", kind);
        list.append(entry.release());
    }
    collection->release();
}

}  // namespace

int32_t rtc_engine_agent::getDevices(JsonValue& list) {
    return with_engine([&](IRtcEngine& engine) {
        list.makeArray();
        ensure_video_enabled(engine);
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] getDevices");
        {
            video_device_manager video(&engine);
            if (video) {
                append_devices(video->enumerateVideoDevices(), "videoinput", list);
            } else {
                writeLog(kelvo::rtc::LOG_LEVEL_WARN,
                         "[wa] unable to enumerate video input devices");
            }
        }
        audio_device_manager audio(&engine);
        if (audio) {
            append_devices(audio->enumeratePlaybackDevices(), "audiooutput", list);
            append_devices(audio->enumerateRecordingDevices(), "audioinput", list);
        } else {
            writeLog(kelvo::rtc::LOG_LEVEL_WARN, "[wa] unable to enumerate audio devices");
        }
        return list.size() > 0 ? 0 : nothing_found;
    });
}

int32_t rtc_engine_agent::selectDevice(const std::string& device_id, const std::string& kind) {
    if (device_id.empty()) return invalid_argument;
    return with_engine([&](IRtcEngine& engine) -> int32_t {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "[wa] selectDevices for %s, kind=%s",
                 device_id.c_str(), kind.c_str());
        if (kind == "audiooutput" || kind == "audioinput") {
            audio_device_manager audio(&engine);
            if (!audio) return missing_interface_result;
            return kind == "audiooutput" ? audio->setPlaybackDevice(device_id.c_str())
                                         : audio->setRecordingDevice(device_id.c_str());
        }
        if (kind == "videoinput") {
            ensure_video_enabled(engine);
            video_device_manager video(&engine);
            if (!video) return missing_interface_result;
            return video->setDevice(device_id.c_str());
        }
        return invalid_argument;
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
