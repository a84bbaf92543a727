#include "platform/Win32Error.h"

#include "platform/Win32Text.h"

namespace velmo {

std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty())
        return "Unbekannter Fehler";
    return Narrow(text);
}

PlatformError MakeError(DWORD code, const std::string& subject) {
    return PlatformError(code, SystemErrorText(code), subject);
}

PlatformError LastError(const std::string& subject) {
    return MakeError(GetLastError(), subject);
}

} // namespace velmo
