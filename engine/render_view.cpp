#include "render_view.h"

#include <algorithm>

#include <frame_pattern.h>

#include "agent_calls.h"

namespace kelvo {
namespace rtc {
namespace standin {

// One I420 picture lent to the renderer for a single delivery.
class render_view::frame final : public media::IVideoFrame {
public:
    frame(const uint8_t* planes[3], const int strides[3], int width, int height)
        : planes_{planes[0], planes[1], planes[2]},
          strides_{strides[0], strides[1], strides[2]},
          width_(width),
          height_(height) {}

    const unsigned char* buffer(media::PLANE_TYPE plane) const override {
        return valid(plane) ? planes_[plane] : nullptr;
    }
    int stride(media::PLANE_TYPE plane) const override { return valid(plane) ? strides_[plane] : 0; }
    int width() const override { return width_; }
    int height() const override { return height_; }

private:
    static bool valid(media::PLANE_TYPE plane) { return plane >= media::Y_PLANE && plane <= media::V_PLANE; }

    const uint8_t* planes_[3];
    int strides_[3];
    int width_;
    int height_;
};

render_view::render_view(view_host& host, bool local, uid_t uid, void* view)
    : host_(host), local_(local), uid_(uid), view_(view), thread_([this] { run(); }) {}

render_view::~render_view() {
    stop();
    join();
}

void render_view::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
}

void render_view::join() {
    if (!thread_.joinable()) return;
    if (on_this_thread()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool render_view::on_this_thread() const { return std::this_thread::get_id() == thread_.get_id(); }

void render_view::onViewSizeChanged(int width, int height) {
    if (width <= 0 || height <= 0) return;
    std::lock_guard<std::mutex> hold(mutex_);
    requested_width_ = std::min(width, max_frame_side);
    requested_height_ = std::min(height, max_frame_side);
}

void render_view::onViewDestroyed() { stop(); }

std::string render_view::name() const {
    return std::string("render ") + (local_ ? "local " : "remote ") + std::to_string(uid_);
}

bool render_view::sleep_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> hold(mutex_);
    wake_.wait_until(hold, deadline, [this] { return stopping_; });
    return !stopping_;
}

void render_view::run() {
    media::IExternalVideoRender* renderer = nullptr;
    if (media::IExternalVideoRenderFactory* factory = host_.render_factory()) {
        const media::ExternalVideoRenderContext context{this, view_, RENDER_MODE_HIDDEN, uid_, 0, 0, 0, 0, 0};
        renderer = call_agent<&media::IExternalVideoRenderFactory::createRenderInstance>(*factory, context);
    }
    host_.log(name() + (renderer ? " created" : " none"));
    if (!renderer) {
        // No renderer, no frames: idle until the view is replaced or the engine released.
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return stopping_; });
        return;
    }
    auto next = std::chrono::steady_clock::now();
    while (sleep_until(next)) {
        video_settings settings;
        if (host_.frame_settings(local_, uid_, settings)) deliver(*renderer, settings);
        next += std::chrono::microseconds(1000000 / settings.fps);
        // After a stall start afresh instead of catching up with a burst.
        next = std::max(next, std::chrono::steady_clock::now());
    }
    call_agent<&media::IExternalVideoRender::release>(*renderer);
    host_.log(name() + " released");
    std::vector<uint8_t>().swap(pixels_);
}

void render_view::deliver(media::IExternalVideoRender& renderer, video_settings settings) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (requested_width_ > 0) {
            settings.width = requested_width_;
            settings.height = requested_height_;
        }
    }
    const int width = settings.width;
    const int height = settings.height;
    const int y_stride = std::max(settings.stride, width);
    const int chroma_stride = (y_stride + 1) / 2;
    const size_t y_size = static_cast<size_t>(y_stride) * height;
    const size_t chroma_size = static_cast<size_t>(chroma_stride) * ((height + 1) / 2);
    pixels_.resize(y_size + 2 * chroma_size);

    uint8_t* y = pixels_.data();
    uint8_t* u = y + y_size;
    uint8_t* v = u + chroma_size;
    ++counter_;
    test_pattern::fill_frame_pattern(y, y_stride, u, chroma_stride, v, chroma_stride, width, height, counter_);

    const uint8_t* planes[3] = {y, u, v};
    const int strides[3] = {y_stride, chroma_stride, chroma_stride};
    const frame picture(planes, strides, width, height);
    call_agent<&media::IExternalVideoRender::deliverFrame>(renderer, picture, settings.rotation,
                                                           settings.mirrored);
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
