// The engine's event thread: callbacks queued by any thread, delivered in order on one thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <kelvo/rizudada_engine.h>

#include "engine_log.h"

namespace kelvo {
namespace rtc {
namespace standin {

class event_thread {
public:
    using callback = std::function<void(IRtcEngineEventHandler&)>;

    explicit event_thread(engine_log& log);
    ~event_thread();
    event_thread(const event_thread&) = delete;
    event_thread& operator=(const event_thread&) = delete;

    // The handler later deliveries go to; null drops them.
    void set_handler(IRtcEngineEventHandler* handler);
    // Queues one callback; `description` becomes its "event ..." log line when it is delivered.
    void post(std::string description, callback call);

    // Discards what is queued and ends the thread. Returns once no callback runs any more
    // (unless called on the event thread itself, which is then detached).
    void stop();
    bool on_this_thread() const;

private:
    struct pending {
        std::string description;
        callback call;
    };

    void run();

    engine_log& log_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<pending> queue_;
    IRtcEngineEventHandler* handler_ = nullptr;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
