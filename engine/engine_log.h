// The engine's log file: one line per call, event and log request, appended and on disk at once.
#pragma once

#include <initializer_list>
#include <mutex>
#include <string>

namespace kelvo {
namespace rtc {
namespace standin {

class engine_log {
public:
    // The file named by RIZUDADA_LOG, else rizudada.log in the temporary folder.
    engine_log();

    void write(const std::string& line);

    const std::string& path() const { return path_; }

private:
    std::mutex mutex_;
    std::string path_;
};

// Log text for a possibly null C text, with line breaks turned into blanks.
std::string log_text(const char* text);
inline const char* log_bool(bool value) { return value ? "true" : "false"; }

// The words joined by single blanks.
std::string log_words(std::initializer_list<std::string> words);

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
