// Listing and choosing the engine's cameras, playback and recording devices. Each command's
// member reader sits beside its operation.
#include "agent/engine_interface.h"
#include "agent/rtc_engine_agent.h"

namespace kelvo {
namespace rtc {
namespace web {
namespace {

using kelvo::rtc::IDeviceCollection;
using kelvo::rtc::IRtcEngine;
using kelvo::rtc::MAX_DEVICE_ID_LENGTH;

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

int32_t rtc_engine_agent::run_get_devices(command_call& call) {
    return with_engine([&](IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) {
        JsonValue list;
        list.makeArray();
        ensure_video_enabled(engine);
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "getDevices");
        {
            video_device_manager video(&engine);
            if (video) {
                append_devices(video->enumerateVideoDevices(), "videoinput", list);
            } else {
                writeLog(kelvo::rtc::LOG_LEVEL_WARN, "unable to enumerate video input devices");
            }
        }
        audio_device_manager audio(&engine);
        if (audio) {
            append_devices(audio->enumeratePlaybackDevices(), "audiooutput", list);
            append_devices(audio->enumerateRecordingDevices(), "audioinput", list);
        } else {
            writeLog(kelvo::rtc::LOG_LEVEL_WARN, "unable to enumerate audio devices");
        }
        if (list.size() == 0) return result::nothing_found;
        call.reply.setValue("devices", list);
        return result::ok;
    });
}

int32_t rtc_engine_agent::run_select_device(command_call& call) {
    const JsonValue device = call.message.getObject("device");
    std::string device_id;
    std::string kind;
    if (!device.readString("deviceId", device_id) || !device.readString("kind", kind) ||
        device_id.empty()) {
        return result::invalid_request;
    }
    return select_device(device_id, kind);
}

int32_t rtc_engine_agent::select_device(const std::string& device_id, const std::string& kind) {
    return with_engine([&](IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) -> int32_t {
        writeLog(kelvo::rtc::LOG_LEVEL_INFO, "selectDevices for %s, kind=%s", device_id.c_str(),
                 kind.c_str());
        if (kind == "audiooutput" || kind == "audioinput") {
            audio_device_manager audio(&engine);
            if (!audio) return result::no_engine;
            return kind == "audiooutput" ? audio->setPlaybackDevice(device_id.c_str())
                                         : audio->setRecordingDevice(device_id.c_str());
        }
        if (kind == "videoinput") {
            ensure_video_enabled(engine);
            video_device_manager video(&engine);
            if (!video) return result::no_engine;
            return video->setDevice(device_id.c_str());
        }
        return result::invalid_request;
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
