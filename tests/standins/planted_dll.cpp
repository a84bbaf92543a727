// A library that must never be loaded: the security test copies it beside a copy
// of the launcher under the names of system libraries the launcher uses. When a
// process loads it anyway, it leaves a mark: it appends its own path to the file
// named by VELMO_PLANTED_MARKER, or, without that variable, creates a file named
// like itself plus ".loaded" beside itself.
#include "platform/WinApi.h"

#include <string>

namespace {

void LeaveMark(HMODULE self) {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    wchar_t marker[MAX_PATH + 16] = {};
    if (!GetEnvironmentVariableW(L"VELMO_PLANTED_MARKER", marker, MAX_PATH)) {
        lstrcpynW(marker, path, MAX_PATH);
        lstrcatW(marker, L".loaded");
    }
    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[4 * MAX_PATH + 2] = {};
    int n = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), line, sizeof line - 2,
                                nullptr, nullptr);
    line[n++] = '\r';
    line[n++] = '\n';
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
    CloseHandle(file);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        LeaveMark(instance);
    return TRUE;
}
