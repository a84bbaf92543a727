// Power loss at every step of the window's conversion and of the companion's
// batch, on the simulated disk of each platform's model. Each run is done once;
// at every point between two calls that may change the disk, the states the disk
// may be found in after power returns are checked, all of them where there are
// few, else a random sample that is the same in every run. In every state each
// script holds its old or its new bytes; a backup found under its name holds the
// old bytes in full; a script found with its new bytes has its backup, when one
// was asked for; any other name is a temporary file or a file that was there
// before, unchanged. A script its editor saved just before, whose bytes never
// reached the disk, may be found torn until it is replaced, and so may a backup
// that shares its file; once the script holds its new bytes, its backup holds
// the old ones in full.
//
// VELMO_CRASH_STATES (states per point, default 1000) and VELMO_CRASH_START
// (the random generator's starting value, default 1) widen the sweep, for example
// VELMO_CRASH_STATES=20000.
#include "tests/crash/SimulatedDisk.h"

#include "app/VelmoStarter.h"
#include "cli/Batch.h"
#include "convert/ScriptFile.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"
#include "platform/PlatformOnFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::crash {
namespace {

using namespace std::string_literals;

std::size_t StatesPerPoint() {
    const char* text = std::getenv("VELMO_CRASH_STATES");
    return text ? std::max<std::size_t>(2, std::strtoull(text, nullptr, 10)) : 1000;
}
std::uint64_t RandomStart() {
    const char* text = std::getenv("VELMO_CRASH_START");
    return text ? std::strtoull(text, nullptr, 10) : 1;
}

// Lua text with single-byte umlauts and two-character forms side by side, so
// that each direction changes it; `lines` sets its length in sectors.
std::string MixedScript(int lines, const std::string& tag) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "-- " + tag + " " + std::to_string(i) +
                ": Gr\xFC\xDF"
                "e aus K\xC3\xB6ln, \xC4rger mit \xD6l\r\n"
                "print(\"Stra\xDF"
                "e \xC3\xBC"
                "ber \xE4\xF6\xFC\")\r\n";
    return text;
}

std::string Join(Model model, const std::string& directory, const std::string& name) {
    return directory + (model == Model::Windows ? "\\" : "/") + name;
}

bool IsTemporary(std::string_view path) {
    const std::string_view name = path.substr(path.find_last_of("\\/") + 1);
    const std::string_view suffix = ".velmo-tmp";
    return name.size() > suffix.size() && name.front() == '~' &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

using Contents = std::map<std::string, std::string>; // path -> bytes

// Whether `bytes` may be what reached the disk of `old` when none of it was
// flushed: nothing, its first sectors, or all of it up to a sector boundary and
// zeros after.
bool TornFormOf(std::string_view bytes, std::string_view old) {
    if (bytes.size() > old.size())
        return false;
    std::size_t same = 0;
    while (same < bytes.size() && bytes[same] == old[same])
        ++same;
    if (bytes.size() < old.size())
        return same == bytes.size() && same % kSectorSize == 0;
    if (same == bytes.size())
        return true;
    const std::size_t last = bytes.find_last_not_of('\0');
    const std::size_t zerosFrom = last == std::string_view::npos ? 0 : last + 1;
    return (zerosFrom + kSectorSize - 1) / kSectorSize * kSectorSize <= same;
}

struct Script {
    std::string path, before, after; // after == before: must stay as it is
    bool backup;                     // a backup of `before` is asked for
    bool written = true;             // false: just saved by an editor, `before` not yet durable
};

struct Tally {
    std::size_t points = 0, sampledPoints = 0, states = 0;
    std::size_t broken = 0, incompleteBackups = 0, missingBackups = 0, strayNames = 0;
    std::vector<std::string> examples;

    void Add(const Tally& other) {
        points += other.points;
        sampledPoints += other.sampledPoints;
        states += other.states;
        broken += other.broken;
        incompleteBackups += other.incompleteBackups;
        missingBackups += other.missingBackups;
        strayNames += other.strayNames;
        for (const std::string& example : other.examples)
            if (examples.size() < 5)
                examples.push_back(example);
    }
    std::size_t Faults() const { return broken + incompleteBackups + missingBackups + strayNames; }
    std::string Line() const {
        return std::to_string(points) + " crash points (" + std::to_string(sampledPoints) +
               " sampled, the others in full), " + std::to_string(states) +
               " states: " + std::to_string(broken) + " broken scripts, " +
               std::to_string(incompleteBackups) + " incomplete backups, " +
               std::to_string(missingBackups) + " missing backups, " + std::to_string(strayNames) +
               " stray names";
    }
};

// What must hold after power returns, whenever it fails.
class Promise {
  public:
    Promise(std::vector<Script> scripts, Contents others, const DateTimeTexts& now)
        : scripts_(std::move(scripts)), others_(others.begin(), others.end()),
          backupNames_(scripts_.size()) {
        for (std::size_t i = 0; i < scripts_.size(); ++i)
            for (int counter = 1; counter <= 4; ++counter) {
                const std::string name = BackupName(scripts_[i].path, now, counter);
                if (!others_.count(name))
                    backupNames_[i].push_back(name);
            }
        for (const Script& script : scripts_)
            known_.insert(script.path);
        for (const auto& names : backupNames_)
            known_.insert(names.begin(), names.end());
    }

    void Check(const Files& files, const std::string& where, Tally& tally) const {
        auto fault = [&](std::size_t& counter, const std::string& what) {
            ++counter;
            if (tally.examples.size() < 5)
                tally.examples.push_back(where + ": " + what);
        };
        for (std::size_t i = 0; i < scripts_.size(); ++i) {
            const Script& script = scripts_[i];
            const auto found = files.find(script.path);
            const bool isNew = found != files.end() && found->second == script.after;
            // Until the script is replaced, bytes its editor never flushed may be
            // found torn, in the script and in a backup that is a second name for it.
            auto old = [&](std::string_view bytes) {
                return bytes == script.before ||
                       (!script.written && TornFormOf(bytes, script.before));
            };
            if (found == files.end())
                fault(tally.broken, script.path + " is gone");
            else if (!old(found->second) && !isNew)
                fault(tally.broken, script.path + " holds " + std::to_string(found->second.size()) +
                                        " bytes, neither old nor new");
            bool backedUp = false;
            for (const std::string& name : backupNames_[i]) {
                const auto backup = files.find(name);
                if (backup == files.end())
                    continue;
                if (!script.backup || script.before == script.after)
                    fault(tally.strayNames, name + " exists, but no backup was made");
                else if (!old(backup->second) || (isNew && backup->second != script.before))
                    fault(tally.incompleteBackups, name + " holds " +
                                                       std::to_string(backup->second.size()) +
                                                       " bytes, not the old text");
                else if (backup->second == script.before)
                    backedUp = true;
            }
            if (isNew && script.before != script.after && script.backup && !backedUp)
                fault(tally.missingBackups, script.path + " is new, its backup is missing");
        }
        for (const auto& [name, bytes] : files) {
            if (known_.count(name) || IsTemporary(name))
                continue;
            const auto other = others_.find(name);
            if (other == others_.end())
                fault(tally.strayNames, std::string(name) + " should not exist");
            else if (other->second != bytes)
                fault(tally.strayNames, std::string(name) + " has changed");
        }
    }

  private:
    std::vector<Script> scripts_;
    std::map<std::string, std::string, std::less<>> others_;
    std::vector<std::vector<std::string>> backupNames_; // each script's possible backups
    std::set<std::string, std::less<>> known_;          // the scripts' and backups' names
};

// Checks the states after power fails at every crash point the run went through.
Tally Sweep(const SimulatedDisk& disk, const Promise& promise, const std::string& run) {
    Tally tally;
    std::mt19937_64 random(RandomStart());
    const std::vector<SimulatedDisk::CrashPoint> points = disk.CrashPoints();
    for (std::size_t p = 0; p < points.size(); ++p) {
        const std::string where =
            run + ", power lost " +
            (points[p].nextCall.empty() ? "after the last call" : "before " + points[p].nextCall);
        const PowerLoss loss(points[p].disk, disk.model());
        if (loss.Count() > StatesPerPoint())
            ++tally.sampledPoints;
        tally.states += loss.ForEach(StatesPerPoint(), random, [&](const Files& files) {
            promise.Check(files, where, tally);
        });
    }
    tally.points = points.size();
    return tally;
}

void Report(const std::string& what, Model model, const Tally& tally) {
    std::cout << "[ crash    ] " << what << ", " << ModelName(model) << " model: " << tally.Line()
              << std::endl;
    for (const std::string& example : tally.examples)
        std::cout << "    " << example << "\n";
    ::testing::Test::RecordProperty(what + " " + ModelName(model), tally.Line());
}

std::string ScriptDirectory(Model model) {
    return model == Model::Windows ? "C:\\Skripte" : "/home/kim/skripte";
}

// The window's platform with its files on the simulated disk; dialogs and
// message boxes answer as the fake's do.
using DiskPlatform = PlatformOnFiles<SimulatedDisk&, FakePlatform>;

TEST(PowerLoss, WindowConversion) {
    struct Direction {
        const char* name;
        ControlId button;
        std::string before, after;
    };
    const std::string single = UmlauteToSingleCharacter(MixedScript(12, "karte"));
    const std::string pairs = UmlauteToTwoCharacterForm(single);
    const Direction directions[] = {{"UmlauteWeg", UmlauteWeg, single, pairs},
                                    {"UmlauteZurueck", UmlauteZurueck, pairs, single}};
    struct Variant {
        const char* name;
        bool backup;
        bool written; // false: the script was just saved, its bytes not yet durable
        ScriptLimits limits = {};
    };
    const Variant variants[] = {{"with backup", true, true},
                                {"without backup", false, true},
                                {"with backup, script just saved", true, false},
                                // as a script too big to hold: in pieces
                                {"with backup, in pieces", true, true, {64, 100}}};
    for (Model model : {Model::Linux, Model::Windows}) {
        Tally total;
        for (const Direction& direction : directions)
            for (const Variant& variant : variants) {
                const bool backup = variant.backup;
                SimulatedDisk disk(model);
                const std::string directory = ScriptDirectory(model);
                const std::string script = Join(model, directory, "karte.lua");
                disk.AddDirectory(directory);
                if (variant.written)
                    disk.AddFile(script, direction.before);
                else
                    disk.AddUnflushedFile(script, direction.before);
                // Another file beside it, and a backup of the same second made before.
                Contents others = {{Join(model, directory, "notizen.txt"), "Einkaufsliste\r\n"},
                                   {BackupName(script, disk.now), "fr\xFCher\r\n"}};
                for (const auto& [path, bytes] : others)
                    disk.AddFile(path, bytes);

                DiskPlatform platform(disk);
                VelmoStarter starter(platform);
                starter[Sicherung].value = backup ? 1 : 0;
                starter.limits = variant.limits;
                platform.dialogAnswers.push_back(script);
                starter.Click(direction.button);

                const std::string run = std::string(direction.name) + " " + variant.name;
                ASSERT_EQ(disk.VisibleFiles().at(script), direction.after) << run;
                ASSERT_EQ(platform.boxes.size(), 1u) << run;
                EXPECT_EQ(platform.boxes[0].text, kDoneMessage) << run;
                const Promise promise(
                    {{script, direction.before, direction.after, backup, variant.written}}, others,
                    disk.now);
                total.Add(Sweep(disk, promise, run));
            }
        Report("window conversion", model, total);
        EXPECT_EQ(total.Faults(), 0u) << total.Line();
    }
}

class CollectingReporter : public cli::Reporter {
  public:
    void Changed(const std::string&) override {}
    void Notice(const std::string&) override {}
    void Failure(const std::string& line) override { failures.push_back(line); }
    void Progress(std::size_t, std::size_t) override {}
    void Summary(const std::string&) override {}
    std::vector<std::string> failures;
};

TEST(PowerLoss, Batch) {
    enum class Backups { Linked, Copied, None };
    struct Variant {
        const char* name;
        Backups backups;
        bool written = true; // false: the scripts were just saved, their bytes not yet durable
        ScriptLimits limits = {};
    };
    const Variant variants[] = {
        {"backups as links", Backups::Linked},
        {"backups as copies (no links)", Backups::Copied},
        {"no backups", Backups::None},
        {"backups as links, scripts just saved", Backups::Linked, false},
        // every script bigger than what is held whole: in pieces
        {"backups as copies, in pieces", Backups::Copied, true, {32, 50}},
    };
    for (Model model : {Model::Linux, Model::Windows}) {
        Tally total;
        for (cli::Direction direction :
             {cli::Direction::ToTwoCharacterForm, cli::Direction::ToSingleCharacter})
            for (const Variant& variant : variants) {
                SimulatedDisk disk(model);
                disk.linksWork = variant.backups != Backups::Copied;
                const std::string top = model == Model::Windows ? "C:\\Karten" : "/home/kim/karten";
                const std::string sub = Join(model, top, "gebiet");
                disk.AddDirectory(top);
                disk.AddDirectory(sub);

                auto convert = [&](const std::string& text) {
                    return direction == cli::Direction::ToTwoCharacterForm
                               ? UmlauteToTwoCharacterForm(text)
                               : UmlauteToSingleCharacter(text);
                };
                const bool backup = variant.backups != Backups::None;
                std::vector<Script> scripts;
                auto script = [&](const std::string& path, const std::string& bytes, bool converted,
                                  std::uint32_t attributes = file_attr::Normal) {
                    if (variant.written)
                        disk.AddFile(path, bytes, attributes);
                    else
                        disk.AddUnflushedFile(path, bytes, attributes);
                    scripts.push_back(
                        {path, bytes, converted ? convert(bytes) : bytes, backup, variant.written});
                };
                script(Join(model, top, "a.lua"), MixedScript(7, "a"), true);
                script(Join(model, top, "b.lua"), MixedScript(3, "b"), false, file_attr::ReadOnly);
                script(Join(model, top, "c.lua"), MixedScript(16, "c"), true);
                script(Join(model, top, "leer.lua"), "print(\"nichts zu tun\")\n", false);
                script(Join(model, top, "wache.lua"), "-- UMLAUTE\n" + MixedScript(2, "w"), false);
                script(Join(model, sub, "d.lua"), MixedScript(4, "d"), true);
                const Contents others = {{Join(model, top, "notizen.txt"), "\xE4\xF6\xFC\r\n"}};
                for (const auto& [path, bytes] : others)
                    disk.AddFile(path, bytes);

                cli::Options options;
                options.direction = direction;
                options.backup = backup;
                options.paths = {top};
                CollectingReporter reporter;
                const std::string run =
                    std::string(direction == cli::Direction::ToTwoCharacterForm ? "fuer-velmo"
                                                                                : "fuer-mich") +
                    ", " + variant.name;
                EXPECT_EQ(cli::RunBatch(disk, disk, options, reporter, variant.limits),
                          cli::kFailed)
                    << run;
                ASSERT_EQ(reporter.failures.size(), 1u) << run; // the read-only script
                EXPECT_NE(reporter.failures[0].find("b.lua"), std::string::npos) << run;
                const Contents visible = disk.VisibleFiles();
                for (const Script& s : scripts)
                    ASSERT_EQ(visible.at(s.path), s.after) << run;

                total.Add(Sweep(disk, Promise(scripts, others, disk.now), run));
            }
        Report("batch", model, total);
        EXPECT_EQ(total.Faults(), 0u) << total.Line();
    }
}

// Taking a batch back: at every point of the undo each script holds the run's
// bytes with its backup whole beside it, or its old bytes without that backup
// (the rename moves the one into the other's place); a script edited since
// keeps its edit and its backup; nothing else appears or changes.
TEST(PowerLoss, Undo) {
    struct Variant {
        const char* name;
        bool linksWork;
        ScriptLimits limits = {};
    };
    const Variant variants[] = {{"backups as links", true},
                                {"backups as copies (no links)", false},
                                {"backups as links, in pieces", true, {32, 50}}};
    for (Model model : {Model::Linux, Model::Windows}) {
        Tally total;
        for (cli::Direction direction :
             {cli::Direction::ToTwoCharacterForm, cli::Direction::ToSingleCharacter})
            for (const Variant& variant : variants) {
                const std::string top = model == Model::Windows ? "C:\\Karten" : "/home/kim/karten";
                const std::string sub = Join(model, top, "gebiet");
                const std::vector<std::string> paths = {Join(model, top, "a.lua"),
                                                        Join(model, top, "b.lua"),
                                                        Join(model, sub, "c.lua")};
                const std::string edited = paths[1];
                const Contents others = {{Join(model, top, "notizen.txt"), "\xE4\r\n"}};
                // The run to take back, on a disk of its own.
                SimulatedDisk converting(model);
                converting.linksWork = variant.linksWork;
                converting.AddDirectory(top);
                converting.AddDirectory(sub);
                Contents old;
                for (std::size_t i = 0; i < paths.size(); ++i) {
                    old[paths[i]] = MixedScript(3 + 4 * static_cast<int>(i), "s");
                    converting.AddFile(paths[i], old[paths[i]]);
                }
                cli::Options options;
                options.direction = direction;
                options.paths = {top};
                CollectingReporter reporter;
                ASSERT_EQ(cli::RunBatch(converting, converting, options, reporter, variant.limits),
                          cli::kDone);

                // What the run left, durable, and one script edited since.
                SimulatedDisk disk(model);
                disk.AddDirectory(top);
                disk.AddDirectory(sub);
                Contents converted, backups;
                for (const auto& [path, bytes] : converting.VisibleFiles()) {
                    disk.AddFile(path, path == edited ? "-- von Hand\r\n" : bytes);
                    if (old.count(path))
                        converted[path] = path == edited ? "-- von Hand\r\n" : bytes;
                    else
                        for (const std::string& script : paths)
                            if (path.starts_with(BackupName(script, {})
                                                     .substr(0, BackupName(script, {}).size() - 5)))
                                backups[script] = path;
                }
                ASSERT_EQ(backups.size(), paths.size());
                for (const auto& [path, bytes] : others)
                    disk.AddFile(path, bytes);

                cli::Options undo;
                undo.undo = true;
                undo.paths = {top};
                const std::string run =
                    std::string(direction == cli::Direction::ToTwoCharacterForm ? "fuer-velmo"
                                                                                : "fuer-mich") +
                    ", " + variant.name;
                ASSERT_EQ(cli::RunUndo(disk, disk, undo, reporter), cli::kDone) << run;
                const Contents visible = disk.VisibleFiles();
                for (const std::string& path : paths)
                    ASSERT_EQ(visible.at(path), path == edited ? converted[path] : old[path])
                        << run;

                Tally tally;
                std::mt19937_64 random(RandomStart());
                const std::vector<SimulatedDisk::CrashPoint> points = disk.CrashPoints();
                for (const SimulatedDisk::CrashPoint& point : points) {
                    const std::string where = run + ", power lost " +
                                              (point.nextCall.empty() ? "after the last call"
                                                                      : "before " + point.nextCall);
                    auto fault = [&](std::size_t& counter, const std::string& what) {
                        ++counter;
                        if (tally.examples.size() < 5)
                            tally.examples.push_back(where + ": " + what);
                    };
                    const PowerLoss loss(point.disk, model);
                    if (loss.Count() > StatesPerPoint())
                        ++tally.sampledPoints;
                    tally.states += loss.ForEach(StatesPerPoint(), random, [&](const Files& files) {
                        std::set<std::string_view> known;
                        for (const std::string& path : paths) {
                            const auto script = files.find(path);
                            const auto backup = files.find(backups[path]);
                            known.insert(path);
                            known.insert(backups[path]);
                            const bool isOld = script != files.end() && script->second == old[path];
                            const bool isRuns =
                                script != files.end() && script->second == converted[path];
                            if (!isOld && !isRuns)
                                fault(tally.broken,
                                      path + " holds neither its old nor the run's bytes");
                            else if (isRuns &&
                                     (backup == files.end() || backup->second != old[path]))
                                fault(tally.missingBackups, path + " holds the run's bytes without "
                                                                   "its whole backup");
                            else if (isOld && path != edited && backup != files.end())
                                fault(tally.strayNames,
                                      backups[path] + " stays beside " + path + " put back");
                        }
                        for (const auto& [name, bytes] : files)
                            if (!known.count(name) && (!others.count(std::string(name)) ||
                                                       others.at(std::string(name)) != bytes))
                                fault(tally.strayNames, std::string(name) + " should not be there");
                    });
                }
                tally.points = points.size();
                total.Add(tally);
            }
        Report("undo", model, total);
        EXPECT_EQ(total.Faults(), 0u) << total.Line();
    }
}

// The disk itself: what each model may lose is lost in some state, and what it
// keeps is kept in all.
TEST(SimulatedDisk, LosesWhatTheModelAllows) {
    const std::string kMissing = "(missing)";
    const std::string kNew = "neu";
    const std::string kZeros(3, '\0'); // full length, the sector never written
    struct Case {
        const char* name;
        Model model;
        std::function<void(SimulatedDisk&)> steps;
        std::string path;
        std::set<std::string> found; // what `path` may hold across all states
    };
    const Case cases[] = {
        {"Linux: neither written out nor named",
         Model::Linux,
         [](SimulatedDisk& d) { d.WriteNewFile("/d/x", "neu", 0); },
         "/d/x",
         {kMissing, "", kNew, kZeros}},
        {"Linux: flushed but not named",
         Model::Linux,
         [](SimulatedDisk& d) {
             d.WriteNewFile("/d/x", "neu", 0);
             d.FlushFiles({"/d/x"});
         },
         "/d/x",
         {kMissing, kNew}},
        {"Linux: named but not flushed",
         Model::Linux,
         [](SimulatedDisk& d) {
             d.WriteNewFile("/d/x", "neu", 0);
             d.SyncDirectories({"/d"});
         },
         "/d/x",
         {"", kNew, kZeros}},
        {"Linux: a rename not synced may be undone",
         Model::Linux,
         [](SimulatedDisk& d) {
             d.WriteNewFile("/d/t", "neu", 0);
             d.FlushFiles({"/d/t"});
             d.MoveFile("/d/t", "/d/s", true);
         },
         "/d/s",
         {"alt", kNew}},
        {"Linux: another directory's sync does not help",
         Model::Linux,
         [](SimulatedDisk& d) {
             d.WriteNewFile("/d/x", "neu", 0);
             d.FlushFiles({"/d/x"});
             d.SyncDirectories({"/e"});
         },
         "/d/x",
         {kMissing, kNew}},
        {"Linux: flushed and synced",
         Model::Linux,
         [](SimulatedDisk& d) {
             d.WriteNewFile("/d/x", "neu", 0);
             d.FlushFiles({"/d/x"});
             d.SyncDirectories({"/d"});
         },
         "/d/x",
         {kNew}},
        {"Linux: a link shares the file's bytes",
         Model::Linux,
         [](SimulatedDisk& d) {
             d.LinkFile("/d/s", "/d/b");
             d.SyncDirectories({"/d"});
         },
         "/d/b",
         {"alt"}},
        {"Windows: a rename's sync writes earlier names through, not bytes",
         Model::Windows,
         [](SimulatedDisk& d) {
             d.WriteNewFile("C:\\d\\x", "neu", 0);
             d.WriteNewFile("C:\\d\\t", "neu", 0);
             d.MoveFile("C:\\d\\t", "C:\\d\\u", false);
             d.SyncDirectories({"C:\\d"});
         },
         "C:\\d\\x",
         {"", kNew, kZeros}},
        {"Windows: names only in the order logged",
         Model::Windows,
         [](SimulatedDisk& d) {
             d.WriteNewFile("C:\\d\\t", "neu", 0);
             d.FlushFiles({"C:\\d\\t"});
             d.DeleteFile("C:\\d\\s");
             d.LinkFile("C:\\d\\t", "C:\\d\\s");
         },
         "C:\\d\\s",
         {"alt", kMissing, kNew}},
        {"Windows: a rename not yet synced may be undone, a flush of bytes does not help",
         Model::Windows,
         [](SimulatedDisk& d) {
             d.WriteNewFile("C:\\d\\t", "neu", 0);
             d.FlushFiles({"C:\\d\\t"});
             d.MoveFile("C:\\d\\t", "C:\\d\\s", true);
             d.WriteNewFile("C:\\d\\v", "neu", 0);
             d.FlushFiles({"C:\\d\\v"});
         },
         "C:\\d\\s",
         {"alt", kNew}},
        {"Windows: a sync with no rename since the last writes nothing through",
         Model::Windows,
         [](SimulatedDisk& d) {
             d.WriteNewFile("C:\\d\\t", "neu", 0);
             d.FlushFiles({"C:\\d\\t"});
             d.MoveFile("C:\\d\\t", "C:\\d\\u", false);
             d.SyncDirectories({"C:\\d"});
             d.LinkFile("C:\\d\\u", "C:\\d\\x");
             d.SyncDirectories({"C:\\d"});
         },
         "C:\\d\\x",
         {kMissing, kNew}},
        {"Windows: a rename is durable after the sync that follows it",
         Model::Windows,
         [](SimulatedDisk& d) {
             d.WriteNewFile("C:\\d\\t", "neu", 0);
             d.FlushFiles({"C:\\d\\t"});
             d.MoveFile("C:\\d\\t", "C:\\d\\s", true);
             d.SyncDirectories({"C:\\d"});
         },
         "C:\\d\\s",
         {kNew}},
    };
    for (const Case& c : cases) {
        SimulatedDisk disk(c.model);
        const std::string d = c.model == Model::Windows ? "C:\\d" : "/d";
        disk.AddDirectory(d);
        disk.AddDirectory(c.model == Model::Windows ? "C:\\e" : "/e");
        disk.AddFile(Join(c.model, d, "s"), "alt");
        c.steps(disk);
        const PowerLoss loss(disk.CrashPoints().back().disk, c.model);
        std::set<std::string> found;
        std::mt19937_64 random(1);
        loss.ForEach(1000, random, [&](const Files& files) {
            const auto file = files.find(c.path);
            found.insert(file == files.end() ? kMissing : std::string(file->second));
        });
        EXPECT_EQ(found, c.found) << c.name;
    }
}

TEST(SimulatedDisk, TornWritesAtSectorBoundaries) {
    SimulatedDisk disk(Model::Linux);
    disk.AddDirectory("/d");
    const std::string bytes = std::string(kSectorSize, 'a') + std::string(kSectorSize, 'b') + "c";
    disk.WriteNewFile("/d/x", bytes, 0);
    disk.SyncDirectories({"/d"});
    const PowerLoss loss(disk.CrashPoints().back().disk, Model::Linux);
    std::set<std::string> found;
    std::mt19937_64 random(1);
    loss.ForEach(1000, random,
                 [&](const Files& files) { found.insert(std::string(files.at("/d/x"))); });
    const std::string zeros(kSectorSize, '\0');
    const std::set<std::string> expected = {"",
                                            bytes, // lost, complete
                                            bytes.substr(0, kSectorSize),
                                            bytes.substr(0, 2 * kSectorSize), // cut short
                                            zeros + zeros + '\0',
                                            bytes.substr(0, kSectorSize) + zeros + '\0',
                                            bytes.substr(0, 2 * kSectorSize) +
                                                '\0'}; // full length, torn
    EXPECT_EQ(found, expected);
    // The check's own idea of a torn file agrees, and refuses what no tear makes.
    for (const std::string& torn : found)
        EXPECT_TRUE(TornFormOf(torn, bytes));
    EXPECT_FALSE(TornFormOf(bytes.substr(0, kSectorSize + 1), bytes)); // cut inside a sector
    EXPECT_FALSE(TornFormOf(bytes.substr(0, kSectorSize + 1) + std::string(kSectorSize, '\0'),
                            bytes));                                // torn inside a sector
    EXPECT_FALSE(TornFormOf(std::string(kSectorSize, 'b'), bytes)); // other bytes
    EXPECT_FALSE(TornFormOf(bytes + "d", bytes));
}

} // namespace
} // namespace velmo::crash
