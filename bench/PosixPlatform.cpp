#include "bench/PosixPlatform.h"

#include "platform/Cp1252.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmo::bench {
namespace {

// The Windows error number closest to the POSIX one, so that the portable
// code's reactions (an existing temporary name, say) work as on Windows.
std::uint32_t WindowsCode(int error) {
    switch (error) {
    case ENOENT:
        return win_error::FileNotFound;
    case EEXIST:
        return win_error::FileExists;
    case EACCES:
    case EPERM:
    case EROFS:
        return win_error::AccessDenied;
    default:
        return 0x20000000u | static_cast<std::uint32_t>(error); // customer bit: not Windows'
    }
}

// Closes the descriptor when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

PlatformError PosixPlatform::Error(std::uint32_t code, const std::string& subject) {
    const int posix = (code & 0x20000000u) ? static_cast<int>(code & 0xFFFFu) : 0;
    return PlatformError(
        code, posix ? std::strerror(posix) : "Windows error " + std::to_string(code), subject);
}

bool PosixPlatform::FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string PosixPlatform::ReadWholeFile(const std::string& path) {
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0)
        throw Error(WindowsCode(errno), path);
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Error(WindowsCode(errno), path);
        if (got == 0)
            break; // the file shrank meanwhile
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::uint32_t PosixPlatform::FileAttributes(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw Error(WindowsCode(errno), path);
    return (info.st_mode & S_IWUSR) ? file_attr::Normal : file_attr::ReadOnly;
}

void PosixPlatform::WriteNewFile(const std::string& path, const std::string& bytes,
                                 std::uint32_t attributes) {
    const mode_t mode = (attributes & file_attr::ReadOnly) ? 0444 : 0644;
    Descriptor file{::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)};
    if (file.fd < 0)
        throw Error(WindowsCode(errno), path);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(file.fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0) {
            const int error = errno;
            ::unlink(path.c_str());
            throw Error(WindowsCode(error), path);
        }
        done += static_cast<std::size_t>(put);
    }
    if (::fsync(file.fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throw Error(WindowsCode(error), path);
    }
}

void PosixPlatform::MoveFile(const std::string& from, const std::string& to, bool replaceExisting) {
    if (!replaceExisting) {
        // A hard link fails when the target exists: a rename that never replaces.
        if (::link(from.c_str(), to.c_str()) != 0)
            throw Error(WindowsCode(errno), from);
        ::unlink(from.c_str());
        return;
    }
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw Error(WindowsCode(errno), from);
}

void PosixPlatform::DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0)
        throw Error(WindowsCode(errno), path);
}

void PosixPlatform::StartProcess(const std::string& program, const std::string&, const std::string&,
                                 int) {
    throw Error(win_error::AccessDenied, program);
}
void PosixPlatform::End() {}
void PosixPlatform::ShowOpen(CommonDialog& dialog) {
    dialog.FileName = dialogAnswer;
}
int PosixPlatform::MsgBox(const std::string& text, int style, const std::string&) {
    messages.push_back(text);
    return style == mb::YesNoCritical ? mb::AnswerYes : mb::AnswerOk;
}
std::int32_t PosixPlatform::RegOpenKeyExA(RegKey, const std::string&, std::uint32_t, std::uint32_t,
                                          RegKey&) {
    return static_cast<std::int32_t>(win_error::FileNotFound);
}
std::int32_t PosixPlatform::RegQueryValueExA(RegKey, const std::string&, std::uint32_t&,
                                             unsigned char*, std::uint32_t&) {
    return static_cast<std::int32_t>(win_error::FileNotFound);
}
std::int32_t PosixPlatform::RegCloseKey(RegKey) {
    return 0;
}
std::string PosixPlatform::FromAnsi(const std::string& bytes) {
    return Cp1252ToUtf8(bytes);
}

DateTimeTexts PosixPlatform::Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[32], time[32];
    std::strftime(date, sizeof date, "%d.%m.%Y", &local);
    std::strftime(time, sizeof time, "%H:%M:%S", &local);
    return {date, time};
}

} // namespace velmo::bench
