#include "platform/Win32Text.h"

#include "platform/WindowsPath.h"

#include <cctype>
#include <iterator>

namespace velmo {

std::wstring Widen(const std::string& text, UINT codePage) {
    if (text.empty())
        return {};
    // A byte never gives more than one UTF-16 unit: one call into room for
    // that many, instead of a second call to ask the length first.
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return wide;
}

std::string Narrow(const wchar_t* wide, int length, UINT codePage) {
    if (length <= 0)
        return {};
    // A UTF-16 unit never gives more than three bytes: one call into room for that.
    std::string text(static_cast<std::size_t>(length) * 3, '\0');
    const int n = WideCharToMultiByte(codePage, 0, wide, length, text.data(),
                                      static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return text;
}

std::string Narrow(const std::wstring& wide, UINT codePage) {
    return Narrow(wide.data(), static_cast<int>(wide.size()), codePage);
}

namespace {

// A full path as GetFullPathNameW gives it; empty when it fails.
std::wstring FullPathName(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    n = n ? GetFullPathNameW(path.c_str(), n, full.data(), nullptr) : 0;
    return n && n < full.size() ? full.substr(0, n) : std::wstring();
}

// The working folder a relative `utf8` starts from: the process's, or for a
// drive-relative "D:x" the one the system keeps for drive D. Only the bare
// drive goes to GetFullPathNameW, which would turn a device name in a whole
// path ("D:con.lua") into the device.
std::string WorkingFolderFor(const std::string& utf8) {
    const bool driveRelative =
        utf8.size() >= 2 && std::isalpha(static_cast<unsigned char>(utf8[0])) && utf8[1] == ':' &&
        (utf8.size() == 2 || (utf8[2] != '\\' && utf8[2] != '/'));
    if (driveRelative)
        return Narrow(FullPathName(Widen(utf8.substr(0, 2))));
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    std::wstring current(n, L'\0');
    n = n ? GetCurrentDirectoryW(n, current.data()) : 0;
    return n && n < current.size() ? Narrow(current.data(), static_cast<int>(n)) : std::string();
}

} // namespace

std::string UserThousandsSeparator() {
    wchar_t separator[8] = {}; // LOCALE_STHOUSAND holds at most 4 characters
    const int got = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator,
                                    static_cast<int>(std::size(separator)));
    return got > 0 ? Narrow(separator) : std::string(".");
}

std::wstring FilePath(const std::string& utf8) {
    // Every path goes over in the "\\?\" form, normalised here: the system then
    // takes it literally, so "con.lua" is a file of that name and not the
    // console, and there is no limit of 260 characters.
    if (utf8.empty() || utf8.rfind("\\\\?\\", 0) == 0)
        return Widen(utf8);
    // A whole path ("C:\x", "\\server\share\x") needs no working folder: it
    // is not asked for.
    if (std::string whole = ExtendedPath(utf8, {}); whole != utf8)
        return Widen(whole);
    return Widen(ExtendedPath(utf8, WorkingFolderFor(utf8)));
}

} // namespace velmo
