// The answers a consent prompt gave, recorded from whatever thread gave them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "access/consent_prompt.h"

namespace kelvo {
namespace test {

using rtc::web::consent_answer;

class consent_answers {
public:
    // The callback for a question about `origin`: records each answer and the answering thread.
    std::function<void(consent_answer)> callback_for(const std::string& origin) {
        return [this, origin](consent_answer answer) {
            std::lock_guard<std::mutex> hold(lock_);
            answers_[origin].push_back(answer);
            threads_.push_back(std::this_thread::get_id());
            ++count_;
            changed_.notify_all();
        };
    }

    // True once `count` answers in all have arrived within `timeout`.
    bool wait_for(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        std::unique_lock<std::mutex> hold(lock_);
        return changed_.wait_for(hold, timeout, [&] { return count_ >= count; });
    }

    // Every answer given about `origin`, in order.
    std::vector<consent_answer> about(const std::string& origin) {
        std::lock_guard<std::mutex> hold(lock_);
        return answers_[origin];
    }

    std::vector<std::thread::id> answering_threads() {
        std::lock_guard<std::mutex> hold(lock_);
        return threads_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    size_t count_ = 0;
    std::map<std::string, std::vector<consent_answer>> answers_;
    std::vector<std::thread::id> threads_;
};

}  // namespace test
}  // namespace kelvo
