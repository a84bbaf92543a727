// A disk that can lose its power between any two file-service calls, for
// proving that the save's order of writes, flushes and renames keeps every
// script and backup whole. It keeps two states: what the program sees, and what
// is durable. Nothing is ever lost from the first; a power failure leaves the
// second plus whatever of the pending work the platform's model lets reach the
// disk anyway.
//
// Linux (ext4-like):
// - A file's bytes become durable only through FlushFiles (fsync). Syncfs, which
//   PosixFiles uses for many files, also writes out names; the model does not
//   count on that, so it only ever allows more states, never fewer.
// - Creating, linking, renaming and removing a name is pending until
//   SyncDirectories flushes the directory holding it. At a power failure any
//   subset of a directory's pending operations may have reached the disk, each
//   one whole (a rename is one journal entry: never the new name without the old
//   one gone) and in program order (a later operation on the same name wins).
//   Operations cross no directory boundary here; the disk refuses such a rename.
// Windows (NTFS-like):
// - A file's bytes become durable only through FlushFiles (FlushFileBuffers).
// - Name operations go to one metadata log in program order. A rename is not
//   durable when it returns: the next SyncDirectories after one writes the log
//   through (the platform flushes a renamed file then), and with it every
//   operation logged before. A SyncDirectories with no rename since the last
//   one does nothing, and neither does FlushFiles for names: the model does not
//   count on a file's flush writing the log, so it only allows more states. At
//   a power failure a prefix of the pending log has reached the disk.
// Both:
// - Bytes not yet flushed are lost, complete, or torn at a 512-byte sector
//   boundary: cut short after some sectors, or at full length with the sectors
//   after the tear still holding the old bytes (zeros for a new file).
// - A hard link is a second name for the same file: it shares its bytes and
//   their durability.
// - A crash inside a call leaves one of the states of the point before it: a
//   call's partial effect is always one of the pending subsets that point allows.
//   So the points checked are the moments before each call that may change the
//   disk, and after the last call.
#pragma once

#include "platform/FileServices.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::crash {

enum class Model { Linux, Windows };
const char* ModelName(Model model);

inline constexpr std::size_t kSectorSize = 512;

// Path -> bytes, as found after power returns.
using Files = std::map<std::string_view, std::string_view, std::less<>>;

struct DiskState {
    struct File {
        std::string durable, visible;
        std::uint32_t attributes = file_attr::Normal;
    };
    // One name operation: each effect points a name at a file, or removes it.
    struct NameOperation {
        std::string directory;
        std::vector<std::pair<std::string, std::optional<std::size_t>>> effects;
    };
    std::vector<File> files; // by number; a file is never forgotten
    std::map<std::string, std::size_t> visibleNames, durableNames;
    std::vector<NameOperation> pending; // in program order
};

class SimulatedDisk : public FileServices, public DirectoryServices {
  public:
    explicit SimulatedDisk(Model model) : model_(model) {}

    // ---- the world before the run; durable unless said otherwise
    void AddDirectory(const std::string& path);
    void AddFile(const std::string& path, const std::string& bytes,
                 std::uint32_t attributes = file_attr::Normal);
    // A file another program has just written: its name is durable, its bytes
    // are not yet (none of them reached the disk).
    void AddUnflushedFile(const std::string& path, const std::string& bytes,
                          std::uint32_t attributes = file_attr::Normal);
    bool linksWork = true; // false: a file system without hard links
    DateTimeTexts now{"08.12.2026", "21:59:53"};

    Model model() const { return model_; }
    // What the program sees now.
    std::map<std::string, std::string> VisibleFiles() const;

    struct CrashPoint {
        std::string nextCall; // what comes next; empty after the last call
        DiskState disk;
    };
    // Every point recorded so far, and the present state as the last one.
    std::vector<CrashPoint> CrashPoints() const;

    // ---- FileServices
    bool FileExists(const std::string& path) override;
    FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset, std::size_t most,
                               std::string& bytes) override;
    FileStamp StampOf(const std::string& path) override;
    Leftover RemoveLeftover(const std::string& path) override;
    std::uint32_t FileAttributes(const std::string& path) override;
    void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                          std::uint32_t attributes) override;
    void KeepPermissions(const std::string& original, const std::string& copy) override;
    void FlushFiles(const std::vector<std::string>& paths) override;
    void LinkFile(const std::string& existing, const std::string& newName) override;
    void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) override;
    void DeleteFile(const std::string& path) override;
    void SyncDirectories(const std::vector<std::string>& directories) override;
    DateTimeTexts Now() override { return now; }
    PlatformError Error(std::uint32_t code, const std::string& subject) override;

    // ---- DirectoryServices
    PathKind KindOf(const std::string& path) override;
    std::vector<std::string> ListDirectory(const std::string& directory) override;
    char Separator() const override { return model_ == Model::Windows ? '\\' : '/'; }

  private:
    void Before(const std::string& call);
    std::size_t FileAt(const std::string& path);
    void CheckDirectory(const std::string& path);
    void Log(DiskState::NameOperation operation);
    void WriteThrough();

    Model model_;
    DiskState state_;
    std::vector<std::string> directories_;
    std::vector<CrashPoint> points_;
    std::vector<std::size_t> live_; // files made by WriteNewFile, not yet moved or deleted
    bool renamedSinceSync_ = false; // Windows: a rename waits for SyncDirectories
};

// The states a disk may be found in when its power fails at one crash point:
// the pending name operations the model lets through, and for each file whose
// bytes are not durable, which of them reached the disk.
class PowerLoss {
  public:
    PowerLoss(const DiskState& at, Model model);
    // How many states there are (saturating).
    std::uint64_t Count() const { return count_; }
    // Hands every state to `check` (its bytes live as long as this object)
    // when there are at most `limit`; otherwise `limit` states drawn with
    // `random`, the first two being "nothing pending reached the disk" and
    // "everything did". Returns how many were handed over.
    std::size_t ForEach(std::size_t limit, std::mt19937_64& random,
                        const std::function<void(const Files&)>& check) const;

  private:
    Files Build(const std::vector<std::size_t>& choice) const;
    static std::string Bytes(const DiskState::File& file, std::size_t outcome);

    DiskState at_;
    Model model_;
    std::vector<std::size_t> unflushed_;             // files whose bytes are not durable
    std::vector<std::vector<std::string>> outcomes_; // for each of them, the ways it may be found
    std::vector<std::size_t> radix_;                 // name part first, then one per unflushed file
    std::size_t namePart_ = 0; // how many leading entries of radix_ are about names
    std::uint64_t count_ = 1;
};

} // namespace velmo::crash
