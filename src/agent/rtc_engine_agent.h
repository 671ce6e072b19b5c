// The bridge between the page's JSON commands and the engine: the servers' event handler and the
// engine's video render factory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include <kelvo/rizudada_engine.h>

#include "agent/engine_interface.h"
#include "agent/engine_log_gate.h"
#include "base/json_value.h"
#include "net/net_engine.h"
#include "net/net_engine_event_handler.h"
#include "video/IVideoStreamHost.h"

namespace kelvo {
namespace rtc {
namespace web {

class rtc_engine_agent_event_handler;
class VideoStreamChannel;

class rtc_engine_agent : public net_engine_event_handler,
                         public kelvo::media::IExternalVideoRenderFactory,
                         private IVideoStreamHost {
public:
    explicit rtc_engine_agent(net_engine& net);
    ~rtc_engine_agent();
    rtc_engine_agent(const rtc_engine_agent&) = delete;
    rtc_engine_agent& operator=(const rtc_engine_agent&) = delete;

    // net_engine_event_handler
    bool is_idle() override;
    bool query_release(connection_context* context) override;
    void on_connection_opened(connection_context* context, bool reset) override;
    int32_t on_message(connection_context* context, const std::string& message,
                       std::string& reply) override;
    void on_connection_closed(connection_context* context) override;

    // IExternalVideoRenderFactory
    kelvo::media::IExternalVideoRender* createRenderInstance(
        const kelvo::media::ExternalVideoRenderContext& context) override;

    // A "[wa] " diagnostic line for the engine's log; dropped while no engine exists.
    void writeLog(int level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;

    // --- state read by the event handler and the stream channels -------------------------
    net_engine& net() { return net_; }
    bool engine_initialized() const { return engine_initialized_.load(); }
    bool joined() const { return joined_.load(); }
    bool join_pending() const { return join_pending_.load(); }
    uint32_t own_uid() const { return own_uid_.load(); }
    // Chooses the name of the key-renewal reply: true after "key" or "renewChannelDynamicKey".
    bool key_style() const { return key_style_.load(); }
    void set_key_style(bool dynamic_key) { key_style_.store(dynamic_key); }
    // Sends a text to the recorded control connection while the engine is initialised.
    void send_to_control(const std::string& text);

    // --- engine session (session commands and the deferred replies) ----------------------
    // On success `context` has become the control connection (recorded before any event can be
    // forwarded to it).
    int32_t initialize(const std::string& app_id, connection_context* context);
    int32_t teardown_engine();
    int32_t join(const std::string& key, const std::string& channel, uint32_t uid);
    // Own uid becomes 0 whatever the engine answers.
    int32_t leave();
    int32_t renew_key(const std::string& key);
    int32_t set_channel_profile(bool live_broadcasting);
    int32_t set_client_role(int role, const std::string& key);
    int32_t set_encryption_mode(const std::string& mode);
    int32_t set_encryption_secret(const std::string& secret);
    int32_t set_parameters(const std::string& parameters);
    int32_t enable_dual_stream_mode(bool enabled);
    // Join reply: code 0 sends the granted uid and code true; clears join-pending after sending.
    void send_join_reply(int code);

    // --- engine event effects --------------------------------------------------------------
    void on_join_success(uint32_t uid);
    void on_left_channel();

    // --- media control and video profiles --------------------------------------------------
    int32_t mute_stream_audio(uint32_t stream_id, bool mute);
    int32_t mute_stream_video(uint32_t stream_id, bool mute);
    int32_t mute_local(bool mute);
    int32_t enable_local_video(bool enabled);
    int32_t preview(connection_context* context, bool video);
    int32_t video_statistics(uint32_t uid, int32_t latency, int32_t fps);
    int32_t set_video_profile(const std::string& name, bool swap_width_and_height);

    // --- stream channels (channel lock inside; agent lock, when held, taken first) --------
    // The most stream channels the agent keeps at once; one more set-up is refused.
    static constexpr size_t max_stream_channels = 64;
    // Answered to a "preview" or "subscribe" beyond that many channels (reply code 429).
    static constexpr int32_t too_many_stream_channels = -429;
    // A stream connection carries one channel: the connection's earlier channel, whatever its
    // uid, is removed first. The context takes the uid. Agent lock held.
    int32_t setup_stream_channel(connection_context* context, uint32_t uid,
                                 kelvo::rtc::VideoCanvas& canvas);
    // 0 also without an engine; too_many_stream_channels when the table is full.
    int32_t subscribe(connection_context* context, uint32_t uid);
    void close_stream_channel(connection_context* context);
    void clear_all_stream_channels();
    void set_stream_mute_state(uint32_t uid, bool muted);
    void stream_announcement(uint32_t uid, bool force);
    void fill_stream_statistics(uint32_t uid, int32_t& rate, int32_t& dropped);

    // --- devices, screen sharing and recording ---------------------------------------------
    int32_t getDevices(JsonValue& list);
    int32_t selectDevice(const std::string& device_id, const std::string& kind);
    int32_t getWindows(JsonValue& list);
    int32_t setScreenSharingWindow(const std::string& window_id);
    int32_t startScreenSharing(const std::string& window_id);
    int32_t stopScreenSharing();
    int32_t startRecording(const std::string& key);
    int32_t stopRecording(const std::string& key);
    int32_t queryRecordingStatus();

private:
    static constexpr int32_t no_engine_result = -3;

    // IVideoStreamHost, for the stream channels
    bool isJoined() const override { return joined(); }
    int32_t sendFrame(const connection_context& context, const binary_piece* pieces, size_t count,
                      int32_t* dropped) override;
    void announceStream(uint32_t uid) override { stream_announcement(uid, true); }

    // Takes the channel of this connection out of the table (none when another connection's
    // channel holds its uid). Drop it after the channel lock is released.
    std::shared_ptr<VideoStreamChannel> take_connection_channel(const connection_context& context);
    // A stream connection turning to another uid gives up the channel it carried (returned, to
    // be dropped outside the channel lock) and its engine view. Agent lock held, engine present.
    std::shared_ptr<VideoStreamChannel> switch_connection_uid(connection_context& context,
                                                              uint32_t uid);

    // Runs `call(engine)` under the agent lock; -3 when no engine exists.
    template <class Call>
    int32_t with_engine(Call&& call) {
        std::lock_guard<std::mutex> lock(agent_lock_);
        if (engine_ == nullptr) return no_engine_result;
        return call(*engine_);
    }

    // Runs `call(parameters)` with the engine's parameter object under the agent lock; -3 when
    // there is no engine or it does not hand the parameter object out.
    template <class Call>
    int32_t with_parameters(Call&& call) {
        return with_engine([&](kelvo::rtc::IRtcEngine& engine) -> int32_t {
            engine_parameters parameters(&engine);
            if (!parameters) return missing_interface_result;
            return call(*parameters);
        });
    }

    // Capture off, local audio and video muted; skipped without the parameter object.
    // Agent lock held.
    void media_reset(kelvo::rtc::IRtcEngine& engine);
    // Calls the engine's enable-video operation while video is not known to be enabled.
    // Agent lock held.
    void ensure_video_enabled(kelvo::rtc::IRtcEngine& engine);
    int32_t set_screen_capture_window(const char* key, const std::string& window_id);
    int32_t set_recording_service(const char* key, const char* log_line,
                                  const std::string& recording_key);

    net_engine& net_;

    // The agent lock: held by every operation that touches the engine, for its whole run.
    std::mutex agent_lock_;
    // Guarded by the agent lock. Diagnostic lines reach the engine through the log gate instead,
    // which is opened after the engine is made and closed before it is released.
    kelvo::rtc::IRtcEngine* engine_ = nullptr;
    engine_log_gate log_gate_;
    std::unique_ptr<rtc_engine_agent_event_handler> event_handler_;

    std::atomic<bool> engine_initialized_{false};
    std::atomic<bool> joined_{false};
    std::atomic<bool> join_pending_{false};
    std::atomic<uint32_t> own_uid_{0};
    std::atomic<bool> key_style_{false};
    bool video_enabled_ = false;

    // The control connection, recorded by a successful "initialize"; read by engine threads.
    std::mutex control_lock_;
    int32_t control_server_index_ = -1;
    connection_handle control_handle_;

    // The stream-channel table, guarded by the channel lock.
    std::mutex channel_lock_;
    std::unordered_map<uint32_t, std::shared_ptr<VideoStreamChannel>> channels_;

    // Window identifiers of the last listing, mapped to native window handles.
    std::unordered_map<std::string, intptr_t> window_table_;
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
