// The file and clock services that loading, converting and saving scripts
// need: all the launcher's save and the command-line companion use. Portable:
// Windows, POSIX and test implementations sit behind it. Paths are UTF-8; file
// contents are raw bytes in std::string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
// A script found, when it is opened, to be a link or no regular file is
// skipped as the folder walk skips it; one written by another program while it
// was converted keeps what that program wrote. A script whose owner or group a
// new file could not keep is left as it is; so is one on a file system
// mounted read-only.
enum class ErrorCause {
    Unknown,
    FolderNotWritable,
    NameTooLong,
    NotAFolder,
    DiskFull,
    IsALink,
    NotAFile,
    ChangedMeanwhile,
    ForeignOwner,
    ReadOnlyFileSystem
};

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

// The error of a script another program wrote, replaced or removed while it was
// being converted: it keeps what that program left.
inline PlatformError ChangedMeanwhile(const std::string& subject) {
    return PlatformError(win_error::SharingViolation,
                         "wurde während des Umwandelns von einem anderen Programm geändert und "
                         "bleibt, wie es ist",
                         subject, ErrorCause::ChangedMeanwhile);
}

// The error of a script that belongs to another user or to a group the running
// user is not in: its new text would be a file of the running user's, so it is
// not converted.
inline PlatformError ForeignOwner(const std::string& subject) {
    return PlatformError(
        win_error::AccessDenied,
        "gehört einem anderen Benutzer oder einer Gruppe, der Sie nicht angehören; "
        "umgewandelt bekäme es einen anderen Eigentümer und bleibt daher, wie es "
        "ist",
        subject, ErrorCause::ForeignOwner);
}

// File attribute bits as Windows defines them.
namespace file_attr {
inline constexpr std::uint32_t ReadOnly = 0x1;
inline constexpr std::uint32_t Normal = 0x80;
} // namespace file_attr

// What identifies a file and the state of its contents at one moment: which
// file it is (volume and file number), its size and its modification time at
// the full precision the system keeps. Two stamps of one name with the same
// contents mean nobody replaced or wrote the file in between. (Not the change
// time: it also moves when a name is added or removed, as each backup by a
// second name does, also that of another run converting the same folder.)
struct FileStamp {
    std::uint64_t device = 0; // Windows: the volume's serial number
    std::uint64_t file = 0;   // inode; Windows: the file ID
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds on POSIX, 100 ns on Windows
    std::uint32_t links = 1;   // how many names the file has
    bool SameFile(const FileStamp& other) const {
        return device == other.device && file == other.file;
    }
    bool SameContents(const FileStamp& other) const {
        return SameFile(other) && size == other.size && modified == other.modified;
    }
};

struct StampedBytes {
    std::string bytes;
    FileStamp stamp; // taken before the first byte was read
};

// The bytes of a file being written, given piece by piece: a source calls the
// sink with each piece in order. It may be called again for a second try and
// then gives the same bytes; an exception it throws ends the write, and
// nothing of it is left.
using ByteSink = std::function<void(std::string_view)>;
using ByteSource = std::function<void(const ByteSink&)>;

// A source giving `bytes` in one piece; `bytes` must outlive it.
inline ByteSource SourceOf(const std::string& bytes) {
    return [&bytes](const ByteSink& sink) { sink(bytes); };
}

// What RemoveLeftover found at a temporary file's name.
enum class Leftover {
    None,    // nothing: the name is free
    Removed, // a leftover of a run that ended without cleaning up, now gone
    InUse    // a temporary file another running program is still writing, or
             // something that is not a temporary file at all: left alone
};

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
    // Up to `most` bytes of the file from `offset` on (fewer only at its end),
    // byte for byte, into `bytes` (whose room is reused), and the file's stamp
    // when they were read, so that a file read in pieces can be checked to be
    // one file throughout. Opens without following a symbolic link and without
    // waiting on a pipe or device: a link fails with ErrorCause::IsALink,
    // anything but a regular file with NotAFile.
    virtual FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset,
                                       std::size_t most, std::string& bytes) = 0;
    // The file's whole content, in one read, and its stamp.
    StampedBytes ReadStampedFile(const std::string& path) {
        StampedBytes read;
        read.stamp = ReadStampedPiece(path, 0, std::numeric_limits<std::size_t>::max(), read.bytes);
        return read;
    }
    std::string ReadWholeFile(const std::string& path) { return ReadStampedFile(path).bytes; }
    // The stamp of what is at the path now, without following a link.
    virtual FileStamp StampOf(const std::string& path) = 0;
    // The file's attribute bits, with ReadOnly also where the user running the
    // program may not write it (POSIX: its owner may not, or the system says no
    // to this user; Windows: the file's access check).
    virtual std::uint32_t FileAttributes(const std::string& path) = 0;

    // ---- writing. Nothing written is durable until flushed: FlushFiles makes
    // file contents durable; names (new files, links, renames, removals) become
    // durable through SyncDirectories. (On Windows, where the file system logs
    // its changes of names in order, one flush after the renames of a round
    // makes them and every name made before them durable together.)
    //
    // Creates a file that must not exist yet (never through a link found at the
    // name), writes all the source's bytes and gives it the attributes. On
    // failure (the source's own included) nothing is left behind. The file stays open, and so
    // recognisably in use (see RemoveLeftover), until it is moved, deleted or the program ends;
    // every later call on it works on what was created, and fails where another program has put
    // something else at its name meanwhile.
    virtual void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                                  std::uint32_t attributes) = 0;
    void WriteNewFile(const std::string& path, const std::string& bytes, std::uint32_t attributes) {
        WriteNewFileFrom(path, SourceOf(bytes), attributes);
    }
    // Gives a file just written the owner, permissions and extended attributes
    // (ACL entries included) of `original`; it never gains a permission
    // `original` does not grant. Each is set only where it differs, so that a
    // file system that keeps none of them (FAT) is no error while nothing
    // would change. An owner or group the running user may not give fails
    // with ErrorCause::ForeignOwner.
    virtual void KeepPermissions(const std::string& original, const std::string& copy) = 0;
    // The error for a script that may not be written: read-only, not writable
    // for this user, or on a file system mounted read-only.
    virtual PlatformError NotWritable(const std::string& path) {
        return Error(win_error::AccessDenied, path);
    }
    // What would stop a new file replacing the existing file at `path`
    // beyond its attributes (FileAttributes), where the system can tell it
    // without changing anything: the owner or group the new file could not
    // be given (POSIX: another user's file, a group this user is not in), a
    // folder this user may not add files to, a file another program holds so
    // that it cannot be replaced (Windows). The error the save would otherwise
    // meet on the way; nothing where nothing stops it or nothing can be told.
    // Never throws.
    virtual std::optional<PlatformError> ReplaceRefusal(const std::string& /*path*/) {
        return std::nullopt;
    }
    // Removes the temporary file at `path` if it is a leftover: a regular file
    // no running program holds open as its own temporary. Never throws: what
    // cannot be removed counts as in use.
    virtual Leftover RemoveLeftover(const std::string& path) = 0;
    // Makes the contents of these files durable.
    virtual void FlushFiles(const std::vector<std::string>& paths) = 0;
    // A second name for an existing file (a hard link): the same bytes at no
    // cost. Fails where the file system has no links, or when the name exists.
    virtual void LinkFile(const std::string& existing, const std::string& newName) = 0;
    // Renames a file. Without replaceExisting it fails when the target exists
    // (also where the file system can neither rename without replacing nor
    // link); with it, the target is replaced in one step.
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

// One name in a folder listing, with what the listing itself tells of it.
struct DirectoryEntry {
    std::string name;
    std::optional<PathKind> kind; // none where the listing does not say
    std::optional<bool> hidden;   // the same
};

// Walking folders, for the command-line companion.
class DirectoryServices {
  public:
    virtual ~DirectoryServices() = default;
    // The entries of a directory ("." and ".." left out), in no particular
    // order, each with its kind and hidden mark where the listing gives them
    // at no extra cost (POSIX d_type, Windows' find data), so that the walk
    // need not ask again for each.
    virtual std::vector<DirectoryEntry> ListEntries(const std::string& directory) {
        std::vector<DirectoryEntry> entries;
        for (std::string& name : ListDirectory(directory))
            entries.push_back({std::move(name), std::nullopt, std::nullopt});
        return entries;
    }
    // The kind of thing at the path; a symbolic link (or junction) is a Link,
    // whatever it points to.
    virtual PathKind KindOf(const std::string& path) = 0;
    // The names in a directory ("." and ".." left out), in no particular order.
    virtual std::vector<std::string> ListDirectory(const std::string& directory) = 0;
    // The names in a directory that begin with `prefix` (which holds no
    // wildcard character); where the system compares names without letter
    // case, also some that begin so in another case. A system that finds
    // names by their start (Windows) does so without going through the
    // whole folder.
    virtual std::vector<std::string> ListDirectoryStarting(const std::string& directory,
                                                           const std::string& prefix) {
        std::vector<std::string> names = ListDirectory(directory);
        std::erase_if(names,
                      [&prefix](const std::string& name) { return !name.starts_with(prefix); });
        return names;
    }
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
