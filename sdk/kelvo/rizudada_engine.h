// The engine library's calling interface: the engine object, its parameter, media and device
// interfaces, the event handler and the external video render interfaces, and the two C entry
// points. Every interface keeps its operations in the library's slot order; slots the agent never
// uses are declared as reserved operations so that every used operation sits at its number.
//
// On Windows the engine is built with Microsoft's compiler, so there these tables must be laid out
// as that compiler lays them out, whichever compiler builds us. Only three things differ from the
// Itanium ABI (gcc, clang, mingw-w64) in tables like these, and the header avoids or handles each:
// - overloads: Microsoft's compiler puts all overloads of one name together at the first one's
//   place, in reverse order; so no interface here has two operations of the same name;
// - records returned by value: Microsoft's compiler returns them from member functions through a
//   hidden pointer after the object, Itanium sometimes in registers; so no operation returns one;
// - virtual destructors: one table entry there, two in Itanium; only the event handler has one
//   (the others keep theirs protected and non-virtual), see there.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define RIZUDADA_CALL __cdecl
#if defined(RIZUDADA_BUILDING)
#define RIZUDADA_API extern "C" __declspec(dllexport)
#else
#define RIZUDADA_API extern "C" __declspec(dllimport)
#endif
#else
#define RIZUDADA_CALL
#define RIZUDADA_API extern "C" __attribute__((visibility("default")))
#endif

namespace kelvo {
namespace media {

enum PLANE_TYPE { Y_PLANE = 0, U_PLANE = 1, V_PLANE = 2 };

// A decoded planar 4:2:0 picture, owned by the engine and lent for one delivery.
class IVideoFrame {
public:
    virtual void reserved0() const {}
    virtual const unsigned char* buffer(PLANE_TYPE plane) const = 0;   // slot 1
    virtual void reserved2() const {}
    virtual void reserved3() const {}
    virtual void reserved4() const {}
    virtual int stride(PLANE_TYPE plane) const = 0;                    // slot 5
    virtual int width() const = 0;                                     // slot 6
    virtual int height() const = 0;                                    // slot 7

protected:
    ~IVideoFrame() = default;
};

// The engine's side of a renderer: the renderer tells the engine the size it wants and that its
// view went away.
class IExternalVideoRenderCallback {
public:
    virtual void onViewSizeChanged(int width, int height) = 0;   // slot 0
    virtual void onViewDestroyed() = 0;                          // slot 1

protected:
    ~IExternalVideoRenderCallback() = default;
};

class IExternalVideoRender {
public:
    virtual void release() = 0;                                                          // slot 0
    virtual int initialize() = 0;                                                        // slot 1
    virtual int deliverFrame(const IVideoFrame& frame, int rotation, bool mirrored) = 0; // slot 2

protected:
    ~IExternalVideoRender() = default;
};

// What the engine hands the render factory when it needs a renderer for a view.
struct ExternalVideoRenderContext {
    IExternalVideoRenderCallback* renderCallback;  // not owned, may be null
    void* view;                                    // the view handle given in the view record
    int renderMode;
    unsigned int uid;
    int zOrder;
    float left;
    float top;
    float right;
    float bottom;
};

class IExternalVideoRenderFactory {
public:
    virtual IExternalVideoRender* createRenderInstance(const ExternalVideoRenderContext& context) = 0;

protected:
    ~IExternalVideoRenderFactory() = default;
};

class IMediaEngine {
public:
    virtual void release() = 0;                                                           // slot 0
    virtual int reserved1() { return -1; }
    virtual int reserved2() { return -1; }
    virtual int registerVideoRenderFactory(IExternalVideoRenderFactory* factory) = 0;    // slot 3

protected:
    ~IMediaEngine() = default;
};

}  // namespace media

namespace rtc {

using uid_t = unsigned int;

enum INTERFACE_ID_TYPE {
    IID_AUDIO_DEVICE_MANAGER = 1,
    IID_VIDEO_DEVICE_MANAGER = 2,
    IID_RTC_ENGINE_PARAMETER = 3,
    IID_MEDIA_ENGINE = 4,
};

enum { MAX_DEVICE_ID_LENGTH = 128 };

enum LOG_LEVEL { LOG_LEVEL_INFO = 1, LOG_LEVEL_WARN = 4 };

enum CHANNEL_PROFILE_TYPE { CHANNEL_PROFILE_COMMUNICATION = 0, CHANNEL_PROFILE_LIVE_BROADCASTING = 1 };

enum CLIENT_ROLE_TYPE { CLIENT_ROLE_BROADCASTER = 1, CLIENT_ROLE_AUDIENCE = 2 };

enum RENDER_MODE_TYPE { RENDER_MODE_HIDDEN = 1 };

// The view record of local and remote video set-up.
struct VideoCanvas {
    void* view;        // opaque; the render factory gets it back in its creation context
    int renderMode;    // always 1
    uid_t uid;
    int reserved;      // 0
};

// Statistics the page reports for one stream, with the agent's own measurements.
struct VideoStats {
    uid_t uid;
    int latency;
    int measuredFrameRate;
    int pageFrameRate;
    int droppedFrames;
};

// What the engine reports when it leaves a channel; the agent does not read it.
struct RtcStats {
    unsigned int duration;
    unsigned int txBytes;
    unsigned int rxBytes;
    unsigned int users;
};

class IDeviceCollection {
public:
    virtual int getCount() = 0;                                                            // slot 0
    virtual int getDevice(int index, char deviceName[MAX_DEVICE_ID_LENGTH],
                          char deviceId[MAX_DEVICE_ID_LENGTH]) = 0;                        // slot 1
    virtual int reserved2() { return -1; }
    virtual void release() = 0;                                                            // slot 3

protected:
    ~IDeviceCollection() = default;
};

class IVideoDeviceManager {
public:
    virtual IDeviceCollection* enumerateVideoDevices() = 0;       // slot 0
    virtual int setDevice(const char* deviceId) = 0;              // slot 1
    virtual int reserved2() { return -1; }
    virtual int reserved3() { return -1; }
    virtual int reserved4() { return -1; }
    virtual void release() = 0;                                   // slot 5

protected:
    ~IVideoDeviceManager() = default;
};

class IAudioDeviceManager {
public:
    virtual IDeviceCollection* enumeratePlaybackDevices() = 0;    // slot 0
    virtual IDeviceCollection* enumerateRecordingDevices() = 0;   // slot 1
    virtual int setPlaybackDevice(const char* deviceId) = 0;      // slot 2
    virtual int reserved3() { return -1; }
    virtual int reserved4() { return -1; }
    virtual int reserved5() { return -1; }
    virtual int setRecordingDevice(const char* deviceId) = 0;     // slot 6
    virtual int reserved7() { return -1; }
    virtual int reserved8() { return -1; }
    virtual int reserved9() { return -1; }
    virtual int reserved10() { return -1; }
    virtual int reserved11() { return -1; }
    virtual int reserved12() { return -1; }
    virtual int reserved13() { return -1; }
    virtual void release() = 0;                                   // slot 14

protected:
    ~IAudioDeviceManager() = default;
};

class IRtcEngineParameter {
public:
    virtual void release() = 0;                                          // slot 0
    virtual int setBool(const char* key, bool value) = 0;                // slot 1
    virtual int reserved2() { return -1; }
    virtual int setInt(const char* key, int value) = 0;                  // slot 3
    virtual int reserved4() { return -1; }
    virtual int setString(const char* key, const char* value) = 0;      // slot 5
    virtual int setObject(const char* key, const char* json) = 0;       // slot 6
    virtual int reserved7() { return -1; }
    virtual int reserved8() { return -1; }
    virtual int reserved9() { return -1; }
    virtual int reserved10() { return -1; }
    virtual int reserved11() { return -1; }
    virtual int reserved12() { return -1; }
    virtual int reserved13() { return -1; }
    virtual int setParameters(const char* json) = 0;                     // slot 14

protected:
    ~IRtcEngineParameter() = default;
};

// How many table entries the handler's destructor (slot 0) takes in this build: one on Windows,
// as the engine's compiler makes it (under mingw-w64 by the declaration below), two in the Itanium
// ABI elsewhere, which moves every callback one entry on.
#if defined(_WIN32)
#define RIZUDADA_HANDLER_DESTRUCTOR_ENTRIES 1
#else
#define RIZUDADA_HANDLER_DESTRUCTOR_ENTRIES 2
#endif

// The engine's callbacks. Every callback has an empty default body; the slots the agent does not
// use keep the engine's argument counts.
class IRtcEngineEventHandler {
public:
#if defined(_WIN32) && !defined(_MSC_VER)
    // Slot 0 is the destructor. mingw-w64 would give a virtual destructor the two Itanium entries,
    // so slot 0 is declared as the single entry Microsoft's compiler makes of it instead: it takes
    // a flags word (bit 0: free the memory too) and returns the object. The destructor itself is
    // declared after the last slot, where the engine never looks.
    virtual void* deletingDestructor(unsigned int flags) {                                     // slot 0
        if (flags & 1) {
            delete this;
        } else {
            this->~IRtcEngineEventHandler();
        }
        return this;
    }
#else
    virtual ~IRtcEngineEventHandler() {}                                                       // slot 0
#endif
    virtual void onJoinChannelSuccess(const char* channel, uid_t uid, int elapsed) { (void)channel; (void)uid; (void)elapsed; }   // 1
    virtual void onRejoinChannelSuccess(const char* channel, uid_t uid, int elapsed) { (void)channel; (void)uid; (void)elapsed; } // 2
    virtual void onWarning(int warn, const char* msg) { (void)warn; (void)msg; }             // 3
    virtual void onError(int err, const char* msg) { (void)err; (void)msg; }                 // 4
    virtual void reserved5(uid_t, int, unsigned short, unsigned short) {}                  // 5
    virtual void reserved6(const void*, unsigned int, int) {}                               // 6
    virtual void onLeaveChannel(const RtcStats& stats) { (void)stats; }                      // 7
    virtual void reserved8(const RtcStats&) {}                                              // 8
    virtual void reserved9(const char*, int, int) {}                                        // 9
    virtual void reserved10() {}                                                            // 10
    virtual void reserved11(const char*, int, int) {}                                       // 11
    virtual void reserved12(uid_t, int, int) {}                                             // 12
    virtual void reserved13(int) {}                                                         // 13
    virtual void reserved14(int, int, int) {}                                               // 14
    virtual void onRemoteVideoStreamAvailable(uid_t uid, int width, int height, int elapsed) { (void)uid; (void)width; (void)height; (void)elapsed; } // 15
    virtual void reserved16(uid_t, int, int, int) {}                                        // 16
    virtual void reserved17(uid_t, int, int, int) {}                                        // 17
    virtual void reserved18(uid_t, int) {}                                                  // 18
    virtual void onPeerLeave(uid_t uid, int reason) { (void)uid; (void)reason; }             // 19
    virtual void onUserMuteAudio(uid_t uid, bool muted) { (void)uid; (void)muted; }          // 20
    virtual void onUserMuteVideo(uid_t uid, bool muted) { (void)uid; (void)muted; }          // 21
    virtual void onUserEnableVideo(uid_t uid, bool enabled) { (void)uid; (void)enabled; }    // 22
    virtual void onApiResult(const char* api, int error) { (void)api; (void)error; }   // 23
    virtual void reserved24(const void*) {}                                                 // 24
    virtual void reserved25(const void*) {}                                                 // 25
    virtual void onCameraReady() {}                                                          // 26
    virtual void onVideoStopped() {}                                                         // 27
    virtual void onJoinChannelFailure() {}                                                   // 28
    virtual void onConnectionLost() {}                                                       // 29
    virtual void onRecordingStatus(int status) { (void)status; }               // 30
    virtual void reserved31(uid_t, int, const char*, unsigned int) {}                       // 31
    virtual void reserved32(uid_t, int, int, int, int) {}                                   // 32
    virtual void reserved33() {}                                                            // 33
    virtual void reserved34() {}                                                            // 34
    virtual void onRequestChannelKey() {}                                                    // 35
#if defined(_WIN32) && !defined(_MSC_VER)
    virtual ~IRtcEngineEventHandler() {}
#endif
};

struct RtcEngineContext {
    IRtcEngineEventHandler* eventHandler;
    const char* appId;
};

// The engine object. It is released through its first operation, never deleted.
class IRtcEngine {
public:
    virtual void release(bool sync = false) = 0;                                          // 0
    virtual int initialize(const RtcEngineContext& context) = 0;                          // 1
    virtual int queryInterface(INTERFACE_ID_TYPE iid, void** inter) = 0;                  // 2
    virtual int reserved3() { return -1; }
    virtual int reserved4() { return -1; }
    virtual int joinChannel(const char* channelKey, const char* channelName, const char* info,
                            uid_t uid) = 0;                                               // 5
    virtual int leaveChannel() = 0;                                                       // 6
    virtual int renewChannelKey(const char* channelKey) = 0;                              // 7
    virtual int setChannelProfile(CHANNEL_PROFILE_TYPE profile) = 0;                      // 8
    virtual int setClientRole(CLIENT_ROLE_TYPE role, const char* permissionKey) = 0;      // 9
    virtual int reserved10() { return -1; }
    virtual int reserved11() { return -1; }
    virtual int reserved12() { return -1; }
    virtual int reserved13() { return -1; }
    virtual int enableVideo() = 0;                                                        // 14
    virtual int reserved15() { return -1; }
    virtual int reserved16() { return -1; }
    virtual int reserved17() { return -1; }
    virtual int setVideoProfile(int profile, bool swapWidthAndHeight) = 0;               // 18
    virtual int setupRemoteVideo(const VideoCanvas& canvas) = 0;                          // 19
    virtual int setupLocalVideo(const VideoCanvas& canvas) = 0;                           // 20
    virtual int reserved21() { return -1; }
    virtual int reserved22() { return -1; }
    virtual int reserved23() { return -1; }
    virtual int reserved24() { return -1; }
    virtual int reserved25() { return -1; }
    virtual int reserved26() { return -1; }
    virtual int setEncryptionMode(const char* encryptionMode) = 0;                        // 27
    virtual int setEncryptionSecret(const char* secret) = 0;                              // 28
    virtual int reserved29() { return -1; }
    virtual int reserved30() { return -1; }
    virtual int reserved31() { return -1; }
    virtual int reserved32() { return -1; }
    virtual int reserved33() { return -1; }
    virtual int reserved34() { return -1; }
    virtual int reserved35() { return -1; }
    virtual int setParameters(const char* parameters) = 0;                                // 36
    virtual int reserved37() { return -1; }
    virtual int reserved38() { return -1; }
    virtual int reserved39() { return -1; }
    virtual int reserved40() { return -1; }
    virtual int reserved41() { return -1; }
    virtual int reserved42() { return -1; }
    virtual int reserved43() { return -1; }
    virtual int reserved44() { return -1; }
    virtual int reserved45() { return -1; }
    virtual int reserved46() { return -1; }
    virtual int reportVideoStats(const VideoStats& stats) = 0;                            // 47
    virtual int writeLog(LOG_LEVEL level, const char* text) = 0;                          // 48

protected:
    ~IRtcEngine() = default;
};

}  // namespace rtc
}  // namespace kelvo

// The two entry points the agent resolves by name.
using createRizudAdaEngine_t = kelvo::rtc::IRtcEngine* (RIZUDADA_CALL*)();
using getRizudAdaEngineVersion_t = const char* (RIZUDADA_CALL*)(int* build);

RIZUDADA_API kelvo::rtc::IRtcEngine* RIZUDADA_CALL createRizudAdaEngine();
RIZUDADA_API const char* RIZUDADA_CALL getRizudAdaEngineVersion(int* build);
