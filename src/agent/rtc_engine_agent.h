// The bridge between the page's JSON commands and the engine: the servers' event handler. It owns
// the engine session; the stream channels and the engine's render factory are the stream table's
// (src/video), the engine's callbacks the event handler's.
//
// Threads: the servers' I/O threads call the handler operations (both at once); the engine's
// threads call the session events and the stream host operations. Locks, in the order they are
// taken: the agent lock (agent_lock_), then the channel lock (inside the stream table); the control
// lock is a leaf. Never call into the engine holding the channel lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <kelvo/rizudada_engine.h>

#include "agent/command_table.h"
#include "agent/engine_interface.h"
#include "agent/engine_log_gate.h"
#include "access/usage_indicator.h"
#include "agent/shareable_windows.h"
#include "agent/site_access.h"
#include "base/json_value.h"
#include "base/results.h"
#include "base/thread_annotations.h"
#include "net/net_engine.h"
#include "net/net_engine_event_handler.h"
#include "video/ISessionEvents.h"
#include "video/IVideoStreamHost.h"
#include "video/VideoStreamTable.h"

namespace kelvo {
namespace rtc {
namespace web {

class rtc_engine_agent_event_handler;

// Who decides which sites the agent serves, and who shows the user what a site uses. Null members:
// every site is served, and use is shown nowhere (tests, and programs of the agent's own user).
struct agent_access {
    site_decisions* sites = nullptr;
    IConsentPrompt* prompt = nullptr;
    IUsageIndicator* indicator = nullptr;
};

class rtc_engine_agent final : public net_engine_event_handler,
                               public ISessionEvents,
                               private IVideoStreamHost {
public:
    // `access`'s objects outlive the agent, and the prompt calls back no more once it is gone.
    explicit rtc_engine_agent(net_engine& net, const agent_access& access = {});
    ~rtc_engine_agent();
    rtc_engine_agent(const rtc_engine_agent&) = delete;
    rtc_engine_agent& operator=(const rtc_engine_agent&) = delete;

    // net_engine_event_handler, on the servers' I/O threads
    bool is_idle() override;
    bool query_release(connection_context* context) override;
    void on_connection_opened(connection_context* context, bool reset) override;
    int32_t on_message(connection_context* context, const std::string& message,
                       std::string& reply) override;
    void on_connection_closed(connection_context* context) override;

    // The user's decisions about sites changed (a block, a forget, the sites file read again): a
    // session whose site may no longer use the agent ends. Any thread; the engine is touched
    // only on the control connection's server thread.
    void on_sites_changed() KELVO_EXCLUDES(control_lock_);

    // The engine's render factory, registered when an engine is made.
    kelvo::media::IExternalVideoRenderFactory& render_factory() { return streams_; }

    // A diagnostic line for the engine's log, given without its "[wa] " prefix; dropped while no
    // engine exists. Any thread.
    void writeLog(kelvo::rtc::LOG_LEVEL level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    // Session state, read without locks (any thread).
    bool engine_initialized() const { return engine_initialized_.load(); }
    bool joined() const { return joined_.load(); }
    bool join_pending() const { return join_pending_.load(); }
    uint32_t own_uid() const { return own_uid_.load(); }

private:
    // The command table's entries name the operations below (command_table.cpp).
    static const command_entry command_entries[];
    static const size_t command_count;
    static const command_entry* find_command(const std::string& name);

    // --- who may use the agent (agent_access_rules.cpp) --------------------------------------
    // 0 when the connection's site may run the command; result::forbidden when it may not; 1 when
    // the user is being asked and the command is answered once they decide.
    int32_t admit(connection_context& context, const std::string& command,
                  const std::string& message);
    // Runs the message again on its connection's thread once the user has decided.
    void answer_after_question(const connection_context& context, const std::string& message,
                               bool allowed);
    // A stream of this session is for connections of the session's site only. Decided under the
    // agent lock, which makes and ends sessions. True while no session exists.
    bool is_session_site(const connection_context& context) KELVO_REQUIRES(agent_lock_);
    // The session's own control connection switching off what runs ("leaveChannel",
    // "enableLocalVideo" false, "stopScreenSharing", "stopRecording", "muteLocal"), which it may
    // always do, also once its site is no longer allowed.
    bool switches_off(const connection_context& context, const std::string& command,
                      const JsonValue& message) KELVO_EXCLUDES(control_lock_);
    // On the control connection's thread: when its site may no longer use the agent, switches
    // off the camera and screen sharing and closes the connection with 4003 "the user blocked
    // this site", which closes its streams and releases the engine.
    void end_session_if_refused(connection_context& control) KELVO_EXCLUDES(agent_lock_);
    // Tells the indicator what the session's site uses now. Agent lock held.
    void update_use(bool device_use::*device, bool in_use) KELVO_REQUIRES(agent_lock_);

    // Runs `call(engine)` under the agent lock; -3 when no engine exists. A `call` that touches
    // what the agent lock guards says so: [&](IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) {...}
    template <class Call>
    int32_t with_engine(Call&& call) KELVO_EXCLUDES(agent_lock_);
    // Runs `call(parameters)` with the engine's parameter object under the agent lock; -3 when
    // there is no engine or it does not hand the parameter object out.
    template <class Call>
    int32_t with_parameters(Call&& call);

    // --- what the agent says about itself (agent_info.cpp) ------------------------------------
    int32_t run_get_agent_info(command_call& call);

    // --- engine session (agent_session.cpp) -------------------------------------------------
    int32_t run_initialize(command_call& call);
    int32_t run_get_version(command_call& call);
    int32_t run_renew_channel_key(command_call& call);
    int32_t run_renew_channel_dynamic_key(command_call& call);
    int32_t run_join_channel(command_call& call);
    int32_t run_leave_channel(command_call& call);
    int32_t renew_key(const std::string& key);
    // On success `context` has become the control connection (recorded before any event can be
    // forwarded to it).
    int32_t initialize(const std::string& app_id, connection_context* context)
        KELVO_EXCLUDES(agent_lock_);
    // Agent lock held: the engine, its handler and its log line.
    int32_t create_engine(const std::string& app_id) KELVO_REQUIRES(agent_lock_);
    void teardown_engine() KELVO_EXCLUDES(agent_lock_);
    // Capture off, local audio and video muted; skipped without the parameter object.
    // Agent lock held.
    void media_reset(kelvo::rtc::IRtcEngine& engine) KELVO_REQUIRES(agent_lock_);
    // Calls the engine's enable-video operation while video is not known to be enabled.
    // Agent lock held.
    void ensure_video_enabled(kelvo::rtc::IRtcEngine& engine) KELVO_REQUIRES(agent_lock_);

    // --- session options (agent_options.cpp) --------------------------------------------------
    int32_t run_set_parameters(command_call& call);
    int32_t run_set_encryption_mode(command_call& call);
    int32_t run_set_encryption_secret(command_call& call);
    int32_t run_set_channel_profile(command_call& call);
    int32_t run_set_client_role(command_call& call);
    int32_t run_enable_dual_stream_mode(command_call& call);
    // A command whose one required text member is handed to one engine operation.
    int32_t pass_text_member(command_call& call, const char* member,
                             int (kelvo::rtc::IRtcEngine::*operation)(const char*));

    // --- media control and video profiles (agent_media.cpp) ----------------------------------
    template <bool Mute>
    int32_t run_mute_stream_audio(command_call& call);
    template <bool Mute>
    int32_t run_mute_stream_video(command_call& call);
    template <bool Mute>
    int32_t run_mute_local(command_call& call);
    int32_t run_enable_local_video(command_call& call);
    int32_t run_video_stat(command_call& call);
    int32_t run_set_video_profile(command_call& call);
    // Local capture on or off, as "enableLocalVideo" says. Agent lock held.
    int32_t switch_capture(kelvo::rtc::IRtcEngineParameter& parameters, bool enabled)
        KELVO_REQUIRES(agent_lock_);
    int32_t mute_stream_audio(uint32_t stream_id, bool mute);
    int32_t mute_stream_video(uint32_t stream_id, bool mute);

    // --- stream connections (agent_streams.cpp) ----------------------------------------------
    int32_t run_preview(command_call& call);
    int32_t run_subscribe(command_call& call);
    // Runs a "preview" or "subscribe" set-up on a connection that has become a stream connection.
    int32_t become_stream_connection(command_call& call, const std::function<int32_t()>& set_up);
    int32_t preview(connection_context* context, bool video);
    // 0 also without an engine (the subscription waits for a session); too many channels, and
    // result::forbidden for a site other than the session's.
    int32_t subscribe(connection_context* context, uint32_t uid) KELVO_EXCLUDES(agent_lock_);
    // Subscriptions made while no session existed are set up, or refused, once one begins: on
    // their connections' threads, so a page that subscribed early is never left silent.
    void resume_early_subscriptions() KELVO_REQUIRES(agent_lock_);
    void resume_subscription(connection_context& context) KELVO_EXCLUDES(agent_lock_);
    // A stream connection carries one channel: the connection's earlier channel, whatever its
    // uid, is removed first, with its engine view. The context takes the uid. Agent lock held,
    // engine present.
    int32_t setup_stream_channel(connection_context* context, uint32_t uid,
                                 kelvo::rtc::VideoCanvas& canvas) KELVO_REQUIRES(agent_lock_);
    // A stream connection turning to another uid gives up the channel it carried (returned, to
    // be dropped outside the channel lock) and its engine view. Agent lock held, engine present.
    std::shared_ptr<VideoStreamChannel> switch_connection_uid(connection_context& context,
                                                              uint32_t uid)
        KELVO_REQUIRES(agent_lock_);
    void close_stream_channel(connection_context* context);
    void clear_all_stream_channels();
    // "onAddVideoStream" to the control connection.
    void announce_stream(uint32_t uid);

    // --- devices, windows and recording (agent_devices.cpp, agent_windows.cpp,
    // agent_recording.cpp) --------------------------------------------------------------------
    int32_t run_get_devices(command_call& call);
    int32_t run_select_device(command_call& call);
    int32_t run_get_windows(command_call& call);
    int32_t run_set_screen_sharing_window(command_call& call);
    int32_t run_start_screen_sharing(command_call& call);
    int32_t run_stop_screen_sharing(command_call& call);
    template <bool Start>
    int32_t run_recording_service(command_call& call);
    int32_t run_query_recording_status(command_call& call);
    int32_t select_device(const std::string& device_id, const std::string& kind);
    int32_t set_screen_capture_window(const char* key, const std::string& window_id);
    int32_t stop_screen_sharing(kelvo::rtc::IRtcEngineParameter& parameters)
        KELVO_REQUIRES(agent_lock_);

    // ISessionEvents, on engine threads (session_events.cpp)
    void sendToControl(const std::string& text) override;
    bool isJoinPending() const override { return join_pending(); }
    void sendJoinReply(int code) override;
    void onJoinSuccess(uint32_t uid) override;
    void onLeftChannel() override;
    void onRemoteVideoAvailable(uint32_t uid) override;
    const char* keyRenewalCommand() const override;

    // IVideoStreamHost, on engine render threads
    bool isJoined() const override { return joined(); }
    int32_t sendFrame(const connection_context& context, const binary_group& frame,
                      int32_t* dropped) override;
    void announceStream(uint32_t uid) override { announce_stream(uid); }

    net_engine& net_;

    // The agent lock: held by every operation that touches the engine, for its whole run (server
    // I/O threads only; never on an engine thread).
    checked_mutex agent_lock_;
    // Diagnostic lines reach the engine through the log gate instead, which is opened after the
    // engine is made and closed before it is released.
    kelvo::rtc::IRtcEngine* engine_ KELVO_GUARDED_BY(agent_lock_) = nullptr;
    std::unique_ptr<rtc_engine_agent_event_handler> event_handler_ KELVO_GUARDED_BY(agent_lock_);
    bool video_enabled_ KELVO_GUARDED_BY(agent_lock_) = false;
    shareable_windows windows_ KELVO_GUARDED_BY(agent_lock_);
    // What the session's site uses now (camera, screen sharing, recording).
    device_use use_ KELVO_GUARDED_BY(agent_lock_);
    // The control connection's origin: the site of the session.
    std::string session_origin_ KELVO_GUARDED_BY(agent_lock_);
    // The connections (server index, handle) that subscribed while no session existed, each
    // once.
    std::vector<std::pair<int32_t, connection_handle>> early_subscriptions_
        KELVO_GUARDED_BY(agent_lock_);
    IUsageIndicator* const indicator_;
    site_access access_;
    engine_log_gate log_gate_;

    // Written by server threads, read and written by engine threads.
    std::atomic<bool> engine_initialized_{false};
    std::atomic<bool> joined_{false};
    std::atomic<bool> join_pending_{false};
    std::atomic<uint32_t> own_uid_{0};
    // The page named its key "key" (in "initialize" or "renewChannelDynamicKey"): key renewals
    // are answered as "renewChannelDynamicKey".
    std::atomic<bool> dynamic_key_names_{false};

    // The control connection, recorded by a successful "initialize"; read by engine threads.
    // The control lock is a leaf: nothing is called while it is held.
    checked_mutex control_lock_ KELVO_ACQUIRED_AFTER(agent_lock_);
    int32_t control_server_index_ KELVO_GUARDED_BY(control_lock_) = -1;
    connection_handle control_handle_ KELVO_GUARDED_BY(control_lock_);

    VideoStreamTable streams_{static_cast<IVideoStreamHost&>(*this)};
};

template <class Call>
int32_t rtc_engine_agent::with_engine(Call&& call) {
    checked_lock lock(agent_lock_);
    if (engine_ == nullptr) return result::no_engine;
    return call(*engine_);
}

template <class Call>
int32_t rtc_engine_agent::with_parameters(Call&& call) {
    return with_engine([&](kelvo::rtc::IRtcEngine& engine) KELVO_REQUIRES(agent_lock_) -> int32_t {
        engine_parameters parameters(&engine);
        if (!parameters) return result::no_engine;
        return call(*parameters);
    });
}

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
