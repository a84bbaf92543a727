// The batch engine as the window drives it, against the fake file services:
// the guard word asked about once for the whole batch, a stop at a safe
// point, and the same-file rule when a file's number is freed and comes back
// as another file's. (The companion's words over the same engine are tested
// in tests/cli/.)
#include "batch/Batch.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmo {
namespace {

using namespace std::string_literals;
using batch::BatchRequest;
using batch::GuardWord;
using batch::SkipReason;

const std::string kSingle = "-- Gr\xFC\xDF"
                            "e\r\nprint(\"\xC4rger \xF6\")\r\n";
const std::string kPairs = UmlauteToTwoCharacterForm(kSingle);
const std::string kGuarded = "-- braucht UMLAUTE\r\nlocal s = \"\xE4\"\r\n";
const std::string kGuardedToo = "-- Umlaute: \xFC\r\n";
const std::string kGuardedNothingToDo = "-- UMLAUTE, schon fertig: \xC3\xBC\r\n";
const std::string kChunk = "\x1BLua\x54\0\x19\x93\xE4"s;

// What the engine told, one entry per script and what became of it.
class Heard final : public batch::BatchEvents {
  public:
    void Found(std::size_t total) override { found = total; }
    void Progress(std::size_t done, std::size_t) override { progressed = done; }
    void Converted(const std::string& path, std::size_t) override { Outcome(path, "converted"); }
    void Unchanged(const std::string& path) override { Outcome(path, "unchanged"); }
    void Skipped(const std::string& path, const batch::Skip& why) override {
        static const std::map<SkipReason, std::string> names = {
            {SkipReason::Link, "link"},
            {SkipReason::NotAFile, "no file"},
            {SkipReason::RefusedKind, "refused"},
            {SkipReason::GuardWord, "guard word"},
            {SkipReason::SameFile, "same file"}};
        Outcome(path, "skipped: " + names.at(why.reason));
    }
    void Failed(const std::string& path, const PlatformError& error) override {
        Outcome(path,
                error.Cause() == ErrorCause::ChangedMeanwhile ? "changed meanwhile" : "failed");
    }
    bool ConvertGuarded(const std::vector<std::string>& scripts) override {
        asked.push_back(scripts);
        return answer;
    }
    bool StopRequested() override { return stopWhen && stopWhen(progressed); }

    void Outcome(const std::string& path, const std::string& what) {
        EXPECT_TRUE(outcomes.emplace(path, what).second) << path << " told twice";
    }

    std::map<std::string, std::string> outcomes; // path -> what became of it
    std::vector<std::vector<std::string>> asked;
    bool answer = false;
    std::size_t found = 0, progressed = 0;
    std::function<bool(std::size_t progressed)> stopWhen;
};

std::vector<std::string> NamesEndingIn(const FakePlatform& fake, const std::string& end) {
    std::vector<std::string> names;
    for (const auto& [key, name] : fake.displayNames)
        if (name.size() >= end.size() &&
            name.compare(name.size() - end.size(), end.size(), end) == 0)
            names.push_back(name);
    return names;
}

// C:\karte\s0000.lua, s0001.lua, ...: in walk order.
std::string ScriptName(std::size_t i) {
    std::string number = std::to_string(i);
    return "C:\\karte\\s" + std::string(4 - std::min<std::size_t>(4, number.size()), '0') + number +
           ".lua";
}

// A map folder of every kind of script the guard word question concerns.
struct MapFolder {
    FakePlatform fake;
    FakeDirectories dirs{fake};
    MapFolder() {
        fake.AddFile("C:\\karte\\a.lua", kSingle);
        fake.AddFile("C:\\karte\\b.lua", kPairs);
        fake.AddFile("C:\\karte\\chunk.lua", kChunk);
        fake.AddFile("C:\\karte\\g1.lua", kGuarded);
        fake.AddFile("C:\\karte\\g3.lua", kGuardedNothingToDo);
        fake.AddFile("C:\\karte\\link.lua", kSingle);
        fake.AddFile("C:\\karte\\notiz.txt", kSingle);
        fake.AddFile("C:\\karte\\sub\\g2.lua", kGuardedToo);
        dirs.links.insert("C:\\karte\\link.lua");
    }
};

// Each policy for the guard word, with and without the scripts held whole,
// converting and checking: the scripts holding it that would change are asked
// about once, together, and the answer holds for all of them.
TEST(BatchEngine, GuardWordAskedOnceForTheWholeBatch) {
    struct Case {
        const char* name;
        GuardWord policy;
        bool answer;
        bool check;
        ScriptLimits limits;
        bool asked;
        bool guardedConverted;
    };
    const ScriptLimits whole, pieces{8, 3};
    const Case cases[] = {
        {"skip", GuardWord::Skip, true, false, whole, false, false},
        {"convert", GuardWord::Convert, false, false, whole, false, true},
        {"ask, yes", GuardWord::AskOnce, true, false, whole, true, true},
        {"ask, no", GuardWord::AskOnce, false, false, whole, true, false},
        {"ask, yes, in pieces", GuardWord::AskOnce, true, false, pieces, true, true},
        {"ask, no, in pieces", GuardWord::AskOnce, false, false, pieces, true, false},
        {"ask, yes, check", GuardWord::AskOnce, true, true, whole, true, true},
        {"ask, no, check in pieces", GuardWord::AskOnce, false, true, pieces, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapFolder m;
        BatchRequest request;
        request.paths = {"C:\\karte"};
        request.guardWord = c.policy;
        request.check = c.check;
        request.limits = c.limits;
        Heard heard;
        heard.answer = c.answer;
        const batch::BatchResult result = batch::RunBatch(m.fake, m.dirs, request, heard);

        EXPECT_FALSE(result.stopped);
        EXPECT_EQ(result.scripts, 6u); // the link is left out by the walk
        EXPECT_EQ(heard.found, 6u);
        EXPECT_EQ(heard.progressed, 6u);
        if (c.asked) {
            ASSERT_EQ(heard.asked.size(), 1u);
            EXPECT_EQ(heard.asked[0],
                      (std::vector<std::string>{"C:\\karte\\g1.lua", "C:\\karte\\sub\\g2.lua"}));
        } else {
            EXPECT_TRUE(heard.asked.empty());
        }
        const std::string guarded = c.guardedConverted ? "converted" : "skipped: guard word";
        const std::map<std::string, std::string> expected = {
            {"C:\\karte\\a.lua", "converted"},
            {"C:\\karte\\b.lua", "unchanged"},
            {"C:\\karte\\chunk.lua", "skipped: refused"},
            {"C:\\karte\\g1.lua", guarded},
            {"C:\\karte\\g3.lua", "unchanged"},
            {"C:\\karte\\link.lua", "skipped: link"},
            {"C:\\karte\\sub\\g2.lua", guarded}};
        EXPECT_EQ(heard.outcomes, expected);
        const std::size_t converted = c.guardedConverted ? 3 : 1;
        EXPECT_EQ(result.tally.changed, converted);
        EXPECT_EQ(result.tally.unchanged, 2u);
        EXPECT_EQ(result.tally.skipped, 5 - converted);
        EXPECT_EQ(result.tally.failed, 0u);

        const bool written = !c.check;
        EXPECT_EQ(m.fake.FindFile("C:\\karte\\a.lua")->bytes, written ? kPairs : kSingle);
        const bool guardedWritten = written && c.guardedConverted;
        EXPECT_EQ(m.fake.FindFile("C:\\karte\\g1.lua")->bytes,
                  guardedWritten ? UmlauteToTwoCharacterForm(kGuarded) : kGuarded);
        EXPECT_EQ(m.fake.FindFile("C:\\karte\\sub\\g2.lua")->bytes,
                  guardedWritten ? UmlauteToTwoCharacterForm(kGuardedToo) : kGuardedToo);
        EXPECT_EQ(m.fake.FindFile("C:\\karte\\g3.lua")->bytes, kGuardedNothingToDo);
        EXPECT_EQ(NamesEndingIn(m.fake, ".bak").size(), written ? converted : 0u);
        EXPECT_TRUE(NamesEndingIn(m.fake, ".velmo-tmp").empty());
    }
}

// "Abbrechen" at each kind of safe point: every script keeps its old bytes or
// has its new ones, a backup exactly for each one replaced, no temporary file;
// what was told converted is what was replaced. Past a full commit round the
// scripts of that round stay converted.
TEST(BatchEngine, AStopLeavesEveryScriptOldOrNew) {
    struct Case {
        const char* name;
        std::size_t scripts;
        GuardWord policy;
        std::size_t stopAfter; // scripts told before the stop
        std::size_t threads;
        std::size_t converted; // scripts replaced
    };
    const Case cases[] = {
        {"before the first", 5, GuardWord::Skip, 0, 1, 0},
        {"in the middle", 5, GuardWord::Skip, 3, 1, 0},
        {"at the guard word question", 5, GuardWord::AskOnce, 5, 1, 0},
        {"after a commit round", 1100, GuardWord::Skip, 1030, 1, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        FakeDirectories dirs(fake);
        // With the question, every other script holds the guard word.
        const auto Before = [&](std::size_t i) -> const std::string& {
            return c.policy == GuardWord::AskOnce && i % 2 ? kGuarded : kSingle;
        };
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < c.scripts; ++i) {
            const std::string name = ScriptName(i);
            paths.push_back(name);
            fake.AddFile(name, Before(i));
        }
        BatchRequest request;
        request.paths = {"C:\\karte"};
        request.guardWord = c.policy;
        request.threads = c.threads;
        Heard heard;
        heard.answer = true;
        bool asked = false;
        heard.stopWhen = [&](std::size_t told) {
            // At the question: after it is answered, before the first guarded script.
            if (c.policy == GuardWord::AskOnce && !heard.asked.empty())
                asked = true;
            return told >= c.stopAfter && (c.policy != GuardWord::AskOnce || asked);
        };
        const batch::BatchResult result = batch::RunBatch(fake, dirs, request, heard);
        EXPECT_TRUE(result.stopped);
        std::size_t replaced = 0, told = 0;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const std::string& bytes = fake.FindFile(paths[i])->bytes;
            const std::string& before = Before(i);
            const bool isNew = bytes == UmlauteToTwoCharacterForm(before);
            EXPECT_TRUE(isNew || bytes == before) << paths[i];
            replaced += isNew;
            const auto outcome = heard.outcomes.find(paths[i]);
            told += outcome != heard.outcomes.end() && outcome->second == "converted";
        }
        EXPECT_EQ(replaced, c.converted);
        EXPECT_EQ(told, replaced);
        EXPECT_EQ(result.tally.changed, replaced);
        EXPECT_EQ(NamesEndingIn(fake, ".bak").size(), replaced);
        EXPECT_TRUE(NamesEndingIn(fake, ".velmo-tmp").empty());
    }
}

// A file is "the same" as an earlier script's only while that identity cannot
// have gone to another file. Another program saving two scripts atomically
// (the second's new file getting the number the first's old file freed), and
// this run freeing numbers in a commit round (without backups) that a save
// by another program then gets: the script with the reused number is a
// script of its own and is converted. A true second name stays the same file.
TEST(BatchEngine, AFileNumberFreedMeanwhileNamesAnotherFile) {
    struct Case {
        const char* name;
        std::size_t scripts;
        bool backup;
        std::size_t saved;     // the script another program saves ...
        std::size_t freedBy;   // ... giving its new file the number this one's file had
        bool freedByOtherSave; // the other program also replaced that script first
        bool secondName;       // instead: `saved` is another name of `freedBy`'s file
        const char* savedTold; // what becomes of the saved script
        const char* freedTold; // and of the one whose number it got
    };
    const Case cases[] = {
        {"two atomic saves by another program", 4, false, 2, 0, true, false, "converted",
         "changed meanwhile"},
        {"a number this run freed", 1030, false, 1027, 5, false, false, "converted", "converted"},
        {"a hard link", 4, true, 2, 0, false, true, "skipped: same file", "converted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform fake;
        FakeDirectories dirs(fake);
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < c.scripts; ++i) {
            const std::string name = ScriptName(i);
            paths.push_back(name);
            fake.AddFile(name, kSingle + std::to_string(i));
        }
        const std::string& saved = paths[c.saved];
        const std::string& freed = paths[c.freedBy];
        const std::uint64_t freedNumber = fake.FindFile(freed)->id;
        if (c.secondName) {
            fake.DeleteFile(saved);
            fake.LinkFile(freed, saved);
        }
        bool done = c.secondName;
        fake.beforeCall = [&](const std::string& call) {
            if (done || call != "ReadWholeFile " + saved)
                return;
            done = true;
            if (c.freedByOtherSave)
                fake.AddFile(freed, kSingle + "-- von nebenan\r\n");
            // The number is free: no file has it any more.
            for (const auto& [key, file] : fake.files)
                ASSERT_NE(file.id, freedNumber) << key;
            fake.AddFile(saved, kSingle + "-- gespeichert\r\n");
            const_cast<FakePlatform::File*>(fake.FindFile(saved))->id = freedNumber;
        };
        BatchRequest request;
        request.paths = {"C:\\karte"};
        request.backup = c.backup;
        Heard heard;
        batch::RunBatch(fake, dirs, request, heard);
        fake.beforeCall = nullptr;
        EXPECT_TRUE(done);
        EXPECT_EQ(heard.outcomes[saved], c.savedTold);
        EXPECT_EQ(heard.outcomes[freed], c.freedTold);
        if (std::string(c.savedTold) == "converted") {
            EXPECT_EQ(fake.FindFile(saved)->bytes,
                      UmlauteToTwoCharacterForm(kSingle + "-- gespeichert\r\n"));
        }
        for (const std::string& path : paths)
            if (path != saved && path != freed) {
                EXPECT_EQ(heard.outcomes[path], "converted") << path;
            }
    }
}

} // namespace
} // namespace velmo
