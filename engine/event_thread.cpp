#include "event_thread.h"

namespace kelvo {
namespace rtc {
namespace standin {

event_thread::event_thread(engine_log& log) : log_(log), thread_([this] { run(); }) {}

event_thread::~event_thread() { stop(); }

void event_thread::set_handler(IRtcEngineEventHandler* handler) {
    std::lock_guard<std::mutex> hold(mutex_);
    handler_ = handler;
}

void event_thread::post(std::string description, callback call) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (stopping_) return;
        queue_.push_back(pending{std::move(description), std::move(call)});
    }
    wake_.notify_one();
}

void event_thread::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (!thread_.joinable()) return;
    if (on_this_thread()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool event_thread::on_this_thread() const { return std::this_thread::get_id() == thread_.get_id(); }

void event_thread::run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        pending next = std::move(queue_.front());
        queue_.pop_front();
        IRtcEngineEventHandler* handler = handler_;
        if (!handler) continue;
        hold.unlock();
        log_.write("event " + next.description);
        next.call(*handler);
        hold.lock();
    }
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
