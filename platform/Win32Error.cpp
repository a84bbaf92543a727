#include "platform/Win32Error.h"

namespace velmo {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* wide, int length) {
    if (length <= 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::string Narrow(const std::wstring& wide) {
    return Narrow(wide.data(), static_cast<int>(wide.size()));
}

std::string SystemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n ? std::wstring(buffer, n) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty()) return "Unbekannter Fehler";
    return Narrow(text);
}

PlatformError MakeError(DWORD code, const std::string& subject) {
    return PlatformError(code, SystemErrorText(code), subject);
}

PlatformError LastError(const std::string& subject) { return MakeError(GetLastError(), subject); }

std::wstring FilePath(const std::string& utf8) {
    std::wstring path = Widen(utf8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    // Below the limit the path goes unchanged, so the system still normalises it.
    // The limit is on the full path: a short relative path in a deep working
    // folder can pass it.
    const bool absolute = (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') ||
                          path.rfind(L"\\\\", 0) == 0;
    if (path.size() < MAX_PATH - 12 &&
        (absolute || GetFullPathNameW(path.c_str(), 0, nullptr, nullptr) < MAX_PATH - 12))
        return path;
    // The prefix turns normalisation off, so normalise first ("\\", ".", "/").
    if (DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr)) {
        std::wstring full(n, L'\0');
        n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
        if (n && n < full.size()) path = full.substr(0, n);
    }
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
    return path;
}

} // namespace velmo
