#include "platform/PosixFiles.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <langinfo.h>
#include <map>
#include <string_view>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

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

FileStamp StampFrom(const struct stat& info) {
    constexpr std::int64_t kBillion = 1000000000;
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * kBillion + info.st_mtim.tv_nsec,
            static_cast<std::uint32_t>(info.st_nlink)};
}

bool SameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void Fsync(int fd, const std::string& path) {
    while (::fsync(fd) != 0)
        if (errno != EINTR)
            throw PlatformError(WindowsCode(errno), std::strerror(errno), path);
}

} // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Descriptor::~Descriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

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
// one fsync each. `open` gives each path's descriptor: one held already, or one
// it opens into `opened`.
void FlushByFileSystem(const std::vector<std::string>& paths, std::size_t wholeFrom,
                       const std::function<int(const std::string&, Descriptor&)>& open) {
    std::map<dev_t, std::vector<std::pair<int, const std::string*>>> byDevice;
    std::vector<Descriptor> opened(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const int fd = open(paths[i], opened[i]);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0)
            throw LastError(paths[i]);
        byDevice[info.st_dev].push_back({fd, &paths[i]});
    }
    for (const auto& [device, group] : byDevice) {
        // No usable whole-system flush: one flush per file.
        if (group.size() >= wholeFrom && ::syncfs(group.front().first) == 0)
            continue;
        for (const auto& [fd, path] : group)
            Fsync(fd, *path);
    }
}

// Copies every extended attribute of `source` onto `target`, ACL entries
// included; an access ACL the new file inherited from its folder, where the
// original has none, is removed. Names this user may not set (trusted.*, some
// security.*) are left out, but an ACL that cannot be kept fails the call: the
// group bits alone would grant what its mask withholds.
void KeepExtendedAttributes(int source, int target, const std::string& original,
                            const std::string& copy) {
    static constexpr const char* kAcl = "system.posix_acl_access";
    std::string names;
    for (;;) {
        const ssize_t size = ::flistxattr(source, nullptr, 0);
        if (size < 0 && (errno == ENOTSUP || errno == ENOSYS))
            return;
        if (size < 0)
            throw LastError(original);
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = size ? ::flistxattr(source, names.data(), names.size()) : 0;
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE)
            throw LastError(original);
    }
    bool aclKept = false;
    std::string value;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name = names.c_str() + at;
        at += name.size() + 1;
        ssize_t size = ::fgetxattr(source, name.c_str(), nullptr, 0);
        if (size < 0)
            continue; // gone meanwhile, or not ours to read
        value.resize(static_cast<std::size_t>(size));
        size = ::fgetxattr(source, name.c_str(), value.data(), value.size());
        if (size < 0)
            continue;
        const bool acl = name == kAcl;
        if (::fsetxattr(target, name.c_str(), value.data(), static_cast<std::size_t>(size), 0) !=
            0) {
            if (acl)
                throw LastError(copy);
            continue;
        }
        aclKept = aclKept || acl;
    }
    if (!aclKept && ::fremovexattr(target, kAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
        throw LastError(copy);
}

} // namespace

PosixFiles::PosixFiles() {
    rlimit open{};
    if (::getrlimit(RLIMIT_NOFILE, &open) == 0 && open.rlim_cur < open.rlim_max) {
        open.rlim_cur = open.rlim_max == RLIM_INFINITY ? 65536 : open.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &open); // where refused, rounds stay within the old limit
    }
}

bool PosixFiles::FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

FileStamp PosixFiles::ReadStampedPiece(const std::string& path, std::uint64_t offset,
                                       std::size_t most, std::string& bytes) {
    // Never through a link, never waiting for the other end of a pipe: what
    // the folder walk saw may have been swapped since.
    Descriptor file(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file && errno == ELOOP)
        throw PlatformError(WindowsCode(ELOOP), std::strerror(ELOOP), path, ErrorCause::IsALink);
    struct stat info {};
    if (!file || ::fstat(file.Get(), &info) != 0)
        throw LastError(path);
    if (!S_ISREG(info.st_mode))
        throw PlatformError(WindowsCode(EINVAL), "keine gewöhnliche Datei", path,
                            ErrorCause::NotAFile);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const std::size_t want =
        offset >= size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(most, size - offset));
    try {
        if (bytes.capacity() < want) {
            bytes = std::string();
            bytes.reserve(want);
            AskForHugePages(bytes.data(), bytes.capacity());
        }
        bytes.resize(want);
    } catch (const std::bad_alloc&) {
        throw Error(8, path);
    } catch (const std::length_error&) {
        throw Error(8, path);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(file.Get(), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw LastError(path);
        if (got == 0)
            break; // the file shrank while we read it
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return StampFrom(info);
}

FileStamp PosixFiles::StampOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        throw LastError(path);
    return StampFrom(info);
}

std::uint32_t PosixFiles::FileAttributes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw LastError(path);
    // A file its owner may not write counts as read-only for everybody, root
    // included; otherwise the system's own answer for this user: owner, group,
    // ACL entries, a file system mounted read-only.
    if (!(info.st_mode & S_IWUSR))
        return file_attr::ReadOnly;
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS))
        return file_attr::ReadOnly;
    return file_attr::Normal;
}

PosixFiles::HeldFile* PosixFiles::Find(const std::string& path) {
    const std::lock_guard lock(heldLock_);
    const auto found = held_.find(path);
    return found == held_.end() ? nullptr : &found->second;
}

PosixFiles::HeldFile* PosixFiles::Held(const std::string& path) {
    HeldFile* held = Find(path);
    struct stat named {};
    if (held && (::lstat(path.c_str(), &named) != 0 || named.st_dev != held->device ||
                 named.st_ino != held->inode))
        throw ChangedMeanwhile(path);
    return held;
}

void PosixFiles::Hold(const std::string& path, Descriptor file) {
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        throw LastError(path);
    const std::lock_guard lock(heldLock_);
    held_.insert_or_assign(path, HeldFile{std::move(file), info.st_dev, info.st_ino});
}

void PosixFiles::Forget(const std::string& path) {
    const std::lock_guard lock(heldLock_);
    held_.erase(path);
}

namespace {

// Writes all of `bytes` to `fd`; false with errno set when it could not.
bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Writes all the source's bytes to `fd`; throws when it could not.
void WriteAllFrom(int fd, const ByteSource& bytes, const std::string& path) {
    bytes([&](std::string_view piece) {
        if (!WriteAll(fd, piece))
            throw LastError(path);
    });
}

// A file made without a name in the folder of `path`, locked, written and then
// given its name: the name never leads to a file that is not yet complete, or
// not yet locked. An invalid descriptor where the file system cannot do that
// (or /proc is missing); throws for any other failure.
Descriptor NamedWhenWritten(const std::string& path, const ByteSource& bytes, mode_t mode) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    Descriptor file(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!file) {
        if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)
            return Descriptor();
        throw LastError(path);
    }
    ::flock(file.Get(), LOCK_EX);
    WriteAllFrom(file.Get(), bytes, path);
    const std::string self = "/proc/self/fd/" + std::to_string(file.Get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return file;
    if (errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0)
        return Descriptor();
    throw LastError(path); // EEXIST among them: the name is taken
}

} // namespace

void PosixFiles::WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                                  std::uint32_t attributes) {
    // Private until KeepPermissions gives it the permissions of the file it
    // replaces. Neither way of making it follows a link found at the name.
    const mode_t mode = (attributes & file_attr::ReadOnly) ? 0400 : 0600;
    if (Descriptor file = NamedWhenWritten(path, bytes, mode)) {
        Hold(path, std::move(file));
        return;
    }
    // Created under its name, then locked. A sweep for leftovers by another
    // instance that came in between has taken the name: then it counts as
    // taken. Where the file system has no locks, sweeps cannot lock either and
    // remove nothing.
    Descriptor file(::open(path.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode));
    if (!file)
        throw LastError(path);
    struct stat info {};
    if ((::flock(file.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) ||
        (::fstat(file.Get(), &info) == 0 && info.st_nlink == 0))
        throw PlatformError(WindowsCode(EEXIST), std::strerror(EEXIST), path);
    Hold(path, std::move(file));
    try {
        WriteAllFrom(Find(path)->fd.Get(), bytes, path);
    } catch (...) {
        try {
            DeleteFile(path); // nothing half-written stays behind
        } catch (const PlatformError&) {
            // the write's error is the one to report
        }
        throw;
    }
}

void PosixFiles::KeepPermissions(const std::string& original, const std::string& copy) {
    Descriptor own;
    // Everything is set on the descriptor: whatever another program puts at
    // the name meanwhile is never touched, and the replace finds the swap.
    const HeldFile* held = Find(copy);
    int target = held ? held->fd.Get() : -1;
    if (target < 0) {
        own = Descriptor(::open(copy.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
        if (!own)
            throw LastError(copy);
        target = own.Get();
    }
    Descriptor source(
        ::open(original.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {
    }, made{};
    if (!source || ::fstat(source.Get(), &info) != 0)
        throw LastError(original);
    if (::fstat(target, &made) != 0)
        throw LastError(copy);
    // Only what differs is set: FAT (fusefat, vfat) implements no chown or
    // chmod at all, exFAT and NTFS-3G show every file with the mount's owner
    // and mode, and there the new file already has what the original has.
    // An owner or group that cannot be given (another user's file, a group
    // this user is not in) would change silently: refused instead, before the
    // script is touched.
    if (made.st_uid != info.st_uid || made.st_gid != info.st_gid) {
        const uid_t owner = made.st_uid != info.st_uid ? info.st_uid : static_cast<uid_t>(-1);
        const gid_t group = made.st_gid != info.st_gid ? info.st_gid : static_cast<gid_t>(-1);
        if (::fchown(target, owner, group) != 0) {
            if (errno == EPERM)
                throw ForeignOwner(original);
            throw LastError(copy);
        }
        if (::fstat(target, &made) != 0) // a change of owner clears the set-id bits
            throw LastError(copy);
    }
    KeepExtendedAttributes(source.Get(), target, original, copy);
    // The mode last: with ACL entries the group bits are the ACL's mask, now
    // the original's again.
    const mode_t mode = info.st_mode & 07777;
    if ((made.st_mode & 07777) != mode && ::fchmod(target, mode) != 0)
        throw LastError(copy);
}

PlatformError PosixFiles::NotWritable(const std::string& path) {
    // A read-only mount says so, not "permission denied", which would send the
    // user to the file's permissions.
    struct statvfs volume {};
    if (::statvfs(path.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return PlatformError(WindowsCode(EROFS), std::strerror(EROFS), path,
                             ErrorCause::ReadOnlyFileSystem);
    return Error(win_error::AccessDenied, path);
}

namespace {

// File systems whose files show the mount's owner and group, whoever made
// them (FAT, exFAT, NTFS, network shares, FUSE): there a new file has what
// the script has, and no owner needs keeping.
bool OwnersFromTheMount(const std::string& path) {
    struct statfs volume {};
    if (::statfs(path.c_str(), &volume) != 0)
        return true; // nothing can be told
    switch (static_cast<unsigned long>(volume.f_type)) {
    case 0x4d44UL:     // MSDOS_SUPER_MAGIC: vfat, msdos
    case 0x2011BAB0UL: // exFAT
    case 0x7366746eUL: // ntfs3
    case 0x5346544eUL: // NTFS_SB_MAGIC
    case 0x65735546UL: // FUSE: fusefat, exfat-fuse, ntfs-3g, sshfs ...
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x517BUL:     // SMB
        return true;
    default:
        return false;
    }
}

bool InGroup(gid_t group) {
    if (group == ::getegid())
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(got, 0), group) !=
           groups.begin() + std::max(got, 0);
}

} // namespace

std::optional<PlatformError> PosixFiles::ReplaceRefusal(const std::string& path) {
    struct stat script {
    }, folder{};
    const std::string directory = [&] {
        const std::size_t slash = path.find_last_of('/');
        return slash == std::string::npos ? std::string(".")
               : slash == 0               ? std::string("/")
                                          : path.substr(0, slash);
    }();
    if (::lstat(path.c_str(), &script) != 0 || ::stat(directory.c_str(), &folder) != 0)
        return std::nullopt; // the save meets whatever this is itself
    // The temporary file and the backup are made in the script's folder.
    if (::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM))
        return PlatformError(WindowsCode(EACCES), std::strerror(EACCES), path,
                             ErrorCause::FolderNotWritable);
    // The new file's owner is this user, its group this user's or, in a
    // set-group-ID folder, the folder's. KeepPermissions gives it the
    // script's where they differ; without the right to (root has it) the
    // script is another user's.
    if (::geteuid() == 0 || OwnersFromTheMount(path))
        return std::nullopt;
    const gid_t newGroup = (folder.st_mode & S_ISGID) ? folder.st_gid : ::getegid();
    if (script.st_uid != ::geteuid() || (script.st_gid != newGroup && !InGroup(script.st_gid)))
        return ForeignOwner(path);
    return std::nullopt;
}

Leftover PosixFiles::RemoveLeftover(const std::string& path) {
    Descriptor file(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file)
        return errno == ENOENT ? Leftover::None : Leftover::InUse;
    // A running instance holds the lock on its temporary file for as long as
    // it lives; only a regular file nobody holds, still at its name, goes.
    struct stat opened {
    }, named{};
    if (::fstat(file.Get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        ::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        return Leftover::InUse;
    if (::lstat(path.c_str(), &named) != 0)
        return Leftover::None;
    if (!SameInode(opened, named) || ::unlink(path.c_str()) != 0)
        return Leftover::InUse;
    return Leftover::Removed;
}

void PosixFiles::FlushFiles(const std::vector<std::string>& paths) {
    FlushByFileSystem(
        paths, kWholeFileSystemFlush, [this](const std::string& path, Descriptor& own) {
            if (const HeldFile* held = Find(path))
                return held->fd.Get();
            own = Descriptor(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
            return own.Get();
        });
}

void PosixFiles::LinkFile(const std::string& existing, const std::string& newName) {
    // link() takes a symbolic link found at `existing` as it is, never its target.
    if (::link(existing.c_str(), newName.c_str()) != 0)
        throw LastError(newName);
}

void PosixFiles::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    // A file of ours is checked at its new name afterwards: another user who
    // can write the folder may swap names, and then what we wrote has not
    // arrived.
    HeldFile* ours = Find(from);
    const std::uint64_t device = ours ? ours->device : 0, inode = ours ? ours->inode : 0;
    auto arrived = [&] {
        struct stat found {};
        return ::lstat(to.c_str(), &found) == 0 && found.st_dev == device && found.st_ino == inode;
    };
    if (ours && replaceExisting) {
        // The two names change places in one step, so that what came to `to`
        // can still be sent back: a file swapped in at `from` never stays in
        // the script's place.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
            Forget(from);
            if (!arrived()) {
                ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE);
                throw ChangedMeanwhile(to);
            }
            // `from` now names the replaced file.
            if (::unlink(from.c_str()) != 0)
                throw LastError(to);
            return;
        }
        // No exchange on this file system, or nothing at `to` yet: a plain
        // rename, while the name still leads to our file.
        if (errno != EINVAL && errno != ENOSYS && errno != ENOENT)
            throw LastError(from);
    }
    if (ours)
        Held(from);
    if (replaceExisting) {
        if (::rename(from.c_str(), to.c_str()) != 0)
            throw LastError(from);
    } else if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS)
            throw LastError(from);
        // A file system that cannot rename without replacing: a second name,
        // which fails when the target exists, then the first name removed.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) != 0)
                throw LastError(from);
        } else if (errno == EPERM || errno == ENOTSUP || errno == EMLINK || errno == ENOSYS) {
            // No links either (FAT, exFAT, SMB): the name is claimed by an
            // empty file of ours, made only where nothing is, then replaced.
            ReplaceClaimedName(from, to);
        } else {
            throw LastError(from);
        }
    }
    if (!ours)
        return;
    Forget(from);
    if (!arrived())
        throw PlatformError(WindowsCode(EEXIST),
                            "wurde beim Ersetzen von einem anderen Programm vertauscht", to);
}

void PosixFiles::ReplaceClaimedName(const std::string& from, const std::string& to) {
    Descriptor claim(
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat claimed {};
    if (!claim || ::fstat(claim.Get(), &claimed) != 0)
        throw LastError(to); // EEXIST among them: the name is taken
    // Replaced only while the name still leads to the empty claim: what
    // another program put there meanwhile stays.
    int error = EEXIST;
    struct stat named {};
    if (::lstat(to.c_str(), &named) == 0 && SameInode(named, claimed) && named.st_size == 0) {
        if (::rename(from.c_str(), to.c_str()) == 0)
            return;
        error = errno;
        if (::lstat(to.c_str(), &named) == 0 && SameInode(named, claimed))
            ::unlink(to.c_str());
    }
    throw PlatformError(WindowsCode(error), std::strerror(error), to);
}

void PosixFiles::DeleteFile(const std::string& path) {
    if (Find(path)) {
        try {
            Held(path);
        } catch (const PlatformError& e) {
            if (e.Cause() != ErrorCause::ChangedMeanwhile)
                throw;
            // Another program put something else at the name, which took our
            // file's last name: ours is gone, theirs is not ours to remove.
            Forget(path);
            return;
        }
        if (::unlink(path.c_str()) != 0)
            throw LastError(path);
        Forget(path);
        return;
    }
    if (::unlink(path.c_str()) != 0)
        throw LastError(path);
}

void PosixFiles::SyncDirectories(const std::vector<std::string>& directories) {
    FlushByFileSystem(
        directories, kWholeFileSystemDirectories, [](const std::string& path, Descriptor& own) {
            own = Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            return own.Get();
        });
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
    std::vector<std::string> names;
    for (DirectoryEntry& entry : ListEntries(directory))
        names.push_back(std::move(entry.name));
    return names;
}

std::vector<DirectoryEntry> PosixFiles::ListEntries(const std::string& directory) {
    Directory dir(::opendir(directory.c_str()));
    if (!dir.Get())
        throw LastError(directory);
    std::vector<DirectoryEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.Get());
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        // POSIX knows no hidden mark beyond the leading dot.
        DirectoryEntry found{name, std::nullopt, false};
        switch (entry->d_type) {
        case DT_REG:
            found.kind = PathKind::File;
            break;
        case DT_DIR:
            found.kind = PathKind::Directory;
            break;
        case DT_LNK:
            found.kind = PathKind::Link;
            break;
        case DT_UNKNOWN: // some file systems do not say: asked by the walk
            break;
        default:
            found.kind = PathKind::Other;
        }
        entries.push_back(std::move(found));
    }
    if (errno != 0)
        throw LastError(directory);
    return entries;
}

} // namespace velmo
