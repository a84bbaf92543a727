// Every event procedure, run once cleanly to learn its platform calls and then
// once for each of those calls with exactly that call failing. After each run
// nothing may be lost or half-done: the script holds its old or its new bytes,
// a backup is complete or absent, no temporary file is left, the debugger
// library has exactly one of its two names, the error is reported exactly once
// (or, for the calls that by design answer instead of raising, not at all), and
// the launcher still does its job at the next click. A file the conversion
// refuses (a compiled chunk, UTF-16 text) leaves the file system exactly as it
// was, whichever call fails.
#include "app/VelmoStarter.h"
#include "batch/Batch.h"
#include "batch/Undo.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

const std::string kGame = "C:\\Spiele\\Velmoria";
const std::string kNotepadDir = "C:\\Programme\\Notepad++";
const std::string kScript = "C:\\Skripte\\karte.lua";
const std::string kLibraryBytes = "MZ debugger library";
const std::string kEditions[] = {"\\extra1\\bin", "\\extra2\\bin"};

// Windows-1252 text and its two-character form.
const std::string kSingle = "-- Gr\xFC\xDF"
                            "e\r\nprint(\"\xC4rger \xF6\xE4\xDC\xD6\")\r\n";
const std::string kPairs = UmlauteToTwoCharacterForm(kSingle);
const std::string kGuarded = "-- braucht Umlaute()\r\nlocal s = \"\xE4\"\r\n";
// Files that are not single-byte text, with bytes the conversion would change.
const std::string kChunk = "\x1BLua\x54\0\x19\x93\r\n\x1A\n\xE4\xC3\xA4 Umlaute"s;
const std::string kUtf16 = "\xFF\xFE-\0-\0 \0\xE4\0\xC3\0\xA4\0\r\0\n\0"s;

enum class Library { On, Off };

// The calls that by design answer instead of raising: an existence test that
// fails answers "no", registry calls return a status that start-up handles, and
// End cannot fail.
bool Raises(const std::string& call) {
    const std::string operation = call.substr(0, call.find(' '));
    static const std::set<std::string> answering = {
        "FileExists", "RemoveLeftover", "RegOpenKeyExA", "RegQueryValueExA", "RegCloseKey", "End"};
    return answering.count(operation) == 0;
}
std::string OperationOf(const std::string& call) {
    return call.substr(0, call.find(' '));
}

enum class Kind { Load, Launch, Notepad, Convert, Exit };

struct Procedure {
    std::string name;
    Kind kind;
    ControlId control;  // the clicked control (Launch, Notepad, Convert, Exit)
    Library library;    // both editions' debugger library before the click
    std::string before; // the script's bytes before
    std::string after;  // its bytes after a completed conversion
    bool sicherung;
    std::string refusal = {}; // the message for a script that is not converted
    // Held whole up to this many bytes, read in pieces of half as many: small,
    // so that the script goes the way of one too big to hold.
    std::size_t wholeLimit = ScriptLimits().whole;
};

std::vector<Procedure> Procedures() {
    std::vector<Procedure> all;
    all.push_back({"Form_Load", Kind::Load, Command1, Library::On, kSingle, kSingle, true});
    const ControlId modes[] = {SturmtalNormal,       SturmtalDebug,   SturmtalGeschlossen,
                               SturmtalEditor,       EisenmarkNormal, EisenmarkDebug,
                               EisenmarkGeschlossen, EisenmarkEditor};
    for (ControlId mode : modes)
        for (Library library : {Library::On, Library::Off})
            all.push_back({std::string(ControlOf(mode).name) +
                               (library == Library::On ? " (library on)" : " (library off)"),
                           Kind::Launch, mode, library, kSingle, kSingle, true});
    all.push_back({"Notepad_Click", Kind::Notepad, Notepad, Library::On, kSingle, kSingle, true});
    for (bool sicherung : {true, false}) {
        const std::string suffix = sicherung ? " with backup" : " without backup";
        all.push_back({"UmlauteWeg_Click" + suffix, Kind::Convert, UmlauteWeg, Library::On, kSingle,
                       kPairs, sicherung});
        all.push_back({"UmlauteZurueck_Click" + suffix, Kind::Convert, UmlauteZurueck, Library::On,
                       kPairs, kSingle, sicherung});
    }
    // A script too big to hold, converted a piece at a time.
    for (ControlId button : {UmlauteWeg, UmlauteZurueck}) {
        const bool forward = button == UmlauteWeg;
        all.push_back({std::string(ControlOf(button).name) + " in pieces with backup",
                       Kind::Convert,
                       button,
                       Library::On,
                       forward ? kSingle : kPairs,
                       forward ? kPairs : kSingle,
                       true,
                       {},
                       16});
    }
    all.push_back({"UmlauteWeg_Click, guard word answered Yes", Kind::Convert, UmlauteWeg,
                   Library::On, kGuarded, UmlauteToTwoCharacterForm(kGuarded), true});
    all.push_back({"UmlauteWeg_Click, compiled chunk refused", Kind::Convert, UmlauteWeg,
                   Library::On, kChunk, kChunk, true,
                   RefusalText(kScript, ScriptKind::CompiledChunk)});
    all.push_back({"UmlauteZurueck_Click, UTF-16 file refused", Kind::Convert, UmlauteZurueck,
                   Library::On, kUtf16, kUtf16, true, RefusalText(kScript, ScriptKind::Utf16)});
    all.push_back({"Command1_Click", Kind::Exit, Command1, Library::On, kSingle, kSingle, true});
    return all;
}

// A full installation with Notepad++ (found through the 64-bit view) and one script.
struct World {
    FakePlatform fake;
    VelmoStarter starter{fake};
    std::map<std::string, FakePlatform::File> untouched; // files no action may change
    std::map<std::string, FakePlatform::File> atClick;   // all files just before the run

    explicit World(const Procedure& p) {
        fake.SetRegValue("SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath", {reg::Sz, kGame + "\0"s});
        fake.AddRegKey("SOFTWARE\\Notepad++");
        fake.SetRegValue("SOFTWARE\\Notepad++", "", {reg::Sz, kNotepadDir + "\0"s}, true);
        for (const std::string& edition : kEditions) {
            fake.AddFile(kGame + edition + "\\Velmoria.exe", "game");
            fake.AddFile(kGame + edition + "\\VelmoriaMapEditor.exe", "editor");
        }
        fake.AddFile(kNotepadDir + "\\Notepad++.exe", "notepad");
        untouched = fake.files;
        for (const std::string& edition : kEditions)
            fake.AddFile(Library(edition, p.library == Library::On), kLibraryBytes);
        fake.AddFile(kScript, p.before);
        if (p.kind != Kind::Load) {
            EXPECT_TRUE(starter.Load());
            fake.calls.clear();
        }
        starter[Sicherung].value = p.sicherung ? 1 : 0;
        starter.limits = {p.wholeLimit, std::max<std::size_t>(1, p.wholeLimit / 2)};
        atClick = fake.files;
    }
    static std::string Library(const std::string& edition, bool on) {
        return kGame + edition + (on ? "\\LuaDebugger.dll" : "\\LuaDebugger.dll.off");
    }

    // Runs the procedure once, as the window would on its event.
    void Run(const Procedure& p) {
        fake.dialogAnswers = {kScript};
        if (p.kind == Kind::Load)
            starter.Load();
        else
            starter.Click(p.control);
    }
};

// The edition directory a launch mode works in.
std::string EditionOf(ControlId mode) {
    const std::string name(ControlOf(mode).name);
    return name.rfind("Eisenmark", 0) == 0 ? kEditions[0] : kEditions[1];
}
bool SwitchesOn(ControlId mode) {
    return mode == SturmtalGeschlossen || mode == EisenmarkGeschlossen;
}
bool SwitchesOff(ControlId mode) {
    return mode == SturmtalNormal || mode == SturmtalDebug || mode == EisenmarkNormal ||
           mode == EisenmarkDebug;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The error reports among the message boxes shown.
std::size_t Reports(const FakePlatform& fake) {
    return std::count_if(fake.boxes.begin(), fake.boxes.end(), [](const FakePlatform::Box& b) {
        return b.title == "Velmo-Starter" && b.text.rfind("Fehler ", 0) == 0;
    });
}

// What holds after any run, failed or not.
void CheckNothingLost(const Procedure& p, const World& w) {
    const FakePlatform& fake = w.fake;
    // The script: old or new bytes, nothing else.
    const FakePlatform::File* script = fake.FindFile(kScript);
    ASSERT_NE(script, nullptr) << "script gone";
    EXPECT_TRUE(script->bytes == p.before || script->bytes == p.after) << "script half-written";
    // Backups: complete, only with Sicherung, and always there for a replaced script.
    std::size_t backups = 0;
    for (const auto& [name, file] : fake.files) {
        EXPECT_EQ(name.find("velmo-tmp"), std::string::npos) << "left behind: " << name;
        if (!EndsWith(name, ".bak"))
            continue;
        ++backups;
        EXPECT_EQ(file.bytes, p.before) << "incomplete backup " << name;
    }
    if (!p.sicherung) {
        EXPECT_EQ(backups, 0u);
    }
    if (p.sicherung && p.before != p.after && script->bytes == p.after) {
        EXPECT_EQ(backups, 1u);
    }
    EXPECT_LE(backups, 1u);
    // Each debugger library under exactly one of its names, unchanged.
    for (const std::string& edition : kEditions) {
        const auto* on = fake.FindFile(World::Library(edition, true));
        const auto* off = fake.FindFile(World::Library(edition, false));
        EXPECT_TRUE((on == nullptr) != (off == nullptr)) << "library of " << edition;
        if (const auto* lib = on ? on : off) {
            EXPECT_EQ(lib->bytes, kLibraryBytes);
        }
    }
    // Everything else exactly as installed.
    for (const auto& [name, file] : w.untouched) {
        const auto* now = fake.FindFile(name);
        ASSERT_NE(now, nullptr) << name;
        EXPECT_EQ(now->bytes, file.bytes) << name;
    }
    // A refused script: nothing written, renamed or removed, every file as it was.
    if (!p.refusal.empty()) {
        for (const std::string& call : fake.calls)
            for (const char* writing : {"WriteNewFile", "MoveFile", "DeleteFile"})
                EXPECT_NE(call.rfind(writing, 0), 0u) << call;
        EXPECT_EQ(fake.files.size(), w.atClick.size());
        for (const auto& [name, file] : w.atClick) {
            const auto* now = fake.FindFile(name);
            ASSERT_NE(now, nullptr) << name;
            EXPECT_EQ(now->bytes, file.bytes) << name;
            EXPECT_EQ(now->attributes, file.attributes) << name;
        }
    }
    // Messages shown are the error report or the procedures' own ones: for a
    // refused script only its refusal.
    for (const FakePlatform::Box& box : fake.boxes) {
        const bool report = box.title == "Velmo-Starter" && box.text.rfind("Fehler ", 0) == 0;
        const bool own = p.refusal.empty() ? box.text == kDoneMessage || box.title == kGuardTitle
                                           : box.text == p.refusal && box.style == 16 &&
                                                 box.title == "Velmo-Starter";
        EXPECT_TRUE(report || own) << box.text;
        if (report) {
            EXPECT_EQ(box.style, 16);
        }
    }
    // A conversion never keeps the script's text once it is over.
    EXPECT_TRUE(w.starter.texts.ScriptText->empty());
}

// Start-up leaves a window whose visible launch controls all have their program.
void CheckStartUpConsistent(const World& w) {
    const VelmoStarter& s = w.starter;
    EXPECT_EQ(s[Nixda].visible, s.GamePath.empty());
    EXPECT_EQ(s[Notepad].visible, !s.NotepadPath.empty());
    for (ControlId mode : {SturmtalNormal, SturmtalDebug, SturmtalGeschlossen, EisenmarkNormal,
                           EisenmarkDebug, EisenmarkGeschlossen})
        if (s[mode].visible) {
            EXPECT_NE(w.fake.FindFile(s.GamePath + EditionOf(mode) + "\\Velmoria.exe"), nullptr);
        }
    for (ControlId mode : {SturmtalEditor, EisenmarkEditor})
        if (s[mode].visible) {
            EXPECT_NE(w.fake.FindFile(s.GamePath + EditionOf(mode) + "\\VelmoriaMapEditor.exe"),
                      nullptr);
        }
}

// The next click works: the same action again (a conversion for start-up).
void CheckStillUsable(const Procedure& p, World& w) {
    w.fake.failCallIndex.reset();
    w.fake.failOperation.clear();
    w.fake.boxes.clear();
    const std::size_t startsBefore = w.fake.starts.size();
    switch (p.kind) {
    case Kind::Exit:
        EXPECT_TRUE(w.fake.ended); // nothing follows the end
        return;
    case Kind::Load:
        w.fake.dialogAnswers = {kScript};
        w.starter.Click(UmlauteWeg);
        EXPECT_EQ(w.fake.FindFile(kScript)->bytes, kPairs);
        break;
    case Kind::Convert:
        w.Run(p);
        EXPECT_EQ(w.fake.FindFile(kScript)->bytes, p.after);
        if (!p.refusal.empty()) {
            ASSERT_EQ(w.fake.boxes.size(), 1u);
            EXPECT_EQ(w.fake.boxes[0].text, p.refusal);
        }
        break;
    case Kind::Launch: {
        w.Run(p);
        ASSERT_EQ(w.fake.starts.size(), startsBefore + 1);
        const std::string edition = EditionOf(p.control);
        if (SwitchesOn(p.control)) {
            EXPECT_TRUE(w.fake.FindFile(World::Library(edition, true)));
        }
        if (SwitchesOff(p.control)) {
            EXPECT_TRUE(w.fake.FindFile(World::Library(edition, false)));
        }
        break;
    }
    case Kind::Notepad:
        w.Run(p);
        EXPECT_EQ(w.fake.starts.size(), startsBefore + 1);
        break;
    }
    EXPECT_EQ(Reports(w.fake), 0u);
    EXPECT_FALSE(w.fake.ended);
}

// True when step k comes after the script was moved into place (the flush of
// its folder that makes the rename durable).
bool AfterReplacement(const std::vector<std::string>& steps, std::size_t k) {
    for (std::size_t i = 0; i < k; ++i)
        if (OperationOf(steps[i]) == "MoveFile" && EndsWith(steps[i], "| replace"))
            return true;
    return false;
}

TEST(FaultSweep, EveryProcedureWithEachPlatformCallFailing) {
    std::size_t pairs = 0;       // (procedure, failed step)
    std::size_t reportFails = 0; // the same, with the error report's own box failing too
    for (const Procedure& p : Procedures()) {
        SCOPED_TRACE(p.name);
        std::vector<std::string> steps;
        {
            World clean(p);
            clean.Run(p);
            EXPECT_EQ(Reports(clean.fake), 0u);
            CheckNothingLost(p, clean);
            if (p.kind == Kind::Convert) {
                EXPECT_EQ(clean.fake.FindFile(kScript)->bytes, p.after);
            }
            if (!p.refusal.empty()) {
                ASSERT_EQ(clean.fake.boxes.size(), 1u);
                EXPECT_EQ(clean.fake.boxes[0].text, p.refusal);
            }
            steps = clean.fake.calls;
        }
        ASSERT_FALSE(steps.empty());

        for (std::size_t k = 0; k < steps.size(); ++k) {
            SCOPED_TRACE("failing call " + std::to_string(k) + ": " + steps[k]);
            ++pairs;
            World w(p);
            w.fake.failCallIndex = k;
            w.Run(p);
            ASSERT_GT(w.fake.calls.size(), k);
            ASSERT_EQ(w.fake.calls[k], steps[k]) << "the run took another path";

            const bool raises = Raises(steps[k]);
            EXPECT_EQ(Reports(w.fake), raises ? 1u : 0u);
            if (raises) {
                EXPECT_EQ(w.fake.boxes.back().text.rfind("Fehler 5: ", 0), 0u)
                    << w.fake.boxes.back().text;
                // The procedure stops at the failed step: only the removal of its own
                // temporary file, and of the backup made for a script left with its
                // old bytes, may come between it and the report.
                EXPECT_EQ(OperationOf(w.fake.calls.back()), "MsgBox");
                for (std::size_t later = k + 1; later + 1 < w.fake.calls.size(); ++later) {
                    EXPECT_EQ(w.fake.calls[later].rfind("DeleteFile", 0), 0u)
                        << w.fake.calls[later];
                    EXPECT_TRUE(EndsWith(w.fake.calls[later], ".velmo-tmp") ||
                                EndsWith(w.fake.calls[later], ".bak"))
                        << w.fake.calls[later];
                }
            }
            CheckNothingLost(p, w);
            const std::string script = w.fake.FindFile(kScript)->bytes;
            switch (p.kind) {
            case Kind::Load:
                CheckStartUpConsistent(w);
                // An injected close failure leaves that handle to the fake; no other.
                EXPECT_LE(w.fake.openKeys, OperationOf(steps[k]) == "RegCloseKey" ? 1 : 0);
                break;
            case Kind::Launch:
            case Kind::Notepad:
                // A reported error means nothing was started.
                EXPECT_EQ(w.fake.starts.size(), raises ? 0u : 1u);
                break;
            case Kind::Convert:
                // A failed step before the script's replacement leaves the old bytes; only
                // the closing message and making the rename durable come after it.
                if (raises && !(OperationOf(steps[k]) == "MsgBox" &&
                                steps[k].find("Fertig") != std::string::npos)) {
                    EXPECT_EQ(script, AfterReplacement(steps, k) ? p.after : p.before);
                }
                if (!raises) {
                    EXPECT_EQ(script, p.after);
                }
                break;
            case Kind::Exit:
                EXPECT_TRUE(w.fake.ended);
                break;
            }
            CheckStillUsable(p, w);

            if (!raises)
                continue;
            // Once more with every message box failing, the error report's own
            // included: nothing is shown, nothing escapes, nothing is lost.
            ++reportFails;
            World quiet(p);
            quiet.fake.failCallIndex = k;
            quiet.fake.failOperation["MsgBox"] = win_error::AccessDenied;
            EXPECT_NO_THROW(quiet.Run(p));
            EXPECT_TRUE(quiet.fake.boxes.empty());
            CheckNothingLost(p, quiet);
            if (p.kind == Kind::Launch || p.kind == Kind::Notepad) {
                EXPECT_TRUE(quiet.fake.starts.empty());
            }
            CheckStillUsable(p, quiet);
        }
    }
    std::cout << "[ FAULTS   ] " << pairs << " (procedure, failed step) pairs, " << reportFails
              << " of them again with the error report's box failing too\n";
    RecordProperty("procedure_step_pairs", static_cast<int>(pairs));
    RecordProperty("pairs_with_failing_report", static_cast<int>(reportFails));
    EXPECT_GT(pairs, 100u);
}

// A batch from the window over the shared engine (folders with their
// subfolders, the guard word asked once and answered yes, backups on), with
// each of its platform calls failing in turn, the scripts held whole and in
// pieces: the batch never throws, each script is told once, keeps its old
// bytes or has its new ones with exactly one backup holding the old, no
// temporary file stays, a call that raises is told as a failure, and the same
// batch again converts what is left.
TEST(FaultSweep, BatchWithEachPlatformCallFailing) {
    class Heard final : public batch::BatchEvents {
      public:
        void Converted(const std::string& path, std::size_t) override { Told(path); }
        void Unchanged(const std::string& path) override { Told(path); }
        void Skipped(const std::string& path, const batch::Skip&) override { Told(path); }
        void Failed(const std::string& path, const PlatformError&) override {
            Told(path);
            ++failures;
        }
        bool ConvertGuarded(const std::vector<std::string>& scripts) override {
            ++asked;
            EXPECT_EQ(scripts, std::vector<std::string>{"C:\\karte\\g.lua"});
            return true;
        }
        void Told(const std::string& path) { EXPECT_TRUE(told.insert(path).second) << path; }
        std::set<std::string> told;
        std::size_t failures = 0, asked = 0;
    };
    const std::map<std::string, std::string> before = {{"C:\\karte\\a.lua", kSingle},
                                                       {"C:\\karte\\b.lua", kPairs},
                                                       {"C:\\karte\\chunk.lua", kChunk},
                                                       {"C:\\karte\\g.lua", kGuarded},
                                                       {"C:\\karte\\sub\\c.lua", kSingle + "--"}};
    const auto run = [&](FakePlatform& fake, Heard& heard, const ScriptLimits& limits) {
        FakeDirectories dirs(fake);
        batch::BatchRequest request;
        request.paths = {"C:\\karte"};
        request.guardWord = batch::GuardWord::AskOnce;
        request.limits = limits;
        EXPECT_NO_THROW(batch::RunBatch(fake, dirs, request, heard));
    };
    std::size_t pairs = 0;
    for (const ScriptLimits& limits : {ScriptLimits(), ScriptLimits{16, 8}}) {
        SCOPED_TRACE(limits.whole);
        const auto world = [&] {
            auto fake = std::make_unique<FakePlatform>();
            for (const auto& [path, bytes] : before)
                fake->AddFile(path, bytes);
            return fake;
        };
        std::vector<std::string> steps;
        {
            const auto clean = world();
            Heard heard;
            run(*clean, heard, limits);
            EXPECT_EQ(heard.failures, 0u);
            EXPECT_EQ(heard.asked, 1u);
            steps = clean->calls;
        }
        for (std::size_t k = 0; k < steps.size(); ++k) {
            SCOPED_TRACE("failing call " + std::to_string(k) + ": " + steps[k]);
            ++pairs;
            const auto fake = world();
            fake->failCallIndex = k;
            Heard heard;
            run(*fake, heard, limits);
            ASSERT_GT(fake->calls.size(), k);
            ASSERT_EQ(fake->calls[k], steps[k]) << "the run took another path";
            EXPECT_EQ(heard.told.size(), before.size());
            // In a batch these answer too: a backup is copied where no link can
            // be made, files flushed together are flushed one by one when that
            // fails, and a temporary file that cannot be removed stays for the
            // next conversion of its script to remove. The clock, read once
            // for the batch's stamp, is asked again by each backup where it failed.
            const std::string operation = OperationOf(steps[k]);
            const bool leftBehind = operation == "DeleteFile";
            const bool answers =
                operation == "LinkFile" || leftBehind || operation == "Now" ||
                (operation == "FlushFiles" && steps[k].find(" | ") != std::string::npos);
            if (Raises(steps[k]) && !answers) {
                EXPECT_GE(heard.failures, 1u);
            } else {
                EXPECT_EQ(heard.failures, 0u);
            }
            for (const auto& [path, old] : before) {
                const std::string& bytes = fake->FindFile(path)->bytes;
                const std::string converted =
                    path.find("chunk") == std::string::npos ? UmlauteToTwoCharacterForm(old) : old;
                EXPECT_TRUE(bytes == old || bytes == converted) << path;
                // The backup of a replaced script holds its old bytes; none of one not replaced.
                std::vector<std::string> backups;
                const std::string stem = path.substr(0, path.size() - 4) + "_lua_";
                for (const auto& [key, name] : fake->displayNames)
                    if (name.rfind(stem, 0) == 0 && EndsWith(name, ".bak"))
                        backups.push_back(name);
                if (bytes != old) {
                    ASSERT_EQ(backups.size(), 1u) << path;
                    EXPECT_EQ(fake->FindFile(backups[0])->bytes, old);
                } else {
                    EXPECT_TRUE(backups.empty()) << path;
                }
            }
            for (const auto& [key, name] : fake->displayNames)
                if (!(leftBehind && steps[k] == "DeleteFile " + name)) {
                    EXPECT_FALSE(EndsWith(name, ".velmo-tmp")) << name;
                }
            // The next batch converts what is left.
            fake->failCallIndex.reset();
            Heard again;
            run(*fake, again, limits);
            EXPECT_EQ(again.failures, 0u);
            for (const auto& [path, old] : before)
                if (path.find("chunk") == std::string::npos) {
                    EXPECT_EQ(fake->FindFile(path)->bytes, UmlauteToTwoCharacterForm(old)) << path;
                }
        }
    }
    std::cout << "[ FAULTS   ] " << pairs << " (batch, failed step) pairs\n";
    RecordProperty("batch_step_pairs", static_cast<int>(pairs));
    EXPECT_GT(pairs, 40u);
}

// Taking a batch back with each of its platform calls failing in turn, the
// scripts held whole and in pieces: the undo never throws, each script is told
// once, a call that raises is told as a failure (the flush of all backups
// together is retried one by one), and every script holds the
// run's bytes with its backup holding the old, or its old bytes with that
// backup gone; no other name appears. The same undo again puts back the rest.
TEST(FaultSweep, UndoWithEachPlatformCallFailing) {
    class Heard final : public batch::UndoEvents {
      public:
        void PutBack(const std::string& path) override { Told(path); }
        void Left(const std::string& path, batch::UndoLeft) override { Told(path); }
        void Failed(const std::string& path, const PlatformError&) override {
            Told(path);
            ++failures;
        }
        void Told(const std::string& path) { EXPECT_TRUE(told.insert(path).second) << path; }
        std::set<std::string> told;
        std::size_t failures = 0;
    };
    class Made final : public batch::BatchEvents {
      public:
        void BackedUp(const std::string& path, const std::string& backup) override {
            backups.push_back({path, backup});
        }
        std::vector<batch::RunBackup> backups;
    };
    const std::map<std::string, std::string> before = {{"C:\\karte\\a.lua", kSingle},
                                                       {"C:\\karte\\sub\\c.lua", kSingle + "--"}};
    std::size_t pairs = 0;
    for (const ScriptLimits& limits : {ScriptLimits(), ScriptLimits{16, 8}}) {
        SCOPED_TRACE(limits.whole);
        std::vector<batch::RunBackup> backups;
        const auto world = [&] {
            auto fake = std::make_unique<FakePlatform>();
            for (const auto& [path, bytes] : before)
                fake->AddFile(path, bytes);
            FakeDirectories dirs(*fake);
            batch::BatchRequest request;
            request.paths = {"C:\\karte"};
            Made made;
            batch::RunBatch(*fake, dirs, request, made);
            backups = made.backups;
            fake->calls.clear();
            return fake;
        };
        std::vector<std::string> steps;
        {
            const auto clean = world();
            Heard heard;
            batch::UndoRun(*clean, backups, false, heard, limits);
            EXPECT_EQ(heard.failures, 0u);
            EXPECT_EQ(heard.told.size(), before.size());
            steps = clean->calls;
        }
        for (std::size_t k = 0; k < steps.size(); ++k) {
            SCOPED_TRACE("failing call " + std::to_string(k) + ": " + steps[k]);
            ++pairs;
            const auto fake = world();
            ASSERT_EQ(backups.size(), before.size());
            const std::set<std::string> namesBefore = [&] {
                std::set<std::string> names;
                for (const auto& [key, name] : fake->displayNames)
                    names.insert(name);
                return names;
            }();
            fake->failCallIndex = k;
            Heard heard;
            EXPECT_NO_THROW(batch::UndoRun(*fake, backups, false, heard, limits));
            ASSERT_GT(fake->calls.size(), k);
            ASSERT_EQ(fake->calls[k], steps[k]) << "the undo took another path";
            EXPECT_EQ(heard.told.size(), before.size());
            // The backups flushed together are flushed one by one where that fails.
            const bool groupFlush =
                OperationOf(steps[k]) == "FlushFiles" && steps[k].find(" | ") != std::string::npos;
            if (Raises(steps[k]) && !groupFlush) {
                EXPECT_GE(heard.failures, 1u);
            }
            std::set<std::string> expectedNames = namesBefore;
            for (const batch::RunBackup& made : backups) {
                const std::string& old = before.at(made.script);
                const std::string& bytes = fake->FindFile(made.script)->bytes;
                if (bytes == old) {
                    EXPECT_EQ(fake->FindFile(made.backup), nullptr) << made.backup;
                    expectedNames.erase(made.backup);
                } else {
                    EXPECT_EQ(bytes, UmlauteToTwoCharacterForm(old)) << made.script;
                    ASSERT_NE(fake->FindFile(made.backup), nullptr) << made.backup;
                    EXPECT_EQ(fake->FindFile(made.backup)->bytes, old);
                }
            }
            std::set<std::string> names;
            for (const auto& [key, name] : fake->displayNames)
                names.insert(name);
            EXPECT_EQ(names, expectedNames);
            // The same undo again puts back what is left.
            fake->failCallIndex.reset();
            Heard again;
            batch::UndoRun(*fake, backups, false, again, limits);
            EXPECT_EQ(again.failures, 0u);
            for (const auto& [path, old] : before)
                EXPECT_EQ(fake->FindFile(path)->bytes, old) << path;
        }
    }
    std::cout << "[ FAULTS   ] " << pairs << " (undo, failed step) pairs\n";
    RecordProperty("undo_step_pairs", static_cast<int>(pairs));
    EXPECT_GT(pairs, 10u);
}

} // namespace
} // namespace velmo
