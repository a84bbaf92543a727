// An in-memory platform for unit tests: files, registry, dialogs and message
// boxes without Windows. Every call is recorded in order, and any call can be
// made to fail with a chosen Windows error number: by its position in the run
// (to walk a fault through every step of a procedure) or by operation name.
#pragma once

#include "platform/Platform.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velmo {

class FakePlatform : public Platform {
  public:
    struct File {
        std::string bytes;
        std::uint32_t attributes = file_attr::Normal;
        bool locked = false; // held open by another program without sharing
        // A temporary file a running program still writes: RemoveLeftover leaves
        // it. Set for files this fake's WriteNewFile made until they are moved.
        bool live = false;
        // Which file this is; every AddFile makes a new one, so a test that
        // writes a file with AddFile during a run changes its stamp.
        std::uint64_t id = 0;
    };
    struct RegValue {
        std::uint32_t type = reg::Sz;
        std::string data; // raw bytes as stored
    };
    struct Start {
        std::string program, arguments, workingDir;
        int showStyle;
    };
    struct Box {
        std::string text;
        int style;
        std::string title;
    };

    // ---- the world the tests set up (file names compare without letter case)
    void AddFile(const std::string& path, std::string bytes,
                 std::uint32_t attributes = file_attr::Normal);
    const File* FindFile(const std::string& path) const;
    std::map<std::string, File> files;               // keyed by lower-cased path
    std::map<std::string, std::string> displayNames; // lower-cased -> as created

    // Registry values of the 32-bit view (default) or the 64-bit view, keyed by
    // "subkey" (any case) and value name ("" is the default value).
    void SetRegValue(const std::string& subKey, const std::string& name, RegValue value,
                     bool view64 = false);
    void AddRegKey(const std::string& subKey, bool view64 = false);

    // The next ShowOpen picks the front ("" cancels; several files a line each).
    std::deque<std::string> dialogAnswers;
    std::deque<int> msgBoxAnswers; // the next MsgBox returns the front (default OK/Yes)
    DateTimeTexts now{"08.12.2026", "21:59:53"};
    // Files that cannot be flushed: another program holds them open without
    // letting others write (keyed by lower-cased path).
    std::set<std::string> unflushable;

    // ---- fault injection
    // Fail the call with this 0-based position in the call log.
    std::optional<std::size_t> failCallIndex;
    // Fail every call of this operation ("MoveFile", "StartProcess", ...).
    std::map<std::string, std::uint32_t> failOperation;
    std::uint32_t failCode = win_error::AccessDenied;
    // Runs before each call is logged, with its log line: another program at work.
    std::function<void(const std::string& call)> beforeCall;
    // Registry calls answer with a status instead of throwing: when injected,
    // they return this status.

    // ---- what happened
    // The most bytes one read gave and one piece of a new file held: what a
    // caller held of a file at once.
    std::size_t largestRead = 0;
    std::size_t largestPieceWritten = 0;
    std::vector<std::string> calls; // "Operation arg | arg" in order
    std::vector<int> busyAtCall;    // how deep in BeginBusy each call was made
    int busy = 0;                   // BeginBusy calls not yet ended
    std::vector<Start> starts;
    std::vector<Box> boxes;
    std::vector<CommonDialog> dialogsShown;
    bool ended = false;
    int openKeys = 0; // registry handles opened and not yet closed
    std::vector<RegKey> closedKeys;

    // ---- Platform
    bool FileExists(const std::string& path) override;
    FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset, std::size_t most,
                               std::string& bytes) override;
    FileStamp StampOf(const std::string& path) override;
    Leftover RemoveLeftover(const std::string& path) override;
    std::uint32_t FileAttributes(const std::string& path) override;
    void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                          std::uint32_t attributes) override;
    void KeepPermissions(const std::string& original, const std::string& copy) override;
    // Not recorded as a call: it never fails.
    std::optional<PlatformError> ReplaceRefusal(const std::string& path) override;
    void FlushFiles(const std::vector<std::string>& paths) override;
    void LinkFile(const std::string& existing, const std::string& newName) override;
    void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) override;
    void DeleteFile(const std::string& path) override;
    void SyncDirectories(const std::vector<std::string>& directories) override;
    void StartProcess(const std::string& program, const std::string& arguments,
                      const std::string& workingDir, int showStyle) override;
    void End() override;
    void ShowOpen(CommonDialog& dialog) override;
    int MsgBox(const std::string& text, int style, const std::string& title) override;
    // Counted, not recorded as calls: they never fail.
    void BeginBusy() noexcept override { ++busy; }
    void EndBusy() noexcept override { --busy; }
    std::int32_t RegOpenKeyExA(RegKey root, const std::string& subKey, std::uint32_t options,
                               std::uint32_t access, RegKey& opened) override;
    std::int32_t RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t& type,
                                  unsigned char* data, std::uint32_t& size) override;
    std::int32_t RegCloseKey(RegKey key) override;
    std::string FromAnsi(const std::string& bytes) override;
    DateTimeTexts Now() override;
    PlatformError Error(std::uint32_t code, const std::string& subject) override;

  private:
    // Records the call; returns the error code to inject, or 0.
    std::uint32_t Record(const std::string& operation, const std::string& args);
    void Check(const std::string& operation, const std::string& args, const std::string& subject);
    std::map<std::string, std::map<std::string, RegValue>>& View(bool view64) {
        return view64 ? registry64_ : registry32_;
    }
    std::map<std::string, std::map<std::string, RegValue>> registry32_, registry64_;
    struct OpenKey {
        std::string subKey;
        bool view64;
    };
    std::map<RegKey, OpenKey> handles_;
    RegKey nextHandle_ = 0x100;
    std::uint64_t nextFileId_ = 1;
};

// The fake's files as folders: a path with files below it is a directory.
// Names compare without letter case, as on Windows; `links` and `hidden` mark
// paths the walk must leave out.
class FakeDirectories final : public DirectoryServices {
  public:
    explicit FakeDirectories(FakePlatform& fake) : fake_(fake) {}
    PathKind KindOf(const std::string& path) override;
    std::vector<std::string> ListDirectory(const std::string& directory) override;
    char Separator() const override { return '\\'; }
    bool IsHidden(const std::string& path) override { return hidden.count(path) > 0; }
    std::string Canonical(const std::string& path) const override;
    std::set<std::string> links, hidden;

  private:
    FakePlatform& fake_;
};

} // namespace velmo
