#include "render_view.h"

#include "engine_log.h"
#include "scripted_call.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {

bool render_view::start(media::IExternalVideoRenderFactory* factory,
                        IRtcEngineEventHandler* handler, void* view, uid_t uid) {
    if (ended_ != nullptr) return false;
    factory_ = factory;
    handler_ = handler;
    view_ = view;
    uid_ = uid;
    __atomic_store_n(&asked_width_, 0, __ATOMIC_SEQ_CST);
    __atomic_store_n(&asked_height_, 0, __ATOMIC_SEQ_CST);
    ended_ = CreateEventA(nullptr, 1, 0, nullptr);
    if (ended_ != nullptr && thread_.start(&render_view::run, this)) return true;
    if (ended_ != nullptr) CloseHandle(ended_);
    ended_ = nullptr;
    return false;
}

void render_view::end() {
    if (ended_ != nullptr) SetEvent(ended_);
}

void render_view::join() {
    thread_.join();
    if (ended_ != nullptr) CloseHandle(ended_);
    ended_ = nullptr;
}

void render_view::onViewSizeChanged(int width, int height) {
    log_line("call onViewSizeChanged").signed_number(width).signed_number(height).write();
    __atomic_store_n(&asked_width_, width, __ATOMIC_SEQ_CST);
    __atomic_store_n(&asked_height_, height, __ATOMIC_SEQ_CST);
}

void render_view::onViewDestroyed() {
    log_line("call onViewDestroyed").write();
    end();
}

DWORD __stdcall render_view::run(void* self) {
    static_cast<render_view*>(self)->play();
    return 0;
}

bool render_view::ended_within(DWORD milliseconds) {
    return WaitForSingleObject(ended_, milliseconds) == WAIT_OBJECT_0;
}

void render_view::play() {
    const media::ExternalVideoRenderContext context{this, view_, RENDER_MODE_HIDDEN, uid_, 0,
                                                    0.0f, 0.0f, 0.0f, 0.0f};
    media::IExternalVideoRender* renderer = factory_ == nullptr
                                                ? nullptr
                                                : factory_->createRenderInstance(context);
    if (renderer == nullptr) {
        log_line("render none").number(uid_).write();
        return;
    }
    log_line("render created").number(uid_).write();
    log_line("render initialize").signed_number(renderer->initialize()).write();
    bool ended = false;
    for (uint32_t counter = 1; counter <= frame_count && !ended; ++counter) {
        ended = ended_within(frame_interval_ms);
        if (ended) break;
        const int width = __atomic_load_n(&asked_width_, __ATOMIC_SEQ_CST);
        const int height = __atomic_load_n(&asked_height_, __ATOMIC_SEQ_CST);
        frame_.draw(width > 0 ? width : default_frame_width,
                    height > 0 ? height : default_frame_height, counter);
        const int result = renderer->deliverFrame(frame_, frame_rotation, frame_mirrored);
        log_line("render frame").number(counter).signed_number(result).write();
    }
    if (!ended && handler_ != nullptr) handler_->onPeerLeave(peer_uid, peer_leave_reason);
    ended_within(INFINITE);
    renderer->release();
    log_line("render released").number(uid_).write();
}

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
