// The file and clock services that loading, converting and saving scripts
// need: all the launcher's save and the command-line companion use. Portable:
// Windows, POSIX and test implementations sit behind it. Paths are UTF-8; file
// contents are raw bytes in std::string.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmo {

// Windows error numbers the portable code names itself.
namespace win_error {
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t AccessDenied = 5;
inline constexpr std::uint32_t NotEnoughMemory = 8;
inline constexpr std::uint32_t SharingViolation = 32;
inline constexpr std::uint32_t FileExists = 80;
inline constexpr std::uint32_t FilenameTooLong = 206;
inline constexpr std::uint32_t AlreadyExists = 183;
inline constexpr std::uint32_t MoreData = 234;
} // namespace win_error

// What is known of an error's cause beyond its number, where the number alone
// would mislead: access denied while making a backup or temporary file means
// the folder is not writable, a name too long there is that file's name.
enum class ErrorCause { Unknown, FolderNotWritable, NameTooLong, NotAFolder, DiskFull };

// A failed platform operation: the Windows error number, the system's text for
// it and, where one is known, the path it concerned and its cause. Event
// procedures never catch it; the top-level handler around event dispatch
// reports it.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::uint32_t code, std::string text, std::string subject = {},
                  ErrorCause cause = ErrorCause::Unknown)
        : std::runtime_error(text), code_(code), text_(std::move(text)),
          subject_(std::move(subject)), cause_(cause) {}
    std::uint32_t Code() const noexcept { return code_; }
    const std::string& Text() const noexcept { return text_; }
    const std::string& Subject() const noexcept { return subject_; }
    ErrorCause Cause() const noexcept { return cause_; }
    // The same error told of `subject`, the path the user knows, with its cause.
    PlatformError About(std::string subject, ErrorCause cause) const {
        return PlatformError(code_, text_, std::move(subject), cause);
    }

  private:
    std::uint32_t code_;
    std::string text_;
    std::string subject_;
    ErrorCause cause_;
};

// File attribute bits as Windows defines them.
namespace file_attr {
inline constexpr std::uint32_t ReadOnly = 0x1;
inline constexpr std::uint32_t Normal = 0x80;
} // namespace file_attr

struct DateTimeTexts {
    std::string date; // the user's short date format
    std::string time; // the user's long time format
};

class FileServices {
  public:
    virtual ~FileServices() = default;

    // ---- reading (paths are full or relative to the working directory)
    // True when a file (not a directory) exists at the path; never throws.
    virtual bool FileExists(const std::string& path) = 0;
    // The file's whole content, byte for byte.
    virtual std::string ReadWholeFile(const std::string& path) = 0;
    // The file's attribute bits. On POSIX: ReadOnly when its owner may not write it.
    virtual std::uint32_t FileAttributes(const std::string& path) = 0;

    // ---- writing. Nothing written is durable until flushed: FlushFiles makes
    // file contents durable; names (new files, links, renames, removals) become
    // durable through SyncDirectories, or on Windows with the next rename, which
    // is written through.
    //
    // Creates a file that must not exist yet, writes all bytes and gives it the
    // attributes. On failure nothing is left behind.
    virtual void WriteNewFile(const std::string& path, const std::string& bytes,
                              std::uint32_t attributes) = 0;
    // Gives a file just written the owner and permissions of `original`, where
    // the system keeps them apart from the attributes (POSIX); as far as the
    // user running the program may.
    virtual void KeepPermissions(const std::string& original, const std::string& copy) = 0;
    // Makes the contents of these files durable.
    virtual void FlushFiles(const std::vector<std::string>& paths) = 0;
    // A second name for an existing file (a hard link): the same bytes at no
    // cost. Fails where the file system has no links, or when the name exists.
    virtual void LinkFile(const std::string& existing, const std::string& newName) = 0;
    // Renames a file. Without replaceExisting it fails when the target exists;
    // with it, the target is replaced in one step.
    virtual void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) = 0;
    virtual void DeleteFile(const std::string& path) = 0;
    // Makes the names created, renamed or removed in these directories durable.
    virtual void SyncDirectories(const std::vector<std::string>& directories) = 0;

    // ---- time
    // Today's date and the time of day, both from the same moment, as the
    // user's regional settings write a short date and a long time.
    virtual DateTimeTexts Now() = 0;

    // The error a file operation would raise for `code`, with the system's
    // text; for conditions the portable code detects itself.
    virtual PlatformError Error(std::uint32_t code, const std::string& subject) = 0;
};

// What is found at a path, without following a symbolic link.
enum class PathKind { Missing, File, Directory, Link, Other };

// Walking folders, for the command-line companion.
class DirectoryServices {
  public:
    virtual ~DirectoryServices() = default;
    // The kind of thing at the path; a symbolic link (or junction) is a Link,
    // whatever it points to.
    virtual PathKind KindOf(const std::string& path) = 0;
    // The names in a directory ("." and ".." left out), in no particular order.
    virtual std::vector<std::string> ListDirectory(const std::string& directory) = 0;
    // The separator this system puts between a directory and a name.
    virtual char Separator() const = 0;
    // True when the system marks the entry hidden beyond a name that begins with
    // a dot (Windows' hidden attribute: $RECYCLE.BIN, System Volume Information).
    virtual bool IsHidden(const std::string&) { return false; }
    // The spelling under which two paths name the same entry compare equal
    // (Windows: letter case and either slash).
    virtual std::string Canonical(const std::string& path) const { return path; }
};

} // namespace velmo
