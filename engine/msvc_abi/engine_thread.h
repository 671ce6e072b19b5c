// A thread of the engine's own, from kernel32.
#pragma once

#include "kernel32.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {

class engine_thread {
public:
    // Runs `run(argument)` on a new thread; false when none could be made.
    bool start(thread_start run, void* argument) {
        handle_ = CreateThread(nullptr, 0, run, argument, 0, nullptr);
        return handle_ != nullptr;
    }
    // Waits until the thread has ended; returns at once when none runs.
    void join() {
        if (handle_ == nullptr) return;
        WaitForSingleObject(handle_, INFINITE);
        CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
