#include "platform/PosixFiles.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <map>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo {
namespace {

constexpr std::uint32_t kPosixBit = 0x20000000u; // the customer bit: not a Windows number
// From this many files on one file system, one flush of the whole file system
// is cheaper than one per file.
constexpr std::size_t kWholeFileSystemFlush = 8;
// The same for directories, sooner: a directory has little to write, and each
// fsync of one still waits for a flush of the disk's write cache of its own
// (about 4 ms on the machine measured), where one syncfs waits for one.
constexpr std::size_t kWholeFileSystemDirectories = 3;

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

  private:
    int fd_;
};

class Directory {
  public:
    explicit Directory(DIR* dir) noexcept : dir_(dir) {}
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory() {
        if (dir_)
            ::closedir(dir_);
    }
    DIR* Get() const noexcept { return dir_; }

  private:
    DIR* dir_;
};

int PosixNumber(std::uint32_t code) {
    switch (code) {
    case 2:
        return ENOENT;
    case 3:
        return ENOTDIR;
    case 5:
        return EACCES;
    case 8:
        return ENOMEM;
    case 17:
        return EXDEV;
    case 32:
        return EBUSY;
    case 80:
    case 183:
        return EEXIST;
    case 112:
        return ENOSPC;
    case 206:
        return ENAMETOOLONG;
    default:
        return (code & kPosixBit) ? static_cast<int>(code & 0xFFFFu) : 0;
    }
}

void Fsync(int fd, const std::string& path) {
    while (::fsync(fd) != 0)
        if (errno != EINTR)
            throw PlatformError(WindowsCode(errno), std::strerror(errno), path);
}

} // namespace

std::uint32_t WindowsCode(int error) {
    switch (error) {
    case ENOENT:
        return 2; // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
        return 5; // ERROR_ACCESS_DENIED
    case ENOMEM:
        return 8; // ERROR_NOT_ENOUGH_MEMORY
    case EXDEV:
        return 17; // ERROR_NOT_SAME_DEVICE
    case EBUSY:
    case ETXTBSY:
        return 32; // ERROR_SHARING_VIOLATION
    case EEXIST:
        return 183; // ERROR_ALREADY_EXISTS
    case ENOSPC:
        return 112; // ERROR_DISK_FULL
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    default:
        return kPosixBit | static_cast<std::uint32_t>(error);
    }
}

PlatformError PosixFiles::Error(std::uint32_t code, const std::string& subject) {
    const int posix = PosixNumber(code);
    return PlatformError(code, posix ? std::strerror(posix) : "Fehler " + std::to_string(code),
                         subject);
}

namespace {
PlatformError LastError(const std::string& subject) {
    const int error = errno;
    const ErrorCause cause = error == ENOSPC    ? ErrorCause::DiskFull
                             : error == ENOTDIR ? ErrorCause::NotAFolder
                                                : ErrorCause::Unknown;
    return PlatformError(WindowsCode(error), std::strerror(error), subject, cause);
}

// A large buffer not yet touched: backed by huge pages where the system allows,
// so that its first touch costs one page fault per 2 MiB instead of per 4 KiB.
void AskForHugePages(char* data, std::size_t size) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (size < 2 * kHuge)
        return;
    const std::uintptr_t begin =
        (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Makes the files or directories at `paths` durable. Those of one file system
// that number at least `wholeFrom` are flushed together with one syncfs, which
// also writes out their directory entries; the rest, or all where syncfs fails,
// one fsync each, opened with `openFlags`.
void FlushByFileSystem(const std::vector<std::string>& paths, std::size_t wholeFrom,
                       int openFlags) {
    std::map<dev_t, std::vector<const std::string*>> byDevice;
    for (const std::string& path : paths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            throw LastError(path);
        byDevice[info.st_dev].push_back(&path);
    }
    for (const auto& [device, group] : byDevice) {
        if (group.size() >= wholeFrom) {
            Descriptor file(::open(group.front()->c_str(), openFlags));
            if (!file)
                throw LastError(*group.front());
            if (::syncfs(file.Get()) == 0)
                continue;
            // No usable whole-system flush: fall back to one flush per file.
        }
        for (const std::string* path : group) {
            Descriptor file(::open(path->c_str(), openFlags));
            if (!file)
                throw LastError(*path);
            Fsync(file.Get(), *path);
        }
    }
}
} // namespace

bool PosixFiles::FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string PosixFiles::ReadWholeFile(const std::string& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!file || ::fstat(file.Get(), &info) != 0)
        throw LastError(path);
    if (S_ISDIR(info.st_mode))
        throw PlatformError(WindowsCode(EISDIR), std::strerror(EISDIR), path);
    std::string bytes;
    try {
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        AskForHugePages(bytes.data(), bytes.capacity());
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        throw Error(8, path);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw LastError(path);
        if (got == 0)
            break; // the file shrank while we read it
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::uint32_t PosixFiles::FileAttributes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw LastError(path);
    // A file its owner may not write counts as read-only for everybody, root included.
    return (info.st_mode & S_IWUSR) ? file_attr::Normal : file_attr::ReadOnly;
}

void PosixFiles::WriteNewFile(const std::string& path, const std::string& bytes,
                              std::uint32_t attributes) {
    // Private until KeepPermissions gives it the permissions of the file it replaces.
    const mode_t mode = (attributes & file_attr::ReadOnly) ? 0400 : 0600;
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode));
    if (!file)
        throw LastError(path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(file.Get(), bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            const int error = put < 0 ? errno : ENOSPC;
            ::unlink(path.c_str());
            errno = error;
            throw LastError(path);
        }
        done += static_cast<std::size_t>(put);
    }
}

void PosixFiles::KeepPermissions(const std::string& original, const std::string& copy) {
    struct stat info {};
    if (::stat(original.c_str(), &info) != 0)
        throw LastError(original);
    // The owner and group as far as this user may give them: root keeps both,
    // others keep at least a group they belong to. The mode comes last, as a
    // change of owner clears the set-id bits.
    if (::chown(copy.c_str(), info.st_uid, info.st_gid) != 0) {
        if (errno != EPERM)
            throw LastError(copy);
        if (::chown(copy.c_str(), static_cast<uid_t>(-1), info.st_gid) != 0 && errno != EPERM)
            throw LastError(copy);
    }
    if (::chmod(copy.c_str(), info.st_mode & 07777) != 0)
        throw LastError(copy);
}

void PosixFiles::FlushFiles(const std::vector<std::string>& paths) {
    FlushByFileSystem(paths, kWholeFileSystemFlush, O_RDONLY | O_CLOEXEC);
}

void PosixFiles::LinkFile(const std::string& existing, const std::string& newName) {
    if (::link(existing.c_str(), newName.c_str()) != 0)
        throw LastError(newName);
}

void PosixFiles::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    if (replaceExisting) {
        if (::rename(from.c_str(), to.c_str()) != 0)
            throw LastError(from);
        return;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS)
        throw LastError(from);
    // A file system that cannot rename without replacing: a second name, which
    // fails when the target exists, then the first name removed.
    if (::link(from.c_str(), to.c_str()) != 0)
        throw LastError(from);
    if (::unlink(from.c_str()) != 0)
        throw LastError(from);
}

void PosixFiles::DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0)
        throw LastError(path);
}

void PosixFiles::SyncDirectories(const std::vector<std::string>& directories) {
    FlushByFileSystem(directories, kWholeFileSystemDirectories, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

DateTimeTexts PosixFiles::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!::localtime_r(&now, &local))
        throw LastError("");
    // The regional settings' own short date and time, as LC_TIME sets them.
    // The C and POSIX locales (CI, containers, cron, hooks run by GUIs) name no
    // order of their own; their month-first, two-digit year would make backup
    // names ambiguous, so they get the window's German form: day, month, year.
    const char* locale = std::setlocale(LC_TIME, nullptr);
    const std::string_view name = locale ? locale : "C";
    const bool plain = name == "C" || name == "POSIX" || name.starts_with("C.");
    char date[128] = {};
    char time[128] = {};
    std::strftime(date, sizeof date, plain ? "%d.%m.%Y" : ::nl_langinfo(D_FMT), &local);
    std::strftime(time, sizeof time, plain ? "%H:%M:%S" : ::nl_langinfo(T_FMT), &local);
    return {date, time};
}

PathKind PosixFiles::KindOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        // "datei.lua/" is there, but no folder: ENOTDIR, reported as such.
        if (errno == ENOENT)
            return PathKind::Missing;
        throw LastError(path);
    }
    if (S_ISLNK(info.st_mode))
        return PathKind::Link;
    if (S_ISDIR(info.st_mode))
        return PathKind::Directory;
    if (S_ISREG(info.st_mode))
        return PathKind::File;
    return PathKind::Other;
}

std::vector<std::string> PosixFiles::ListDirectory(const std::string& directory) {
    Directory dir(::opendir(directory.c_str()));
    if (!dir.Get())
        throw LastError(directory);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.Get());
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    if (errno != 0)
        throw LastError(directory);
    return names;
}

} // namespace velmo
