// The one remote view the engine plays: on a thread of its own it asks the agent's render factory
// for a renderer, feeds it the script's frames at the size the renderer asks for through this
// object (the engine's render callback), tells the agent's handler that the peer left, and
// releases the renderer once the view ends (the renderer or the agent ends it, or the engine is
// released).
#pragma once

#include <kelvo/rizudada_engine.h>

#include "engine_thread.h"
#include "pattern_frame.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {

class render_view final : public media::IExternalVideoRenderCallback {
public:
    // False when a view already plays (until join) or no thread could be made.
    bool start(media::IExternalVideoRenderFactory* factory, IRtcEngineEventHandler* handler,
               void* view, uid_t uid);
    // Ends the view; from any thread, also more than once.
    void end();
    // Waits until the view's thread has released its renderer and ended.
    void join();

    void onViewSizeChanged(int width, int height) override;
    void onViewDestroyed() override;

private:
    static DWORD __stdcall run(void* self);
    void play();
    // Waits `milliseconds` or until the view ends; true when it ended.
    bool ended_within(DWORD milliseconds);

    // Set by start before the thread runs, then only read.
    media::IExternalVideoRenderFactory* factory_ = nullptr;
    IRtcEngineEventHandler* handler_ = nullptr;
    void* view_ = nullptr;
    uid_t uid_ = 0;
    HANDLE ended_ = nullptr;
    engine_thread thread_;
    // The size the renderer asked for, 0 until it asks; written by any thread (atomically).
    int asked_width_ = 0;
    int asked_height_ = 0;
    // Drawn and lent by the view's thread alone.
    pattern_frame frame_;
};

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
