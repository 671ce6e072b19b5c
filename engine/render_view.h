// One video view of the engine: its render thread makes a renderer through the agent's factory
// and pushes test-pattern frames into it while the view's frame conditions hold.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace standin {

// Frame geometry and rate.
struct video_settings {
    int width = 320;
    int height = 240;
    int fps = 30;
    int stride = 0;  // 0: the width
    int rotation = 0;
    bool mirrored = false;
};

// Largest frame side a renderer may ask for.
constexpr int max_frame_side = 4096;

// What a view asks of its engine.
class view_host {
public:
    virtual media::IExternalVideoRenderFactory* render_factory() = 0;
    // Fills the current settings; true while the view's frames should flow.
    virtual bool frame_settings(bool local, uid_t uid, video_settings& settings) = 0;
    virtual void log(const std::string& line) = 0;

protected:
    ~view_host() = default;
};

class render_view final : public media::IExternalVideoRenderCallback {
public:
    render_view(view_host& host, bool local, uid_t uid, void* view);
    ~render_view();
    render_view(const render_view&) = delete;
    render_view& operator=(const render_view&) = delete;

    // Asks the thread to release its renderer and end; never blocks.
    void stop();
    // Waits for the thread to end (detaches it when called on the view's own thread).
    void join();
    bool on_this_thread() const;

    // IExternalVideoRenderCallback: may be called from any thread, also from inside the
    // renderer's own calls.
    void onViewSizeChanged(int width, int height) override;
    void onViewDestroyed() override;

private:
    class frame;

    void run();
    // Sleeps until `deadline`; false once the view is stopping.
    bool sleep_until(std::chrono::steady_clock::time_point deadline);
    void deliver(media::IExternalVideoRender& renderer, video_settings settings);
    std::string name() const;

    view_host& host_;
    const bool local_;
    const uid_t uid_;
    void* const view_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    int requested_width_ = 0;
    int requested_height_ = 0;

    // Touched only by the render thread.
    uint32_t counter_ = 0;
    std::vector<uint8_t> pixels_;

    std::thread thread_;
};

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
