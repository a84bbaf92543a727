// The file, folder and clock services on Linux and other POSIX systems, for the
// command-line companion's native build.
#pragma once

#include "platform/FileServices.h"

#include <map>
#include <mutex>
#include <string>

namespace velmo {

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) noexcept : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
    int Get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

  private:
    int fd_;
};

class PosixFiles final : public FileServices, public DirectoryServices {
  public:
    // Every temporary file stays open while it lives, a round of the companion's
    // saves holds many: the limit of open descriptors is raised as far as allowed.
    PosixFiles();
    bool FileExists(const std::string& path) override;
    FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset, std::size_t most,
                               std::string& bytes) override;
    FileStamp StampOf(const std::string& path) override;
    std::uint32_t FileAttributes(const std::string& path) override;
    void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                          std::uint32_t attributes) override;
    void KeepPermissions(const std::string& original, const std::string& copy) override;
    PlatformError NotWritable(const std::string& path) override;
    std::optional<PlatformError> ReplaceRefusal(const std::string& path) override;
    Leftover RemoveLeftover(const std::string& path) override;
    void FlushFiles(const std::vector<std::string>& paths) override;
    void LinkFile(const std::string& existing, const std::string& newName) override;
    void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) override;
    void DeleteFile(const std::string& path) override;
    void SyncDirectories(const std::vector<std::string>& directories) override;
    DateTimeTexts Now() override;
    PlatformError Error(std::uint32_t code, const std::string& subject) override;

    PathKind KindOf(const std::string& path) override;
    std::vector<std::string> ListDirectory(const std::string& directory) override;
    std::vector<DirectoryEntry> ListEntries(const std::string& directory) override;
    char Separator() const override { return '/'; }

  private:
    // Moves `from` to `to` where neither a rename without replacing nor a
    // link exists: `to` is claimed by a new empty file, then replaced.
    void ReplaceClaimedName(const std::string& from, const std::string& to);
    // A file created by WriteNewFile, open and locked until moved or deleted,
    // and which file it is.
    struct HeldFile {
        Descriptor fd;
        std::uint64_t device = 0, inode = 0;
    };
    // The file this program created and still holds at `path`; null for any
    // other path. Work on its descriptor needs no look at the name.
    HeldFile* Find(const std::string& path);
    // The same after checking that the name still leads to it, for work by name.
    HeldFile* Held(const std::string& path);
    void Hold(const std::string& path, Descriptor file);
    void Forget(const std::string& path);
    // The companion stages scripts on several threads: the map is shared, each
    // file in it is worked on by one thread at a time.
    std::mutex heldLock_;
    std::map<std::string, HeldFile> held_;
};

// The Windows error number for a POSIX error, where the two mean the same;
// others keep their POSIX number with the customer bit set.
std::uint32_t WindowsCode(int posixError);

} // namespace velmo
