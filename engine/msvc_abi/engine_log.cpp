#include "engine_log.h"

#include "kernel32.h"

namespace kelvo {
namespace rtc {
namespace msvc_abi {
namespace {

// Written once, when the engine is made, before any thread of its own runs.
[[clang::require_constant_initialization]] char log_path[520] = {};

}  // namespace

void open_engine_log() {
    const DWORD length = GetEnvironmentVariableA("RIZUDADA_LOG", log_path, sizeof log_path);
    if (length == 0 || length >= sizeof log_path) log_path[0] = '\0';
}

void log_line::put(char c) {
    // One place is kept for the line end.
    if (length_ < static_cast<int>(sizeof text_) - 1) text_[length_++] = c;
}

void log_line::separate() {
    if (!first_) put(' ');
    first_ = false;
}

void log_line::digits(uint32_t value) {
    char reversed[10];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) put(reversed[--count]);
}

log_line& log_line::text(const char* value) {
    separate();
    for (const char* c = value; c != nullptr && *c != '\0'; ++c) put(*c == '\n' || *c == '\r' ? ' ' : *c);
    return *this;
}

log_line& log_line::number(uint32_t value) {
    separate();
    digits(value);
    return *this;
}

log_line& log_line::signed_number(int32_t value) {
    separate();
    return attached_number(value);
}

log_line& log_line::attached_number(int32_t value) {
    if (value < 0) put('-');
    digits(value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value));
    return *this;
}

void log_line::write() {
    if (log_path[0] == '\0') return;
    text_[length_++] = '\n';
    // Opened for appending and closed for every line, as the stand-in engine does: each line is
    // on disk when the call returns, and lines of several threads never mix.
    HANDLE file = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text_, static_cast<DWORD>(length_), &written, nullptr);
    CloseHandle(file);
}

}  // namespace msvc_abi
}  // namespace rtc
}  // namespace kelvo
