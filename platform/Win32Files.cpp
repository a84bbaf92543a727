#include "platform/Win32Files.h"

#include "platform/Handle.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <aclapi.h>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

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
    return !search || PathKindOf(FILE_ATTRIBUTE_REPARSE_POINT, found.dwReserved0) == PathKind::Link;
}

std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileStamp stamp;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.file = Join(info.nFileIndexHigh, info.nFileIndexLow);
    stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.modified = static_cast<std::int64_t>(
        Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    stamp.links = info.nNumberOfLinks;
    return stamp;
}

FileStamp StampOfHandle(HANDLE file, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        throw LastError(path);
    return StampOf(info);
}

// Opens a script for reading: never a device (the path's "\\?\" form keeps
// "con.lua" a file), and never what a symbolic link or junction leads to.
// `stamp` gets the file's stamp, from the one look that also tells its kind.
AutoFile OpenScript(const std::string& path, FileStamp& stamp) {
    const std::wstring wide = FilePath(path);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    AutoFile file(CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        throw LastError(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.Get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw PlatformError(ERROR_BAD_FILE_TYPE, "keine gewöhnliche Datei", path,
                            ErrorCause::NotAFile);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        stamp = StampOf(info);
        return file;
    }
    if (LeadsElsewhere(path))
        throw PlatformError(ERROR_CANT_ACCESS_FILE, SystemErrorText(ERROR_CANT_ACCESS_FILE), path,
                            ErrorCause::IsALink);
    // A file stored differently (OneDrive, deduplication): opened as the file itself.
    file = AutoFile(CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        throw LastError(path);
    stamp = StampOfHandle(file.Get(), path);
    return file;
}

} // namespace

PathKind PathKindOf(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag)))
        return PathKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return PathKind::Other;
    return PathKind::File;
}

bool Win32Files::FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileStamp Win32Files::ReadStampedPiece(const std::string& path, std::uint64_t offset,
                                       std::size_t most, std::string& bytes) {
    FileStamp stamp;
    AutoFile file = OpenScript(path, stamp);
    const std::uint64_t size = stamp.size;
    const std::uint64_t want = offset >= size ? 0 : std::min<std::uint64_t>(most, size - offset);
    if (want > std::string().max_size() / 2)
        throw MakeError(ERROR_NOT_ENOUGH_MEMORY, path);
    try {
        bytes.resize(static_cast<std::size_t>(want));
    } catch (const std::bad_alloc&) {
        throw MakeError(ERROR_NOT_ENOUGH_MEMORY, path);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        // Each read says where it starts, so no file position is relied on.
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(kChunk, bytes.size() - done));
        if (!ReadFile(file.Get(), bytes.data() + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            throw LastError(path);
        }
        if (got == 0)
            break; // the file shrank while we read it
        done += got;
    }
    bytes.resize(done);
    return stamp;
}

FileStamp Win32Files::StampOf(const std::string& path) {
    AutoFile file(CreateFileW(FilePath(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        throw LastError(path);
    return StampOfHandle(file.Get(), path);
}

std::uint32_t Win32Files::FileAttributes(const std::string& path) {
    const std::wstring wide = FilePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw LastError(path);
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
        return attributes;
    // Writable by its attribute, but perhaps not for this user: the file's own
    // access check answers. Only a denial counts; a file another program holds
    // is not read-only.
    AutoFile probe(CreateFileW(wide.c_str(), FILE_WRITE_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!probe && GetLastError() == ERROR_ACCESS_DENIED)
        return attributes | FILE_ATTRIBUTE_READONLY;
    return attributes;
}

std::optional<PlatformError> Win32Files::ReplaceRefusal(const std::string& path) {
    // Replacing a file opens it for deletion: a program holding it open
    // without delete sharing (an editor, the game) makes that fail. Opened
    // for deletion and closed again, the file is not changed.
    AutoFile probe(CreateFileW(FilePath(path).c_str(), DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!probe && GetLastError() == ERROR_SHARING_VIOLATION)
        return MakeError(ERROR_SHARING_VIOLATION, path);
    return std::nullopt;
}

void Win32Files::WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                                  std::uint32_t attributes) {
    const std::wstring widePath = FilePath(path);
    const DWORD createAttributes =
        (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
        FILE_ATTRIBUTE_NORMAL;
    // Held without delete sharing while it lives: nobody can remove or rename
    // it, and another instance's sweep for leftovers sees it in use.
    // DELETE: it is renamed into place through this handle (see MoveFile).
    AutoFile file(CreateFileW(widePath.c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC | DELETE,
                              FILE_SHARE_READ, nullptr, CREATE_NEW, createAttributes, nullptr));
    if (!file)
        throw LastError(path);

    const auto writePiece = [&](std::string_view piece) {
        for (std::size_t done = 0; done < piece.size();) {
            DWORD put = 0;
            const DWORD want =
                static_cast<DWORD>(std::min<std::size_t>(kChunk, piece.size() - done));
            if (!WriteFile(file.Get(), piece.data() + done, want, &put, nullptr) || put == 0)
                throw MakeError(GetLastError() ? GetLastError() : ERROR_WRITE_FAULT, path);
            done += put;
        }
    };
    try {
        bytes(writePiece);
    } catch (...) {
        // Nothing half-written stays behind.
        file.Reset();
        DeleteFileW(widePath.c_str());
        throw;
    }
    const std::lock_guard lock(heldLock_);
    held_.insert_or_assign(path, std::move(file));
}

HANDLE Win32Files::HeldHandle(const std::string& path) {
    const std::lock_guard lock(heldLock_);
    const auto held = held_.find(path);
    return held == held_.end() ? nullptr : held->second.Get();
}

namespace {

// Renames the file open as `file` to `to` through that handle: the file that is
// renamed is the one written, not whatever another program could have put at
// its old name in between. False where the file system does not take a rename
// by handle (some network shares); then the caller renames by name.
bool RenameHeld(HANDLE file, const std::string& from, const std::string& to, bool replaceExisting) {
    const std::wstring target = FilePath(to);
    const std::size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes +
                                      sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replaceExisting ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, target.c_str(), nameBytes + sizeof(wchar_t));
    if (SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())))
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED)
        return false;
    throw MakeError(error, from);
}

} // namespace

void Win32Files::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    // A file of ours is renamed through its handle while it is still held, so
    // that no other program can take its name between its closing and its
    // rename: the file renamed is the one written. Where that cannot be, it is
    // let go just before a rename by name (which needs it not held without
    // delete sharing), written through, and checked at its new name afterwards.
    AutoFile file;
    {
        const std::lock_guard lock(heldLock_);
        if (const auto held = held_.find(from); held != held_.end()) {
            file = std::move(held->second);
            held_.erase(held);
        }
    }
    std::optional<FileStamp> ours;
    if (file) {
        if (RenameHeld(file.Get(), from, to, replaceExisting)) {
            Renamed(std::move(file), to);
            return;
        }
        ours = StampOfHandle(file.Get(), from);
        file.Reset();
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(), flags))
        throw LastError(from);
    if (ours && !StampOf(to).SameFile(*ours))
        throw PlatformError(ERROR_ALREADY_EXISTS,
                            "wurde beim Ersetzen von einem anderen Programm vertauscht", to);
}

void Win32Files::Renamed(AutoFile file, const std::string& to) {
    // NTFS and ReFS log every change of a name in order, and a flush of any
    // file writes the log up to its end: the renames of a round become
    // durable together with one flush after the last of them (see
    // SyncDirectories). Other file systems (FAT32, exFAT) keep no such log:
    // there each rename is flushed at once, through the file it named.
    DWORD volume = 0;
    wchar_t system[MAX_PATH + 1] = {};
    const bool logged = GetVolumeInformationByHandleW(file.Get(), nullptr, 0, &volume, nullptr,
                                                      nullptr, system, MAX_PATH + 1) &&
                        (std::wcscmp(system, L"NTFS") == 0 || std::wcscmp(system, L"ReFS") == 0);
    if (!logged) {
        if (!FlushFileBuffers(file.Get()))
            throw LastError(to);
        return;
    }
    // Only the name is kept: the file is let go now, so that nothing holds
    // the script once it has its new text.
    const std::lock_guard lock(renamedLock_);
    renamed_[{std::this_thread::get_id(), volume}].push_back(to);
}
void Win32Files::DeleteFile(const std::string& path) {
    std::unique_lock lock(heldLock_);
    held_.erase(path);
    lock.unlock();
    if (!DeleteFileW(FilePath(path).c_str()))
        throw LastError(path);
}

Leftover Win32Files::RemoveLeftover(const std::string& path) {
    // A running instance holds its temporary file without delete sharing, so
    // only a leftover can be deleted; a folder or link at the name stays.
    const std::wstring wide = FilePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? Leftover::None : Leftover::InUse;
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return Leftover::InUse;
    if (DeleteFileW(wide.c_str()))
        return Leftover::Removed;
    return GetLastError() == ERROR_FILE_NOT_FOUND ? Leftover::None : Leftover::InUse;
}

namespace {

// True when the file open as `file` already has `dacl`, entry for entry, with
// the same protection from inheritance.
bool SameDacl(HANDLE file, PACL dacl, bool isProtected) {
    PACL own = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &own,
                        nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, &LocalFree);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    if (((control & SE_DACL_PROTECTED) != 0) != isProtected || !own || !dacl)
        return false;
    ACL_SIZE_INFORMATION ownSize{}, size{};
    return GetAclInformation(own, &ownSize, sizeof ownSize, AclSizeInformation) &&
           GetAclInformation(dacl, &size, sizeof size, AclSizeInformation) &&
           ownSize.AclBytesInUse == size.AclBytesInUse &&
           std::memcmp(own, dacl, size.AclBytesInUse) == 0;
}

} // namespace

void Win32Files::KeepPermissions(const std::string& original, const std::string& copy) {
    // The attributes were given when the file was created, and its security
    // came from its folder, as for any new file there. A script with ACL
    // entries of its own (or one that inherits nothing) keeps its DACL: given
    // to the new file as it is, the inherited entries recomputed from the folder.
    const HANDLE held = HeldHandle(copy);
    if (!held)
        return;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD got =
        GetNamedSecurityInfoW(FilePath(original).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor);
    if (got != ERROR_SUCCESS)
        throw MakeError(got, original);
    std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, &LocalFree);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const bool isProtected = control & SE_DACL_PROTECTED;
    bool ownEntries = false;
    ACL_SIZE_INFORMATION size{};
    if (dacl && GetAclInformation(dacl, &size, sizeof size, AclSizeInformation)) {
        for (DWORD i = 0; i < size.AceCount && !ownEntries; ++i) {
            ACE_HEADER* ace = nullptr;
            if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
                ownEntries = !(ace->AceFlags & INHERITED_ACE);
        }
    }
    if (!isProtected && !ownEntries)
        return; // all it has comes from the folder, as for the new file
    if (SameDacl(held, dacl, isProtected))
        return; // nothing would change: a drive that keeps no ACLs of its own
                // (Wine on FAT, where setting one fails) is no error
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD set = SetSecurityInfo(held, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    if (set != ERROR_SUCCESS)
        throw MakeError(set, copy);
}

void Win32Files::FlushFiles(const std::vector<std::string>& paths) {
    // The files this program wrote and holds first, then those opened by name
    // (a backup that is the script's own file by a second name): on a file
    // system that logs its changes, their flushes then find the log written
    // and wait for the disk the least.
    std::vector<const std::string*> byName;
    for (const std::string& path : paths) {
        if (const HANDLE held = HeldHandle(path)) {
            if (!FlushFileBuffers(held))
                throw LastError(path);
        } else {
            byName.push_back(&path);
        }
    }
    for (const std::string* path : byName) {
        AutoFile file(CreateFileW(FilePath(*path).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !FlushFileBuffers(file.Get()))
            throw LastError(*path);
    }
}

void Win32Files::LinkFile(const std::string& existing, const std::string& newName) {
    if (!CreateHardLinkW(FilePath(newName).c_str(), FilePath(existing).c_str(), nullptr))
        throw LastError(newName);
}

void Win32Files::SyncDirectories(const std::vector<std::string>&) {
    // Names created or removed need no flush of their own: NTFS logs them in
    // order, before the renames that follow them. The renames this thread
    // made since its last call become durable with one flush on each volume,
    // of the file renamed last there; should that one be gone or locked
    // meanwhile, of the one before it, and so on. Where all of them are gone,
    // nothing of theirs is left to make durable.
    std::vector<std::vector<std::string>> volumes;
    {
        const std::lock_guard lock(renamedLock_);
        const std::thread::id self = std::this_thread::get_id();
        for (auto it = renamed_.begin(); it != renamed_.end();) {
            if (it->first.first == self) {
                volumes.push_back(std::move(it->second));
                it = renamed_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const std::vector<std::string>& names : volumes) {
        std::optional<PlatformError> failed;
        bool flushed = false;
        for (auto name = names.rbegin(); name != names.rend() && !flushed; ++name) {
            AutoFile file(CreateFileW(FilePath(*name).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
            if (!file) {
                const DWORD error = GetLastError();
                if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && !failed)
                    failed = MakeError(error, *name);
                continue;
            }
            if (!FlushFileBuffers(file.Get()))
                throw LastError(*name);
            flushed = true;
        }
        if (!flushed && failed)
            throw *failed;
    }
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
    std::vector<std::string> names;
    for (DirectoryEntry& entry : ListEntries(directory))
        names.push_back(std::move(entry.name));
    return names;
}

std::vector<DirectoryEntry> Win32Files::ListEntries(const std::string& directory) {
    return ListMatching(directory, "*");
}

std::vector<std::string> Win32Files::ListDirectoryStarting(const std::string& directory,
                                                           const std::string& prefix) {
    std::vector<std::string> names;
    for (DirectoryEntry& entry : ListMatching(directory, prefix + "*"))
        names.push_back(std::move(entry.name));
    return names;
}

std::vector<DirectoryEntry> Win32Files::ListMatching(const std::string& directory,
                                                     const std::string& mask) {
    std::string pattern = directory;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
        pattern += '\\';
    pattern += mask;
    WIN32_FIND_DATAW found;
    AutoFind search(FindFirstFileExW(FilePath(pattern).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    std::vector<DirectoryEntry> entries;
    if (!search) {
        // Every folder holds "." for "*"; another mask may match nothing.
        if (mask != "*" && GetLastError() == ERROR_FILE_NOT_FOUND)
            return entries;
        throw LastError(directory);
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        // The find data holds what KindOf and IsHidden would ask for: the
        // attributes, and for a reparse point its tag.
        const DWORD attributes = found.dwFileAttributes;
        entries.push_back({Narrow(name), PathKindOf(attributes, found.dwReserved0),
                           (attributes & FILE_ATTRIBUTE_HIDDEN) != 0});
    } while (FindNextFileW(search.Get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        throw LastError(directory);
    return entries;
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
