// Taking a run back, on the fake file services and on real files: a batch is
// run, something happens meanwhile, and the run is put back from the list the
// window keeps or from the backups the companion finds.
#include "app/BatchSummary.h"
#include "batch/Undo.h"
#include "convert/ScriptFile.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#ifndef _WIN32
#include "platform/PosixFiles.h"

#include <stdlib.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmo {
namespace {

const std::string kSingle = "-- Gr\xFC\xDF"
                            "e\r\nprint(\"\xC4rger \xF6\")\r\n";
const std::string kOther = "local s = \"\xE4\xE4\xE4\" -- \xDC\n";
const std::string kNothing = "-- nichts umzuwandeln\n";

// Where the scripts lie: a folder of the fake, or a real one.
class World {
  public:
    virtual ~World() = default;
    virtual FileServices& Files() = 0;
    virtual DirectoryServices& Dirs() = 0;
    virtual std::string Path(const std::string& name) = 0; // "sub/d.lua" below the folder
    virtual void Put(const std::string& name, const std::string& bytes) = 0;
    // Backups become copies, as on FAT; false where this world cannot.
    virtual bool NoLinks() = 0;

    std::optional<std::string> Get(const std::string& name) {
        try {
            return Files().ReadWholeFile(Path(name));
        } catch (const PlatformError&) {
            return std::nullopt;
        }
    }
    // The names in the folder and its subfolder "sub", sorted.
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const std::string& folder : {std::string(), std::string("sub")})
            for (const std::string& name :
                 Dirs().ListDirectory(folder.empty() ? Path("") : Path(folder)))
                if (name != "sub")
                    names.push_back(folder.empty() ? name : folder + "/" + name);
        std::sort(names.begin(), names.end());
        return names;
    }
};

class FakeWorld final : public World {
  public:
    FileServices& Files() override { return fake_; }
    DirectoryServices& Dirs() override { return dirs_; }
    std::string Path(const std::string& name) override {
        std::string path = "C:\\Karte";
        if (!name.empty())
            path += "\\" + name;
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    void Put(const std::string& name, const std::string& bytes) override {
        fake_.AddFile(Path(name), bytes);
    }
    bool NoLinks() override {
        fake_.failOperation["LinkFile"] = 1; // ERROR_INVALID_FUNCTION: no links here
        return true;
    }
    FakePlatform fake_;
    FakeDirectories dirs_{fake_};
};

#ifndef _WIN32
class RealWorld final : public World {
  public:
    RealWorld() {
        char pattern[] = "/tmp/velmo-undo-XXXXXX";
        root_ = mkdtemp(pattern);
        std::filesystem::create_directories(root_ + "/sub");
    }
    ~RealWorld() override { std::filesystem::remove_all(root_); }
    FileServices& Files() override { return files_; }
    DirectoryServices& Dirs() override { return files_; }
    std::string Path(const std::string& name) override {
        return name.empty() ? root_ : root_ + "/" + name;
    }
    void Put(const std::string& name, const std::string& bytes) override {
        const std::string path = Path(name);
        std::filesystem::remove(path); // a new file, as an editor saving it anew
        std::ofstream(path, std::ios::binary) << bytes;
    }
    bool NoLinks() override { return false; } // FAT: tests/cli/corners_test.cpp

  private:
    std::string root_;
    PosixFiles files_;
};
#endif

std::vector<std::unique_ptr<World>> Worlds() {
    std::vector<std::unique_ptr<World>> worlds;
    worlds.push_back(std::make_unique<FakeWorld>());
#ifndef _WIN32
    worlds.push_back(std::make_unique<RealWorld>());
#endif
    return worlds;
}

// The scripts of every case, and what a run makes of them.
std::map<std::string, std::string> Scripts(Direction direction) {
    const bool forward = direction == Direction::ToTwoCharacterForm;
    auto as = [&](const std::string& single) {
        return forward ? single : UmlauteToTwoCharacterForm(single);
    };
    return {{"a.lua", as(kSingle)},
            {"b.lua", as(kOther)},
            {"c.lua", kNothing},
            {"sub/d.lua", as(kSingle)}};
}

// What the undo told of each script.
class Told final : public UndoRecorder {
  public:
    void PutBack(const std::string& script) override {
        UndoRecorder::PutBack(script);
        Tell(script, "put back");
    }
    void Left(const std::string& script, batch::UndoLeft why) override {
        UndoRecorder::Left(script, why);
        static const std::map<batch::UndoLeft, std::string> words = {
            {batch::UndoLeft::ChangedSince, "changed since"},
            {batch::UndoLeft::BackupGone, "backup gone"},
            {batch::UndoLeft::ScriptGone, "script gone"},
            {batch::UndoLeft::NotReplaced, "not replaced"}};
        Tell(script, words.at(why));
    }
    void Failed(const std::string& script, const PlatformError& error) override {
        UndoRecorder::Failed(script, error);
        Tell(script, "failed: " + error.Text());
    }
    void Tell(const std::string& script, const std::string& what) {
        EXPECT_TRUE(outcomes.emplace(script, what).second) << script << " told twice";
    }
    std::map<std::string, std::string> outcomes;
};

struct Case {
    const char* name;
    Direction direction = Direction::ToTwoCharacterForm;
    bool copies = false;     // backups as copies (no links)
    bool found = false;      // the backups found on disk (the companion), else the window's list
    bool check = false;      // --pruefen: nothing changes
    bool bigScripts = false; // read and compared a piece at a time
    // What happens between the run and its undo, given each script's backup.
    std::function<void(World&, const std::map<std::string, std::string>& backups)> meanwhile;
    std::map<std::string, std::string> outcome; // script -> what the undo tells; else "put back"
};

TEST(Undo, TableOfRunsTakenBack) {
    const auto edit = [](const char* script) {
        return [script](World& w, const std::map<std::string, std::string>&) {
            w.Put(script, "-- von Hand ge\xC3\xA4ndert\n");
        };
    };
    const auto removeBackup = [](const char* script) {
        return [script](World& w, const std::map<std::string, std::string>& backups) {
            w.Files().DeleteFile(backups.at(script));
        };
    };
    const Case cases[] = {
        {"a run put back whole", Direction::ToTwoCharacterForm, false, false, false, false, {}, {}},
        {"a run back to single bytes, put back",
         Direction::ToSingleCharacter,
         false,
         false,
         false,
         false,
         {},
         {}},
        {"found on disk", Direction::ToTwoCharacterForm, false, true, false, false, {}, {}},
        {"backups as copies", Direction::ToTwoCharacterForm, true, false, false, false, {}, {}},
        {"copies found on disk", Direction::ToSingleCharacter, true, true, false, false, {}, {}},
        {"big scripts", Direction::ToTwoCharacterForm, false, true, false, true, {}, {}},
        {"big copies", Direction::ToSingleCharacter, true, false, false, true, {}, {}},
        {"a script edited since",
         Direction::ToTwoCharacterForm,
         false,
         false,
         false,
         false,
         edit("a.lua"),
         {{"a.lua", "changed since"}}},
        {"edited since, found",
         Direction::ToSingleCharacter,
         false,
         true,
         false,
         false,
         edit("sub/d.lua"),
         {{"sub/d.lua", "changed since"}}},
        {"a backup deleted since",
         Direction::ToTwoCharacterForm,
         false,
         false,
         false,
         false,
         removeBackup("b.lua"),
         {{"b.lua", "backup gone"}}},
        {"a backup deleted since, the script named",
         Direction::ToTwoCharacterForm,
         true,
         true,
         false,
         false,
         removeBackup("b.lua"),
         {{"b.lua", "backup gone"}}},
        {"a script deleted since",
         Direction::ToTwoCharacterForm,
         false,
         false,
         false,
         false,
         [](World& w, const std::map<std::string, std::string>&) {
             w.Files().DeleteFile(w.Path("a.lua"));
         },
         {{"a.lua", "script gone"}}},
        {"converted once more since",
         Direction::ToTwoCharacterForm,
         false,
         false,
         false,
         false,
         [](World& w, const std::map<std::string, std::string>&) {
             // Another run back: the script holds its old bytes, not the run's.
             w.Put("a.lua", kSingle);
         },
         {{"a.lua", "changed since"}}},
        {"a stray backup of a run that never replaced its script",
         Direction::ToTwoCharacterForm,
         false,
         true,
         false,
         false,
         [](World& w, const std::map<std::string, std::string>& backups) {
             std::string stray = backups.at("a.lua");
             stray.replace(stray.rfind("a_lua"), 5, "c_lua");
             w.Files().LinkFile(w.Path("c.lua"), stray);
         },
         {{"c.lua", "not replaced"}}},
        {"checked only", Direction::ToTwoCharacterForm, false, true, true, false, {}, {}},
        {"checked, edited since",
         Direction::ToSingleCharacter,
         true,
         false,
         true,
         false,
         edit("b.lua"),
         {{"b.lua", "changed since"}}},
    };
    for (const Case& c : cases) {
        for (const std::unique_ptr<World>& world : Worlds()) {
            World& w = *world;
            SCOPED_TRACE(std::string(c.name) +
                         (dynamic_cast<FakeWorld*>(&w) ? " (fake)" : " (real)"));
            if (c.copies && !w.NoLinks())
                continue;
            const std::map<std::string, std::string> before = Scripts(c.direction);
            for (const auto& [name, bytes] : before)
                w.Put(name, bytes);
            ScriptLimits limits;
            if (c.bigScripts)
                limits = {16, 7};

            batch::BatchRequest request;
            request.paths = {w.Path("")};
            request.direction = c.direction;
            request.limits = limits;
            BatchRecorder run;
            batch::RunBatch(w.Files(), w.Dirs(), request, run);
            ASSERT_EQ(run.converted, 3u);
            ASSERT_EQ(run.backups.size(), 3u);
            std::map<std::string, std::string> backups, after;
            for (const auto& [script, backup] : run.backups)
                for (const auto& [name, bytes] : before)
                    if (w.Path(name) == script)
                        backups[name] = backup;
            for (const auto& [name, bytes] : before)
                after[name] = *w.Get(name);
            if (c.meanwhile)
                c.meanwhile(w, backups);
            std::map<std::string, std::optional<std::string>> meanwhile;
            for (const auto& [name, bytes] : before)
                meanwhile[name] = w.Get(name);
            const std::vector<std::string> namesBefore = w.Names();

            std::vector<batch::RunBackup> list = run.backups;
            if (c.found) {
                // As the companion names them: the folder, and b.lua itself.
                const batch::FoundRuns found =
                    batch::FindRuns(w.Files(), w.Dirs(), {w.Path(""), w.Path("b.lua")}, "", {});
                ASSERT_EQ(found.runs.size(), 1u);
                EXPECT_EQ(found.runs[0].stamp,
                          ParseBackupName(w.Path("a.lua"),
                                          backups.at("a.lua").substr(w.Path("").size() + 1), 0)
                              ->stamp);
                list = found.runs[0].backups;
                for (const std::string& script : found.missing)
                    list.push_back({script, {}});
            }
            Told told;
            const batch::UndoResult result = batch::UndoRun(w.Files(), list, c.check, told, limits);
            EXPECT_FALSE(result.stopped);

            for (const auto& [name, bytes] : before) {
                SCOPED_TRACE(name);
                const auto expected = c.outcome.find(name);
                const bool inRun = name != "c.lua";
                std::string outcome = expected != c.outcome.end() ? expected->second
                                      : inRun                     ? "put back"
                                                                  : "";
                if (outcome.empty()) {
                    EXPECT_EQ(told.outcomes.count(w.Path(name)), 0u);
                    EXPECT_EQ(w.Get(name), bytes);
                    continue;
                }
                EXPECT_EQ(told.outcomes[w.Path(name)], outcome);
                if (outcome == "put back" && !c.check) {
                    EXPECT_EQ(w.Get(name), bytes); // its old bytes again
                    EXPECT_FALSE(w.Files().FileExists(backups.at(name))) << "its backup is gone";
                } else {
                    EXPECT_EQ(w.Get(name), meanwhile[name]); // as it was left
                }
            }
            // Nothing else changed: no temporary file, every other backup stays.
            std::vector<std::string> expectedNames;
            for (const std::string& name : namesBefore) {
                bool putBackup = false;
                for (const auto& [script, backup] : backups)
                    putBackup = putBackup || (w.Path(name) == backup && !c.check &&
                                              told.outcomes[w.Path(script)] == "put back");
                if (!putBackup)
                    expectedNames.push_back(name);
            }
            EXPECT_EQ(w.Names(), expectedNames);
            // The window's summary counts what the undo told.
            const SummaryText summary = SummarizeUndo(told, result.scripts, false);
            EXPECT_EQ(told.putBack + told.leftCount + told.failedCount, list.size());
            EXPECT_EQ(summary.counts.substr(0, summary.counts.find(' ')),
                      std::to_string(told.putBack));
            for (const NamedScript& left : told.left)
                EXPECT_NE(summary.details.find(left.path + " \xE2\x80\x93 " + left.why),
                          std::string::npos);
        }
    }
}

// Two runs in one folder: both found, each with its count; naming one takes
// back only it.
TEST(Undo, TwoRunsInOneFolderAreToldApartByTheirStamps) {
    for (const std::unique_ptr<World>& world : Worlds()) {
        World& w = *world;
        SCOPED_TRACE(dynamic_cast<FakeWorld*>(&w) ? "fake" : "real");
        for (const auto& [name, bytes] : Scripts(Direction::ToTwoCharacterForm))
            w.Put(name, bytes);
        batch::BatchRequest first;
        first.paths = {w.Path("a.lua")};
        BatchRecorder firstRun;
        batch::RunBatch(w.Files(), w.Dirs(), first, firstRun);
        ASSERT_EQ(firstRun.backups.size(), 1u);
        // The first run an hour earlier: its backup's stamp says so.
        const std::string& made = firstRun.backups[0].backup;
        const std::string stamp =
            ParseBackupName(w.Path("a.lua"), made.substr(w.Path("").size() + 1), 0)->stamp;
        std::string earlierStamp = stamp;
        earlierStamp.replace(0, 2, stamp.starts_with("01") ? "02" : "01");
        std::string earlier = made;
        earlier.replace(earlier.rfind(stamp), stamp.size(), earlierStamp);
        w.Files().MoveFile(made, earlier, false);

        batch::BatchRequest second;
        second.paths = {w.Path("")};
        BatchRecorder secondRun;
        batch::RunBatch(w.Files(), w.Dirs(), second, secondRun);
        ASSERT_EQ(secondRun.backups.size(), 2u); // b.lua and sub/d.lua; a.lua has nothing to do

        const batch::FoundRuns both = batch::FindRuns(w.Files(), w.Dirs(), {w.Path("")}, "", {});
        ASSERT_EQ(both.runs.size(), 2u);
        std::map<std::string, std::size_t> counts;
        for (const batch::FoundRun& run : both.runs)
            counts[run.stamp] = run.backups.size();
        EXPECT_EQ(counts, (std::map<std::string, std::size_t>{{earlierStamp, 1}, {stamp, 2}}));
        EXPECT_TRUE(both.missing.empty());

        const batch::FoundRuns picked =
            batch::FindRuns(w.Files(), w.Dirs(), {w.Path("")}, earlierStamp, {});
        ASSERT_EQ(picked.runs.size(), 1u);
        Told told;
        batch::UndoRun(w.Files(), picked.runs[0].backups, false, told);
        EXPECT_EQ(told.outcomes,
                  (std::map<std::string, std::string>{{w.Path("a.lua"), "put back"}}));
        EXPECT_EQ(w.Get("a.lua"), kSingle);
        EXPECT_EQ(w.Get("b.lua"), UmlauteToTwoCharacterForm(kOther)); // the other run's stays
        EXPECT_EQ(batch::FindRuns(w.Files(), w.Dirs(), {w.Path("")}, "", {}).runs.size(), 1u);
    }
}

// Backup names taken apart again, as the runs are found by them.
TEST(Undo, BackupNamesGiveTheirStamp) {
    struct Case {
        const char* script;
        const char* name;
        std::size_t parts;
        const char* stamp; // nullptr: no backup of that script
        int counter;
    };
    const Case cases[] = {
        {"C:\\K\\karte.lua", "karte_lua_08_12_2026_21_59_53.bak", 6, "08_12_2026_21_59_53", 1},
        {"C:\\K\\karte.lua", "karte_lua_08_12_2026_21_59_53_2.bak", 6, "08_12_2026_21_59_53", 2},
        {"C:\\K\\karte.lua", "karte_lua_08_12_2026_21_59_53_2.bak", 0, "08_12_2026_21_59_53_2", 1},
        {"/k/karte.lua", "karte_lua_12_8_2026_9_59_53 PM.bak", 6, "12_8_2026_9_59_53 PM", 1},
        {"C:\\K\\karte.lua", "karte_lua_08_12_2026_21_59_53_0.bak", 6, nullptr, 0},
        {"C:\\K\\karte.lua", "karte_lua_08_12_2026_21_59.bak", 6, nullptr, 0},
        {"C:\\K\\karte.lua", "karte_lua_x_lua_08_12_2026_21_59_53.bak", 6, nullptr, 0},
        {"C:\\K\\a.lua", "karte_lua_08_12_2026_21_59_53.bak", 6, nullptr, 0},
        {"C:\\K\\karte.lua", "karte_lua_08_12_2026_21_59_53.bak.velmo-tmp", 6, nullptr, 0},
        {"C:\\K\\karte.lua", "~karte.lua.1.velmo-tmp", 6, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<BackupNameParts> parts = ParseBackupName(c.script, c.name, c.parts);
        ASSERT_EQ(parts.has_value(), c.stamp != nullptr);
        if (!parts)
            continue;
        EXPECT_EQ(parts->stamp, c.stamp);
        EXPECT_EQ(parts->counter, c.counter);
    }
    const DateTimeTexts now{"08.12.2026", "21:59:53"};
    EXPECT_EQ(BackupStamp(now), "08_12_2026_21_59_53");
    EXPECT_EQ(ParseBackupName("C:\\K\\karte.lua", BackupName("C:\\K\\karte.lua", now, 3).substr(5),
                              StampParts(BackupStamp(now)))
                  ->counter,
              3);
}

// One batch, one stamp: the clock is asked once, not for every backup.
TEST(Undo, EveryBackupOfABatchCarriesTheMomentItBegan) {
    FakeWorld w;
    for (const auto& [name, bytes] : Scripts(Direction::ToTwoCharacterForm))
        w.Put(name, bytes);
    int asked = 0;
    w.fake_.beforeCall = [&](const std::string& call) {
        if (call.starts_with("Now"))
            w.fake_.now.time = "21:59:" + std::to_string(10 + asked++);
    };
    batch::BatchRequest request;
    request.paths = {w.Path("")};
    BatchRecorder run;
    batch::RunBatch(w.Files(), w.Dirs(), request, run);
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(run.backups.size(), 3u);
    for (const batch::RunBackup& made : run.backups)
        EXPECT_NE(made.backup.find("_21_59_10.bak"), std::string::npos) << made.backup;
}

} // namespace
} // namespace velmo
