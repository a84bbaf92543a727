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
    void Started(std::size_t, const std::string&) override { ++started; }
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
    std::size_t found = 0, progressed = 0, started = 0;
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

// "Abbrechen" in each phase of a batch: walking, staging, at the guard-word
// question, converting the scripts agreed to, and saving a round, the last one
// included. Every script keeps its old bytes or has its new ones, a backup
// exactly for each one replaced, no temporary file; what was told converted
// (and counted) is what was replaced, and nothing else is told converted.
TEST(BatchEngine, AStopInEveryPhaseLeavesEveryScriptOldOrNew) {
    struct State {
        std::size_t found, progressed, started, stopAsked, moves;
        bool asked;
    };
    struct Case {
        const char* name;
        std::size_t scripts;
        GuardWord policy;
        std::size_t threads;
        std::function<bool(const State&)> stopWhen;
        std::size_t fewest, most; // scripts replaced
    };
    const Case cases[] = {
        {"walking", 5, GuardWord::Skip, 1, [](const State& s) { return s.stopAsked >= 3; }, 0, 0},
        {"before the first", 5, GuardWord::Skip, 1, [](const State& s) { return s.found > 0; }, 0,
         0},
        {"staging", 5, GuardWord::Skip, 1, [](const State& s) { return s.progressed >= 3; }, 0, 0},
        {"staging, scripts read ahead", 200, GuardWord::Skip, 1,
         [](const State& s) { return s.progressed >= 150; }, 0, 0},
        {"at the guard word question", 5, GuardWord::AskOnce, 1,
         [](const State& s) { return s.asked; }, 0, 0},
        {"converting the scripts agreed to", 9, GuardWord::AskOnce, 1,
         [](const State& s) { return s.asked && s.started >= 11; }, 0, 0}, // two of four done
        {"after a commit round", 1100, GuardWord::Skip, 1,
         [](const State& s) { return s.progressed >= 1030; }, 1024, 1024},
        {"saving a round", 1100, GuardWord::Skip, 1, [](const State& s) { return s.moves >= 40; },
         40, 1023},
        {"saving the last round", 100, GuardWord::Skip, 1,
         [](const State& s) { return s.moves >= 10; }, 10, 99},
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
        State state{};
        fake.beforeCall = [&](const std::string& call) {
            state.moves += call.rfind("MoveFile ", 0) == 0 && call.ends_with(" | replace");
        };
        BatchRequest request;
        request.paths = {"C:\\karte"};
        request.guardWord = c.policy;
        request.threads = c.threads;
        Heard heard;
        heard.answer = true;
        heard.stopWhen = [&](std::size_t) {
            ++state.stopAsked;
            state.found = heard.found;
            state.progressed = heard.progressed;
            state.started = heard.started;
            state.asked = !heard.asked.empty();
            return c.stopWhen(state);
        };
        const batch::BatchResult result = batch::RunBatch(fake, dirs, request, heard);
        fake.beforeCall = nullptr;
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
            if (outcome != heard.outcomes.end()) {
                EXPECT_EQ(outcome->second, "converted") << paths[i];
            }
        }
        EXPECT_GE(replaced, c.fewest);
        EXPECT_LE(replaced, c.most);
        EXPECT_EQ(told, replaced);
        EXPECT_EQ(result.tally.changed, replaced);
        EXPECT_EQ(result.tally.failed, 0u);
        EXPECT_EQ(NamesEndingIn(fake, ".bak").size(), replaced);
        EXPECT_TRUE(NamesEndingIn(fake, ".velmo-tmp").empty());
        if (std::string(c.name) == "walking") {
            EXPECT_LT(result.scripts, c.scripts); // the walk ended early
        }
    }
}

// What a progress window hears: the scripts decided on and the converted ones
// saved move on to the end, the last round's save told a part at a time, the
// scripts held for the guard-word question counted once they are answered.
TEST(BatchEngine, ProgressCountsDecidedAndSavedScriptsToTheEnd) {
    struct Watcher final : batch::BatchEvents {
        std::vector<batch::BatchProgress> heard;
        void Advanced(const batch::BatchProgress& where) override { heard.push_back(where); }
        bool ConvertGuarded(const std::vector<std::string>&) override {
            atQuestion = heard.back();
            return true;
        }
        batch::BatchProgress atQuestion;
    };
    FakePlatform fake;
    FakeDirectories dirs(fake);
    constexpr std::size_t kScripts = 1500; // a full round and a last one
    for (std::size_t i = 0; i < kScripts; ++i)
        fake.AddFile(ScriptName(i), i % 100 == 7 ? kGuarded : i % 10 == 3 ? kPairs : kSingle);
    BatchRequest request;
    request.paths = {"C:\\karte"};
    request.guardWord = GuardWord::AskOnce;
    Watcher watcher;
    const batch::BatchResult result = batch::RunBatch(fake, dirs, request, watcher);
    ASSERT_FALSE(result.stopped);
    ASSERT_FALSE(watcher.heard.empty());
    // Held for the question: 15 scripts; decided on before it: the rest.
    EXPECT_EQ(watcher.atQuestion.decided, kScripts - 15);
    std::size_t namedWhileSaving = 0, afterLastDecided = 0;
    for (std::size_t i = 0; i < watcher.heard.size(); ++i) {
        const batch::BatchProgress& now = watcher.heard[i];
        EXPECT_EQ(now.total, kScripts);
        EXPECT_LE(now.saved, now.converted);
        EXPECT_LE(now.converted, now.decided);
        if (i > 0) {
            const batch::BatchProgress& before = watcher.heard[i - 1];
            EXPECT_GE(now.decided, before.decided);
            EXPECT_GE(now.saved, before.saved);
        }
        namedWhileSaving += !now.saving.empty();
        afterLastDecided += now.decided == kScripts && !now.saving.empty();
    }
    const batch::BatchProgress& last = watcher.heard.back();
    EXPECT_EQ(last.decided, kScripts);
    EXPECT_EQ(last.converted, result.tally.changed);
    EXPECT_EQ(last.saved, result.tally.changed);
    EXPECT_TRUE(last.saving.empty());
    EXPECT_GE(namedWhileSaving, 2u);
    EXPECT_GE(afterLastDecided, 1u); // the last round is told while it is saved
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
