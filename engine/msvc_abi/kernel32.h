// The few kernel32 functions the engine uses. They are declared here because the engine is built
// without any C library or Windows headers; mingw-w64's import library libkernel32.a links them.
#pragma once

extern "C" {

using HANDLE = void*;
using DWORD = unsigned long;
using BOOL = int;
using thread_start = DWORD(__stdcall*)(void* parameter);

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD FILE_APPEND_DATA = 4;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<long long>(-1)))

__declspec(dllimport) HANDLE __stdcall CreateThread(void* attributes, unsigned long long stack_size,
                                                    thread_start start, void* parameter,
                                                    DWORD flags, DWORD* thread_id);
__declspec(dllimport) DWORD __stdcall WaitForSingleObject(HANDLE handle, DWORD milliseconds);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE handle);
__declspec(dllimport) HANDLE __stdcall CreateEventA(void* attributes, BOOL manual_reset,
                                                    BOOL initial_state, const char* name);
__declspec(dllimport) BOOL __stdcall SetEvent(HANDLE event);
__declspec(dllimport) HANDLE __stdcall CreateFileA(const char* name, DWORD access, DWORD share,
                                                   void* security, DWORD disposition, DWORD flags,
                                                   HANDLE template_file);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE file, const void* data, DWORD size,
                                               DWORD* written, void* overlapped);
__declspec(dllimport) DWORD __stdcall GetEnvironmentVariableA(const char* name, char* value,
                                                              DWORD size);

}  // extern "C"
