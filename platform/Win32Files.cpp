#include "platform/Win32Files.h"

#include "platform/Handle.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <new>

namespace velmo {
namespace {

constexpr DWORD kChunk = 16u << 20; // bytes per ReadFile/WriteFile call

// Whether the reparse point at `path` leads to another file or folder, as
// symbolic links and junctions do. Other reparse points are the file itself,
// stored differently: OneDrive makes every file and folder it syncs one, and
// deduplicated or compressed system files are others. A tag that cannot be
// read counts as a link.
bool LeadsElsewhere(const std::string& path) {
    std::string name = path;
    while (name.size() > 3 && (name.back() == '\\' || name.back() == '/'))
        name.pop_back();
    WIN32_FIND_DATAW found;
    AutoFind search(FindFirstFileExW(FilePath(name).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
    return !search || found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0);
}

} // namespace

bool Win32Files::FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Win32Files::ReadWholeFile(const std::string& path) {
    AutoFile file(CreateFileW(FilePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        throw LastError(path);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size))
        throw LastError(path);
    if (static_cast<unsigned long long>(size.QuadPart) > std::string().max_size() / 2)
        throw MakeError(ERROR_NOT_ENOUGH_MEMORY, path);

    std::string bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        throw MakeError(ERROR_NOT_ENOUGH_MEMORY, path);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(kChunk, bytes.size() - done));
        if (!ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr))
            throw LastError(path);
        if (got == 0)
            break; // the file shrank while we read it
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::uint32_t Win32Files::FileAttributes(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw LastError(path);
    return attributes;
}

void Win32Files::WriteNewFile(const std::string& path, const std::string& bytes,
                              std::uint32_t attributes) {
    const std::wstring widePath = FilePath(path);
    const DWORD createAttributes =
        (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
        FILE_ATTRIBUTE_NORMAL;
    AutoFile file(CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              createAttributes, nullptr));
    if (!file)
        throw LastError(path);

    DWORD failure = ERROR_SUCCESS;
    std::size_t done = 0;
    while (done < bytes.size() && failure == ERROR_SUCCESS) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(kChunk, bytes.size() - done));
        if (!WriteFile(file.Get(), bytes.data() + done, want, &put, nullptr) || put == 0)
            failure = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        done += put;
    }
    file.Reset();
    if (failure != ERROR_SUCCESS) {
        // Nothing half-written stays behind.
        DeleteFileW(widePath.c_str());
        throw MakeError(failure, path);
    }
}

void Win32Files::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(), flags))
        throw LastError(from);
}

void Win32Files::DeleteFile(const std::string& path) {
    if (!DeleteFileW(FilePath(path).c_str()))
        throw LastError(path);
}

void Win32Files::KeepPermissions(const std::string&, const std::string&) {
    // The attributes were given when the file was created; its security comes
    // from its folder, as for any new file there.
}

void Win32Files::FlushFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        AutoFile file(CreateFileW(FilePath(path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !FlushFileBuffers(file.Get()))
            throw LastError(path);
    }
}

void Win32Files::LinkFile(const std::string& existing, const std::string& newName) {
    if (!CreateHardLinkW(FilePath(newName).c_str(), FilePath(existing).c_str(), nullptr))
        throw LastError(newName);
}

void Win32Files::SyncDirectories(const std::vector<std::string>&) {
    // Names need no flush of their own here: every rename is written through,
    // and NTFS commits its log in order, so the names created before a rename
    // are durable with it.
}

PathKind Win32Files::KindOf(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return PathKind::Missing;
        throw MakeError(code, path);
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && LeadsElsewhere(path))
        return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return PathKind::Other;
    return PathKind::File;
}

bool Win32Files::IsHidden(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
}

std::string Win32Files::Canonical(const std::string& path) const {
    std::wstring wide = Widen(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    // Names compare as the file system compares them: without letter case.
    if (wide.empty())
        return path;
    std::wstring upper(wide.size(), L'\0');
    if (!LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                      upper.data(), static_cast<int>(upper.size())))
        return Narrow(wide);
    return Narrow(upper);
}

std::vector<std::string> Win32Files::ListDirectory(const std::string& directory) {
    std::string pattern = directory;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
        pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAW found;
    AutoFind search(FindFirstFileExW(FilePath(pattern).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search)
        throw LastError(directory);
    std::vector<std::string> names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(Narrow(name));
    } while (FindNextFileW(search.Get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        throw LastError(directory);
    return names;
}

PlatformError Win32Files::Error(std::uint32_t code, const std::string& subject) {
    return MakeError(code, subject);
}

// ---- time

DateTimeTexts Win32Files::Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[128] = {};
    wchar_t time[128] = {};
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128))
        throw LastError("");
    if (!GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 128))
        throw LastError("");
    return {Narrow(date, static_cast<int>(wcslen(date))),
            Narrow(time, static_cast<int>(wcslen(time)))};
}

} // namespace velmo
