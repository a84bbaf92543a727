// A tiny program the process-start tests launch. It writes what it was started
// with (command line, working directory, its own file, the STARTUPINFO window
// settings) as UTF-16 lines to the file named by the environment variable
// VELMO_CHILD_REPORT, which it inherits from the starting process. The report
// is written beside its final name and then renamed, so a reader never sees
// half of it.
#include "platform/WinApi.h"

#include <string>

int wmain() {
    wchar_t report[32768] = {};
    const DWORD n = GetEnvironmentVariableW(L"VELMO_CHILD_REPORT", report, 32768);
    if (n == 0 || n >= 32768)
        return 2;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    wchar_t directory[32768] = {};
    GetCurrentDirectoryW(32768, directory);
    wchar_t module[32768] = {};
    GetModuleFileNameW(nullptr, module, 32768);

    std::wstring text = std::wstring(L"cmd=") + GetCommandLineW() + L"\n";
    text += std::wstring(L"dir=") + directory + L"\n";
    text += std::wstring(L"module=") + module + L"\n";
    text += L"flags=" + std::to_wstring(startup.dwFlags) + L"\n";
    text += L"show=" + std::to_wstring(startup.wShowWindow) + L"\n";

    const std::wstring part = std::wstring(report) + L".part";
    HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD put = 0;
    const BOOL written =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &put, nullptr);
    CloseHandle(file);
    if (!written)
        return 4;
    return MoveFileExW(part.c_str(), report, MOVEFILE_REPLACE_EXISTING) ? 0 : 5;
}
