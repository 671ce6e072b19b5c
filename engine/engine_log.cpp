#include "engine_log.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kelvo {
namespace rtc {
namespace standin {

namespace {

std::string log_file_path() {
    const char* named = std::getenv("RIZUDADA_LOG");
    if (named && *named) return named;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) return "rizudada.log";
    return (folder / "rizudada.log").string();
}

}  // namespace

engine_log::engine_log() : path_(log_file_path()) {}

void engine_log::write(const std::string& line) {
    std::lock_guard<std::mutex> hold(mutex_);
    // Opened for every line, so each line is complete on disk when the call returns and readers
    // may remove the file between test cases.
    FILE* file = std::fopen(path_.c_str(), "ab");
    if (!file) return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fclose(file);
}

std::string log_text(const char* text) {
    std::string result = text ? text : "";
    for (char& c : result) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return result;
}

std::string log_words(std::initializer_list<std::string> words) {
    std::string line;
    bool first = true;
    for (const std::string& word : words) {
        if (!first) line += ' ';
        line += word;
        first = false;
    }
    return line;
}

}  // namespace standin
}  // namespace rtc
}  // namespace kelvo
