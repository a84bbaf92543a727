// The file, folder and clock services on Windows itself.
#pragma once

#include "platform/FileServices.h"
#include "platform/Handle.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmo {

// What a path is by its attributes and, for a reparse point, its tag (as a
// folder listing gives both): a symbolic link or junction (a name surrogate,
// or a tag that could not be read) is a Link, whatever it points to; other
// reparse points (OneDrive's placeholders, deduplicated files) are the file
// or folder itself, stored differently.
PathKind PathKindOf(DWORD attributes, DWORD reparseTag);

class Win32Files final : public FileServices, public DirectoryServices {
  public:
    bool FileExists(const std::string& path) override;
    FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset, std::size_t most,
                               std::string& bytes) override;
    FileStamp StampOf(const std::string& path) override;
    std::uint32_t FileAttributes(const std::string& path) override;
    void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                          std::uint32_t attributes) override;
    std::optional<PlatformError> ReplaceRefusal(const std::string& path) override;
    void KeepPermissions(const std::string& original, const std::string& copy) override;
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
    std::vector<std::string> ListDirectoryStarting(const std::string& directory,
                                                   const std::string& prefix) override;
    char Separator() const override { return '\\'; }
    bool IsHidden(const std::string& path) override;
    std::string Canonical(const std::string& path) const override;

  private:
    // The entries of a directory whose names match `mask` ("*": all).
    std::vector<DirectoryEntry> ListMatching(const std::string& directory, const std::string& mask);
    // The handle held for a file WriteNewFile made, or null.
    HANDLE HeldHandle(const std::string& path);
    // A file of ours has just been renamed to `to` through its handle.
    void Renamed(AutoFile file, const std::string& to);

    // Files created by WriteNewFile, held open without delete sharing until
    // they are moved or deleted: nobody can remove or rename them meanwhile.
    // A batch works on several scripts at once, on several threads: each
    // thread's files are its own, the list of them is shared.
    std::mutex heldLock_;
    std::map<std::string, AutoFile> held_;

    // The names each thread gave by rename on each volume (by serial number)
    // since its last SyncDirectories, which makes them durable.
    std::mutex renamedLock_;
    std::map<std::pair<std::thread::id, DWORD>, std::vector<std::string>> renamed_;
};

} // namespace velmo
