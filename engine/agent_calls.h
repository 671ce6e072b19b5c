// How the engine calls the objects the agent hands it: the event handler, the render factory and
// the renderers. On Windows the real engine comes from Microsoft's compiler and knows these objects
// only by their slot numbers, so there the stand-in calls them by slot number too (slot_call.h),
// and every run under Windows checks the agent's tables against that layout. Elsewhere the calls
// are ordinary virtual calls.
//   call_agent<&IRtcEngineEventHandler::onPeerLeave>(handler, uid, 0);
#pragma once

#include <utility>

#include <kelvo/rizudada_engine.h>

#include "slot_call.h"

namespace kelvo {
namespace rtc {
namespace standin {

// The engine's slot number of each operation it calls.
template <auto Operation>
constexpr int slot_number = -1;

template <> constexpr int slot_number<&IRtcEngineEventHandler::onJoinChannelSuccess> = 1;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onRejoinChannelSuccess> = 2;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onWarning> = 3;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onError> = 4;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onLeaveChannel> = 7;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onRemoteVideoStreamAvailable> = 15;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onPeerLeave> = 19;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onUserMuteAudio> = 20;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onUserMuteVideo> = 21;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onUserEnableVideo> = 22;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onApiResult> = 23;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onCameraReady> = 26;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onVideoStopped> = 27;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onJoinChannelFailure> = 28;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onConnectionLost> = 29;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onRecordingStatus> = 30;
template <> constexpr int slot_number<&IRtcEngineEventHandler::onRequestChannelKey> = 35;
template <> constexpr int slot_number<&media::IExternalVideoRenderFactory::createRenderInstance> = 0;
template <> constexpr int slot_number<&media::IExternalVideoRender::release> = 0;
template <> constexpr int slot_number<&media::IExternalVideoRender::deliverFrame> = 2;

// The interface and the signature of an operation.
template <typename Operation>
struct operation_of;

template <typename Interface, typename Result, typename... Params>
struct operation_of<Result (Interface::*)(Params...)> {
    using owner = Interface;
    using signature = Result(Params...);
};

template <auto Operation, typename... Arguments>
decltype(auto) call_agent(typename operation_of<decltype(Operation)>::owner& object,
                          Arguments&&... arguments) {
    static_assert(slot_number<Operation> >= 0, "the engine calls only operations it has a slot for");
#if defined(_WIN32)
    using operation = operation_of<decltype(Operation)>;
    return slot_call<typename operation::owner, typename operation::signature>::on(
        object, slot_number<Operation>, std::forward<Arguments>(arguments)...);
#else
    return (object.*Operation)(std::forward<Arguments>(arguments)...);
#endif
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
