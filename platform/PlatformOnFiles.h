// A platform whose file and clock services are those of a file-services class:
// the Win32 platform on Win32Files, the benchmarks' POSIX platform on PosixFiles,
// the power-loss tests' fake platform on a simulated disk (held by reference).
#pragma once

#include "platform/Platform.h"

#include <utility>

namespace velmo {

template <class Files, class Base = Platform> class PlatformOnFiles : public Base {
  public:
    template <class... Arguments>
    explicit PlatformOnFiles(Arguments&&... arguments)
        : files_(std::forward<Arguments>(arguments)...) {}

    bool FileExists(const std::string& path) override { return files_.FileExists(path); }
    FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset, std::size_t most,
                               std::string& bytes) override {
        return files_.ReadStampedPiece(path, offset, most, bytes);
    }
    FileStamp StampOf(const std::string& path) override { return files_.StampOf(path); }
    std::uint32_t FileAttributes(const std::string& path) override {
        return files_.FileAttributes(path);
    }
    void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                          std::uint32_t attributes) override {
        files_.WriteNewFileFrom(path, bytes, attributes);
    }
    void KeepPermissions(const std::string& original, const std::string& copy) override {
        files_.KeepPermissions(original, copy);
    }
    PlatformError NotWritable(const std::string& path) override { return files_.NotWritable(path); }
    std::optional<PlatformError> ReplaceRefusal(const std::string& path) override {
        return files_.ReplaceRefusal(path);
    }
    Leftover RemoveLeftover(const std::string& path) override {
        return files_.RemoveLeftover(path);
    }
    void FlushFiles(const std::vector<std::string>& paths) override { files_.FlushFiles(paths); }
    void LinkFile(const std::string& existing, const std::string& newName) override {
        files_.LinkFile(existing, newName);
    }
    void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) override {
        files_.MoveFile(from, to, replaceExisting);
    }
    void DeleteFile(const std::string& path) override { files_.DeleteFile(path); }
    void SyncDirectories(const std::vector<std::string>& directories) override {
        files_.SyncDirectories(directories);
    }
    DateTimeTexts Now() override { return files_.Now(); }
    PlatformError Error(std::uint32_t code, const std::string& subject) override {
        return files_.Error(code, subject);
    }

  protected:
    Files files_;
};

} // namespace velmo
