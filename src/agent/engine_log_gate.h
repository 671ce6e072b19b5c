// The way from the agent's diagnostic lines to the engine's log. Lines are written on every kind
// of thread (both servers' I/O threads and the engine's own), and the engine may be released on a
// server thread at any time; the gate makes writing a line and releasing the engine exclude each
// other without a lock that writers take: an engine thread that writes a line while it holds the
// engine's own locks must never wait for the thread that is releasing the engine.
#pragma once

#include <atomic>

#include <kelvo/rizudada_engine.h>

namespace kelvo {
namespace rtc {
namespace web {

class engine_log_gate {
public:
    // Lines reach `engine` from now on.
    void open(kelvo::rtc::IRtcEngine* engine);
    // No line reaches the engine once this returns: later lines are dropped, and lines already on
    // their way have returned from the engine. Called before the engine is released.
    void close();
    // Hands the line to the engine's log, or drops it while the gate is closed.
    void write(kelvo::rtc::LOG_LEVEL level, const char* line);
    // True while lines reach an engine (the agent formats no line that would be dropped).
    bool is_open() const { return engine_.load() != nullptr; }

private:
    std::atomic<kelvo::rtc::IRtcEngine*> engine_{nullptr};
    // Lines between taking the engine and returning from its log call. A writer counts itself
    // before it reads the engine, so `close` sees every writer that may still use the old one.
    std::atomic<int> writers_{0};
};

}  // namespace web
}  // namespace rtc
}  // namespace kelvo
