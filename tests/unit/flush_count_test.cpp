// How often a batch waits for the disk: a counting wrapper around the file
// services holds the flushes a script costs, so that they cannot grow
// unnoticed. Each converted script flushes its new text once, and where its
// backup is its own old file by a second name, that file once (a script its
// editor has just saved may not be on the disk yet; on Windows it comes after
// the new texts, when nothing is left to wait for). A backup made as a copy
// costs its own flush of its bytes and of its name. Names are made durable a
// part of a round at a time; no file is flushed again once renamed.
#include "batch/Batch.h"
#include "batch/Rounds.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace velmo {
namespace {

// Counts the calls that wait for the disk and passes every call on.
class CountingFiles final : public FileServices {
  public:
    explicit CountingFiles(FileServices& inner) : inner_(inner) {}

    std::vector<std::string> flushed; // every path FlushFiles was given, in order
    std::size_t flushCalls = 0, syncCalls = 0;
    std::set<std::string> renamedTo; // every name a rename gave

    bool FileExists(const std::string& path) override { return inner_.FileExists(path); }
    FileStamp ReadStampedPiece(const std::string& path, std::uint64_t offset, std::size_t most,
                               std::string& bytes) override {
        return inner_.ReadStampedPiece(path, offset, most, bytes);
    }
    FileStamp StampOf(const std::string& path) override { return inner_.StampOf(path); }
    std::uint32_t FileAttributes(const std::string& path) override {
        return inner_.FileAttributes(path);
    }
    void WriteNewFileFrom(const std::string& path, const ByteSource& bytes,
                          std::uint32_t attributes) override {
        inner_.WriteNewFileFrom(path, bytes, attributes);
    }
    void KeepPermissions(const std::string& original, const std::string& copy) override {
        inner_.KeepPermissions(original, copy);
    }
    PlatformError NotWritable(const std::string& path) override { return inner_.NotWritable(path); }
    Leftover RemoveLeftover(const std::string& path) override {
        return inner_.RemoveLeftover(path);
    }
    void FlushFiles(const std::vector<std::string>& paths) override {
        ++flushCalls;
        flushed.insert(flushed.end(), paths.begin(), paths.end());
        inner_.FlushFiles(paths);
    }
    void LinkFile(const std::string& existing, const std::string& newName) override {
        inner_.LinkFile(existing, newName);
    }
    void MoveFile(const std::string& from, const std::string& to, bool replaceExisting) override {
        inner_.MoveFile(from, to, replaceExisting);
        renamedTo.insert(to);
    }
    void DeleteFile(const std::string& path) override { inner_.DeleteFile(path); }
    void SyncDirectories(const std::vector<std::string>& directories) override {
        ++syncCalls;
        inner_.SyncDirectories(directories);
    }
    DateTimeTexts Now() override { return inner_.Now(); }
    PlatformError Error(std::uint32_t code, const std::string& subject) override {
        return inner_.Error(code, subject);
    }

  private:
    FileServices& inner_;
};

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(FlushCount, OneFlushAScriptAndItsNamesAPartOfARoundAtATime) {
    enum class Backups { Linked, Copied, None };
    struct Case {
        const char* name;
        Backups backups;
        std::size_t scripts;
    };
    // One script, and more than two rounds' worth.
    const std::size_t many = 2 * batch::CommitRounds::kScripts + 3;
    const Case cases[] = {
        {"one script, backup as a link", Backups::Linked, 1},
        {"map folder, backups as links", Backups::Linked, many},
        {"map folder, backups as copies (no links)", Backups::Copied, many},
        {"map folder, no backups", Backups::None, many},
    };
    const std::string text = "-- Gr\xFC\xDF"
                             "e\r\nprint(\"\xC4rger \xF6\")\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        FakeDirectories directories(fake);
        if (c.backups == Backups::Copied)
            fake.failOperation["LinkFile"] = 50; // a drive without hard links
        std::set<std::string> scripts;
        for (std::size_t i = 0; i < c.scripts; ++i) {
            const std::string path = "C:\\karte\\" + std::string(i % 2 ? "sub\\" : "") + "s" +
                                     std::to_string(i) + ".lua";
            fake.AddFile(path, text);
            scripts.insert(path);
        }
        CountingFiles files(fake);
        batch::BatchRequest request;
        request.paths = {"C:\\karte"};
        request.backup = c.backups != Backups::None;
        batch::BatchEvents events;
        const batch::BatchResult result = batch::RunBatch(files, directories, request, events);
        ASSERT_EQ(result.tally.changed, c.scripts);

        std::size_t newTexts = 0, sharedBackups = 0, copiedBackups = 0;
        for (const std::string& path : files.flushed) {
            // Never a file flushed again after its rename: no script, no copied backup.
            EXPECT_EQ(scripts.count(path), 0u) << path;
            EXPECT_EQ(files.renamedTo.count(path), 0u) << path;
            if (EndsWith(path, ".velmo-tmp"))
                ++newTexts;
            else if (EndsWith(path, ".bak"))
                ++sharedBackups;
            else
                ADD_FAILURE() << "flushed " << path;
        }
        switch (c.backups) {
        case Backups::Linked:
            EXPECT_EQ(sharedBackups, c.scripts);
            break;
        case Backups::Copied:
            // Written through a temporary file each: flushed as such, never by its own name.
            copiedBackups = c.scripts;
            EXPECT_EQ(sharedBackups, 0u);
            break;
        case Backups::None:
            EXPECT_EQ(sharedBackups, 0u);
            break;
        }
        EXPECT_EQ(newTexts, c.scripts + copiedBackups);
        // A round is saved a part at a time, sized by how long the last took
        // (at least kSmallestPart scripts): each part flushes its new texts in
        // one call, then makes its names durable twice (what was made, then
        // the renames); a copy is flushed on its own and its name once.
        ASSERT_GE(files.flushCalls, copiedBackups);
        const std::size_t parts = files.flushCalls - copiedBackups;
        EXPECT_GE(parts, 1u);
        EXPECT_LE(parts, (c.scripts + batch::CommitRounds::kSmallestPart - 1) /
                             batch::CommitRounds::kSmallestPart);
        EXPECT_EQ(files.syncCalls, 2 * parts + copiedBackups);
    }
}

} // namespace
} // namespace velmo
