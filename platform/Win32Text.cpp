#include "platform/Win32Text.h"

namespace velmo {

std::wstring Widen(const std::string& text, UINT codePage) {
    if (text.empty())
        return {};
    const int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* wide, int length, UINT codePage) {
    if (length <= 0)
        return {};
    const int n = WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide, length, text.data(), n, nullptr, nullptr);
    return text;
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
    return Narrow(wide.data(), static_cast<int>(wide.size()), codePage);
}

std::wstring FilePath(const std::string& utf8) {
    std::wstring path = Widen(utf8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    // Below the limit the path goes unchanged, so the system still normalises it.
    // The limit is on the full path: a short relative path in a deep working
    // folder can pass it.
    const bool absolute =
        (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') || path.rfind(L"\\\\", 0) == 0;
    if (path.size() < MAX_PATH - 12 &&
        (absolute || GetFullPathNameW(path.c_str(), 0, nullptr, nullptr) < MAX_PATH - 12))
        return path;
    // The prefix turns normalisation off, so normalise first ("\\", ".", "/").
    if (DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr)) {
        std::wstring full(n, L'\0');
        n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
        if (n && n < full.size())
            path = full.substr(0, n);
    }
    if (path.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return L"\\\\?\\" + path;
    return path;
}

} // namespace velmo
