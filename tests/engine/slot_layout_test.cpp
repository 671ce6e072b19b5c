// The engine's interfaces must keep every operation at its slot number and every record in its
// field order: the engine library is built separately (on Windows by Microsoft's compiler) and
// calls through these tables.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include <kelvo/rizudada_engine.h>
#include <slot_call.h>

namespace {

using namespace kelvo::rtc;
using namespace kelvo::media;

// Records the engine fills or reads by position.
static_assert(offsetof(VideoCanvas, view) == 0, "view first");
static_assert(offsetof(VideoCanvas, renderMode) == sizeof(void*), "then the render mode");
static_assert(offsetof(VideoCanvas, uid) == sizeof(void*) + 4, "then the uid");
static_assert(offsetof(VideoCanvas, reserved) == sizeof(void*) + 8, "then the reserved word");
static_assert(sizeof(VideoStats) == 5 * 4, "five 32-bit fields");
static_assert(offsetof(VideoStats, uid) == 0 && offsetof(VideoStats, latency) == 4 &&
                  offsetof(VideoStats, measuredFrameRate) == 8 && offsetof(VideoStats, pageFrameRate) == 12 &&
                  offsetof(VideoStats, droppedFrames) == 16,
              "statistics field order");
static_assert(offsetof(RtcEngineContext, eventHandler) == 0 && offsetof(RtcEngineContext, appId) == sizeof(void*),
              "handler, then application id");
static_assert(offsetof(ExternalVideoRenderContext, renderCallback) == 0 &&
                  offsetof(ExternalVideoRenderContext, view) == sizeof(void*),
              "callback, then view");
static_assert(sizeof(uid_t) == 4, "uids are 32-bit");

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// In the Itanium C++ ABI (gcc, clang, mingw-w64 on x86) a pointer to a virtual member function
// holds 1 + the byte offset of its entry in the table of virtual functions.
template <typename Member>
long slot_of(Member member) {
    static_assert(sizeof(Member) == 2 * sizeof(void*), "Itanium member function pointer");
    struct representation {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    } value;
    std::memcpy(&value, &member, sizeof value);
    if ((value.pointer & 1) == 0 || value.adjustment != 0) return -1;
    return static_cast<long>((value.pointer - 1) / sizeof(void*));
}
#define KELVO_SLOT_CHECKS 1
#endif

// Naming an operation here also proves its name is not overloaded (an overloaded name gives no
// single member pointer): on Windows the engine's compiler would group the overloads of one name
// and so move slots.

// An operation added after the last one lands at the table's size.
struct engine_end : IRtcEngine { virtual void end(); };
struct parameter_end : IRtcEngineParameter { virtual void end(); };
struct media_end : IMediaEngine { virtual void end(); };
struct video_devices_end : IVideoDeviceManager { virtual void end(); };
struct audio_devices_end : IAudioDeviceManager { virtual void end(); };
struct collection_end : IDeviceCollection { virtual void end(); };
struct handler_end : IRtcEngineEventHandler { virtual void end(); };
struct render_end : IExternalVideoRender { virtual void end(); };
struct callback_end : IExternalVideoRenderCallback { virtual void end(); };
struct frame_end : IVideoFrame { virtual void end(); };
struct factory_end : IExternalVideoRenderFactory { virtual void end(); };

class slot_layout : public ::testing::Test {
protected:
    void SetUp() override {
#if !defined(KELVO_SLOT_CHECKS)
        GTEST_SKIP() << "slot numbers are read from Itanium-ABI member pointers only";
#endif
    }
};

#if defined(KELVO_SLOT_CHECKS)
#define EXPECT_SLOT(slot, member) EXPECT_EQ(slot, slot_of(member)) << #member
#else
#define EXPECT_SLOT(slot, member) (void)(member)
#endif

TEST_F(slot_layout, engine_object) {
    EXPECT_SLOT(0, &IRtcEngine::release);
    EXPECT_SLOT(1, &IRtcEngine::initialize);
    EXPECT_SLOT(2, &IRtcEngine::queryInterface);
    EXPECT_SLOT(3, &IRtcEngine::reserved3);
    EXPECT_SLOT(4, &IRtcEngine::reserved4);
    EXPECT_SLOT(5, &IRtcEngine::joinChannel);
    EXPECT_SLOT(6, &IRtcEngine::leaveChannel);
    EXPECT_SLOT(7, &IRtcEngine::renewChannelKey);
    EXPECT_SLOT(8, &IRtcEngine::setChannelProfile);
    EXPECT_SLOT(9, &IRtcEngine::setClientRole);
    EXPECT_SLOT(13, &IRtcEngine::reserved13);
    EXPECT_SLOT(14, &IRtcEngine::enableVideo);
    EXPECT_SLOT(17, &IRtcEngine::reserved17);
    EXPECT_SLOT(18, &IRtcEngine::setVideoProfile);
    EXPECT_SLOT(19, &IRtcEngine::setupRemoteVideo);
    EXPECT_SLOT(20, &IRtcEngine::setupLocalVideo);
    EXPECT_SLOT(26, &IRtcEngine::reserved26);
    EXPECT_SLOT(27, &IRtcEngine::setEncryptionMode);
    EXPECT_SLOT(28, &IRtcEngine::setEncryptionSecret);
    EXPECT_SLOT(35, &IRtcEngine::reserved35);
    EXPECT_SLOT(36, &IRtcEngine::setParameters);
    EXPECT_SLOT(46, &IRtcEngine::reserved46);
    EXPECT_SLOT(47, &IRtcEngine::reportVideoStats);
    EXPECT_SLOT(48, &IRtcEngine::writeLog);
    EXPECT_SLOT(49, &engine_end::end);
}

TEST_F(slot_layout, parameter_and_media_engine) {
    EXPECT_SLOT(0, &IRtcEngineParameter::release);
    EXPECT_SLOT(1, &IRtcEngineParameter::setBool);
    EXPECT_SLOT(3, &IRtcEngineParameter::setInt);
    EXPECT_SLOT(5, &IRtcEngineParameter::setString);
    EXPECT_SLOT(6, &IRtcEngineParameter::setObject);
    EXPECT_SLOT(14, &IRtcEngineParameter::setParameters);
    EXPECT_SLOT(15, &parameter_end::end);

    EXPECT_SLOT(0, &IMediaEngine::release);
    EXPECT_SLOT(3, &IMediaEngine::registerVideoRenderFactory);
    EXPECT_SLOT(4, &media_end::end);
}

TEST_F(slot_layout, device_managers_and_collection) {
    EXPECT_SLOT(0, &IVideoDeviceManager::enumerateVideoDevices);
    EXPECT_SLOT(1, &IVideoDeviceManager::setDevice);
    EXPECT_SLOT(5, &IVideoDeviceManager::release);
    EXPECT_SLOT(6, &video_devices_end::end);

    EXPECT_SLOT(0, &IAudioDeviceManager::enumeratePlaybackDevices);
    EXPECT_SLOT(1, &IAudioDeviceManager::enumerateRecordingDevices);
    EXPECT_SLOT(2, &IAudioDeviceManager::setPlaybackDevice);
    EXPECT_SLOT(6, &IAudioDeviceManager::setRecordingDevice);
    EXPECT_SLOT(14, &IAudioDeviceManager::release);
    EXPECT_SLOT(15, &audio_devices_end::end);

    EXPECT_SLOT(0, &IDeviceCollection::getCount);
    EXPECT_SLOT(1, &IDeviceCollection::getDevice);
    EXPECT_SLOT(3, &IDeviceCollection::release);
    EXPECT_SLOT(4, &collection_end::end);
}

// Slot 0 of the handler is its destructor. On Windows the engine's compiler (Microsoft's) gives
// it one table entry, so callback k sits at entry k; the destructor proper takes the two entries
// after the last slot, where the engine never looks. The Itanium ABI elsewhere gives the
// destructor entries 0 and 1, so callback k sits at entry k + 1.
#if defined(_WIN32)
constexpr long callback_offset = 0;
constexpr long handler_table_size = 36 + 2;
#else
constexpr long callback_offset = 1;
constexpr long handler_table_size = 1 + 36;
#endif

TEST_F(slot_layout, event_handler) {
    using H = IRtcEngineEventHandler;
#if defined(_WIN32)
    EXPECT_SLOT(0, &H::deletingDestructor);
#endif
    EXPECT_SLOT(callback_offset + 1, &H::onJoinChannelSuccess);
    EXPECT_SLOT(callback_offset + 2, &H::onRejoinChannelSuccess);
    EXPECT_SLOT(callback_offset + 3, &H::onWarning);
    EXPECT_SLOT(callback_offset + 4, &H::onError);
    EXPECT_SLOT(callback_offset + 5, &H::reserved5);
    EXPECT_SLOT(callback_offset + 6, &H::reserved6);
    EXPECT_SLOT(callback_offset + 7, &H::onLeaveChannel);
    EXPECT_SLOT(callback_offset + 8, &H::reserved8);
    EXPECT_SLOT(callback_offset + 9, &H::reserved9);
    EXPECT_SLOT(callback_offset + 10, &H::reserved10);
    EXPECT_SLOT(callback_offset + 11, &H::reserved11);
    EXPECT_SLOT(callback_offset + 12, &H::reserved12);
    EXPECT_SLOT(callback_offset + 13, &H::reserved13);
    EXPECT_SLOT(callback_offset + 14, &H::reserved14);
    EXPECT_SLOT(callback_offset + 15, &H::onRemoteVideoStreamAvailable);
    EXPECT_SLOT(callback_offset + 16, &H::reserved16);
    EXPECT_SLOT(callback_offset + 17, &H::reserved17);
    EXPECT_SLOT(callback_offset + 18, &H::reserved18);
    EXPECT_SLOT(callback_offset + 19, &H::onPeerLeave);
    EXPECT_SLOT(callback_offset + 20, &H::onUserMuteAudio);
    EXPECT_SLOT(callback_offset + 21, &H::onUserMuteVideo);
    EXPECT_SLOT(callback_offset + 22, &H::onUserEnableVideo);
    EXPECT_SLOT(callback_offset + 23, &H::onApiResult);
    EXPECT_SLOT(callback_offset + 24, &H::reserved24);
    EXPECT_SLOT(callback_offset + 25, &H::reserved25);
    EXPECT_SLOT(callback_offset + 26, &H::onCameraReady);
    EXPECT_SLOT(callback_offset + 27, &H::onVideoStopped);
    EXPECT_SLOT(callback_offset + 28, &H::onJoinChannelFailure);
    EXPECT_SLOT(callback_offset + 29, &H::onConnectionLost);
    EXPECT_SLOT(callback_offset + 30, &H::onRecordingStatus);
    EXPECT_SLOT(callback_offset + 31, &H::reserved31);
    EXPECT_SLOT(callback_offset + 32, &H::reserved32);
    EXPECT_SLOT(callback_offset + 33, &H::reserved33);
    EXPECT_SLOT(callback_offset + 34, &H::reserved34);
    EXPECT_SLOT(callback_offset + 35, &H::onRequestChannelKey);
    EXPECT_SLOT(handler_table_size, &handler_end::end);
}

// A handler that counts how often it is destroyed and how often its memory is freed.
struct counted_handler final : IRtcEngineEventHandler {
    ~counted_handler() override { ++destroyed; }
    static void operator delete(void* memory) {
        ++freed;
        ::operator delete(memory);
    }
    static int destroyed;
    static int freed;
};
int counted_handler::destroyed = 0;
int counted_handler::freed = 0;

// An engine that ends the handler calls slot 0 as its compiler made it: on Windows one entry that
// takes a flags word, 0 to destroy the object and 1 to free its memory too, returning the object.
// The Itanium ABI's entry 0 destroys without freeing and ignores the word.
TEST(handler_table, slot_zero_destroys_the_handler_as_the_engine_compiler_does) {
    using destructor = kelvo::rtc::standin::slot_call<IRtcEngineEventHandler, void*(unsigned int)>;
    alignas(counted_handler) unsigned char storage[sizeof(counted_handler)];
    IRtcEngineEventHandler* in_place = new (storage) counted_handler;
    destructor::on(*in_place, 0, 0u);
    EXPECT_EQ(1, counted_handler::destroyed);
    EXPECT_EQ(0, counted_handler::freed);
#if defined(_WIN32)
    IRtcEngineEventHandler* on_heap = new counted_handler;
    const uintptr_t address = reinterpret_cast<uintptr_t>(on_heap);
    EXPECT_EQ(address, reinterpret_cast<uintptr_t>(destructor::on(*on_heap, 0, 1u)));
    EXPECT_EQ(2, counted_handler::destroyed);
    EXPECT_EQ(1, counted_handler::freed);
#endif
}

TEST_F(slot_layout, render_interfaces_and_frame) {
    EXPECT_SLOT(0, &IExternalVideoRender::release);
    EXPECT_SLOT(1, &IExternalVideoRender::initialize);
    EXPECT_SLOT(2, &IExternalVideoRender::deliverFrame);
    EXPECT_SLOT(3, &render_end::end);

    EXPECT_SLOT(0, &IExternalVideoRenderCallback::onViewSizeChanged);
    EXPECT_SLOT(1, &IExternalVideoRenderCallback::onViewDestroyed);
    EXPECT_SLOT(2, &callback_end::end);

    EXPECT_SLOT(0, &IExternalVideoRenderFactory::createRenderInstance);
    EXPECT_SLOT(1, &factory_end::end);

    EXPECT_SLOT(1, &IVideoFrame::buffer);
    EXPECT_SLOT(5, &IVideoFrame::stride);
    EXPECT_SLOT(6, &IVideoFrame::width);
    EXPECT_SLOT(7, &IVideoFrame::height);
    EXPECT_SLOT(8, &frame_end::end);
}

}  // namespace
