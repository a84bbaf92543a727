#include "TestSupport.h"

#include "platform/Handle.h"
#include "platform/Win32Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace velmo::test {

std::wstring Extended(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    if (path.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

namespace {

std::wstring Raw(const std::string& path) {
    return Extended(Widen(path));
}

// One pass over the tree; false when something could not be removed.
bool RemoveTreeOnce(const std::wstring& path) {
    bool ok = true;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                ok = RemoveTreeOnce(child) && ok;
            else
                ok = DeleteFileW(child.c_str()) && ok;
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryW(path.c_str()) && ok;
}

std::string TempRoot() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring root(buffer, n);
    while (!root.empty() && root.back() == L'\\')
        root.pop_back();
    // The long form, so that paths built on it compare with what Windows reports.
    wchar_t full[32768] = {};
    if (DWORD m = GetLongPathNameW(root.c_str(), full, 32768); m && m < 32768)
        root = full;
    return Narrow(root);
}

} // namespace

std::string UniqueName(const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    return stem + "-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64()) + "-" + std::to_string(++counter);
}

TempDir::TempDir(const std::string& name) : path_(TempRoot() + "\\velmo-" + UniqueName(name)) {
    MakeDirs(path_);
}

TempDir::TempDir(std::wstring_view name) : TempDir(Narrow(std::wstring(name))) {}

TempDir::~TempDir() {
    RemoveTree(path_);
}

std::wstring TempDir::WidePath() const {
    return Widen(path_);
}

std::wstring TempDir::operator/(std::wstring_view relative) const {
    return WidePath() + L"\\" + std::wstring(relative);
}

// ---- files by wide paths

namespace {

[[noreturn]] void FailWithLastError(const std::string& what, const std::wstring& subject) {
    const DWORD code = GetLastError();
    throw HarnessError(what + " (" + Narrow(subject) + "): Windows error " + std::to_string(code));
}

} // namespace

std::wstring FileNameOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring DirectoryOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

void CreateDirectories(const std::wstring& path) {
    if (path.empty() || DirectoryExists(path))
        return;
    CreateDirectories(DirectoryOf(path));
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        FailWithLastError("CreateDirectoryW", path);
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
    CreateDirectories(DirectoryOf(path));
    AutoFile file(CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        FailWithLastError("CreateFileW for writing", path);
    DWORD written = 0;
    if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        FailWithLastError("WriteFile", path);
}

std::string ReadFileBytes(const std::wstring& path) {
    AutoFile file(CreateFileW(Extended(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        FailWithLastError("CreateFileW for reading", path);
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void CopyFileTo(const std::wstring& from, const std::wstring& to) {
    CreateDirectories(DirectoryOf(to));
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        FailWithLastError("CopyFileW", from + L" -> " + to);
}

void RemoveFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
        GetLastError() != ERROR_PATH_NOT_FOUND)
        FailWithLastError("DeleteFileW", path);
}

void RemoveTree(const std::wstring& path) {
    if (path.empty() || !DirectoryExists(path))
        return;
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (RemoveTreeOnce(path) || !DirectoryExists(path))
            return;
        Sleep(25);
    }
    throw HarnessError("could not remove " + Narrow(path));
}

void MakeDirs(const std::string& path) {
    const std::wstring wide = Widen(path);
    // Every prefix that ends before a backslash, from the drive on.
    for (std::size_t at = wide.find(L'\\', 3);; at = wide.find(L'\\', at + 1)) {
        const std::wstring part = at == std::wstring::npos ? wide : wide.substr(0, at);
        if (!CreateDirectoryW(Extended(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            ADD_FAILURE() << "cannot create " << Narrow(part) << ": " << GetLastError();
        if (at == std::wstring::npos)
            break;
    }
}

void RemoveTree(const std::string& path) {
    RemoveTreeOnce(Raw(path));
}

void WriteRaw(const std::string& path, const std::string& bytes) {
    AutoFile file(CreateFileW(Raw(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << "cannot create " << path << ": " << GetLastError();
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
        ASSERT_TRUE(WriteFile(file.Get(), bytes.data() + done, want, &put, nullptr)) << path;
        done += put;
    }
}

bool WriteExactName(const std::string& path, const std::string& bytes) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const std::size_t slash = path.find_last_of('\\');
    if (!toUnix || slash == std::string::npos)
        return false;
    char* folder = toUnix(Widen(path.substr(0, slash)).c_str());
    if (!folder)
        return false;
    const std::string unixPath = std::string(folder) + "/" + path.substr(slash + 1);
    HeapFree(GetProcessHeap(), 0, folder);
    AutoFile file(CreateFileW(Widen("\\\\?\\unix" + unixPath).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    return file &&
           WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

std::optional<std::string> ReadRaw(const std::string& path) {
    AutoFile file(CreateFileW(Raw(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    if (!file)
        return std::nullopt;
    std::string bytes;
    char chunk[1 << 16];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

DWORD AttributesOf(const std::string& path) {
    return GetFileAttributesW(Raw(path).c_str());
}

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Raw(dir) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(Narrow(name));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ProgramDir() {
    wchar_t buffer[32768] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    std::wstring path(buffer, n);
    return Narrow(path.substr(0, path.find_last_of(L'\\')));
}

namespace {

std::wstring UserLocaleInfo(LCTYPE type) {
    wchar_t text[128] = {};
    GetLocaleInfoW(LOCALE_USER_DEFAULT, type, text, 128);
    return text;
}

} // namespace

UserFormats::UserFormats(const wchar_t* shortDate, const wchar_t* longTime)
    : oldDate_(UserLocaleInfo(LOCALE_SSHORTDATE)), oldTime_(UserLocaleInfo(LOCALE_STIMEFORMAT)) {
    ok_ = SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, shortDate) &&
          SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, longTime);
}

UserFormats::~UserFormats() {
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, oldDate_.c_str());
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, oldTime_.c_str());
}

DateTimeTexts RegionalTexts(const SYSTEMTIME& when) {
    wchar_t date[128] = {}, time[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &when, nullptr, time, 128);
    return {Narrow(date), Narrow(time)};
}

namespace {

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) &&
        std::wstring(className) == L"#32770") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND WaitForDialog(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    do {
        HWND found = nullptr;
        EnumWindows(FindOwnDialog, reinterpret_cast<LPARAM>(&found));
        if (found)
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < end);
    return nullptr;
}

std::string WindowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), n + 1)));
    return Narrow(text);
}

std::string LongFolder(const TempDir& dir) {
    std::string path = dir.Path();
    for (int level = 0; path.size() <= 300; ++level)
        path += "\\Ordner-mit-einem-ziemlich-langen-Namen-" + std::to_string(level);
    MakeDirs(path);
    return path;
}

} // namespace velmo::test
