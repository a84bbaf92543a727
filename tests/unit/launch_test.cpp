// The eight edition modes, Notepad++ and exit.
#include "app/VelmoStarter.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

constexpr char kGame[] = "C:\\Program Files\\Velmoria";

enum class Library { On, Off, Absent, Both };

struct Expect {
    ControlId control;
    const char* dir;     // edition directory
    const char* program; // started program's file name
    const char* args;
    int libraryStep; // +1 switch on, -1 switch off, 0 none
};

constexpr Expect kModes[] = {
    {SturmtalNormal, "\\extra2\\bin", "Velmoria.exe", "", -1},
    {SturmtalDebug, "\\extra2\\bin", "Velmoria.exe", "-debugscript", -1},
    {SturmtalGeschlossen, "\\extra2\\bin", "Velmoria.exe", "", +1},
    {SturmtalEditor, "\\extra2\\bin", "VelmoriaMapEditor.exe", "", 0},
    {EisenmarkNormal, "\\extra1\\bin", "Velmoria.exe", "-debugscript", -1},
    {EisenmarkDebug, "\\extra1\\bin", "Velmoria.exe", "-debugscript", -1},
    {EisenmarkGeschlossen, "\\extra1\\bin", "Velmoria.exe", "-debugscript", +1},
    {EisenmarkEditor, "\\extra1\\bin", "VelmoriaMapEditor.exe", "", 0},
};

// A loaded launcher over a full installation whose libraries are in `state`.
struct Installed {
    FakePlatform fake;
    VelmoStarter starter{fake};
    explicit Installed(Library state) {
        fake.SetRegValue("SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath", {reg::Sz, kGame + "\0"s});
        for (const char* edition : {"\\extra1\\bin\\", "\\extra2\\bin\\"}) {
            const std::string dir = kGame + std::string(edition);
            fake.AddFile(dir + "Velmoria.exe", "game");
            fake.AddFile(dir + "VelmoriaMapEditor.exe", "editor");
            if (state == Library::On || state == Library::Both)
                fake.AddFile(dir + "LuaDebugger.dll", "on");
            if (state == Library::Off || state == Library::Both)
                fake.AddFile(dir + "LuaDebugger.dll.off", "off");
        }
        starter.Load();
        fake.calls.clear();
    }
    bool Has(const std::string& dir, const char* name) const {
        return fake.FindFile(kGame + dir + "\\" + name) != nullptr;
    }
};

TEST(LaunchModes, EveryModeInEveryLibraryState) {
    for (const Expect& mode : kModes) {
        for (Library state : {Library::On, Library::Off, Library::Absent, Library::Both}) {
            Installed world(state);
            const auto visibleBefore = world.starter.controls;
            world.starter.Click(mode.control);
            const std::string where = std::string(ControlOf(mode.control).name) + " state " +
                                      std::to_string(static_cast<int>(state));
            const std::string other =
                std::string(mode.dir) == "\\extra1\\bin" ? "\\extra2\\bin" : "\\extra1\\bin";
            // The other edition is never touched.
            EXPECT_EQ(world.Has(other, "LuaDebugger.dll"),
                      state == Library::On || state == Library::Both)
                << where;
            EXPECT_EQ(world.Has(other, "LuaDebugger.dll.off"),
                      state == Library::Off || state == Library::Both)
                << where;

            const bool renameFails = state == Library::Both && mode.libraryStep != 0;
            if (renameFails) {
                EXPECT_TRUE(world.fake.starts.empty()) << where;
                ASSERT_EQ(world.fake.boxes.size(), 1u) << where;
                EXPECT_EQ(world.fake.boxes[0].title, "Velmo-Starter");
                EXPECT_NE(world.fake.boxes[0].text.find("183"), std::string::npos) << where;
                EXPECT_TRUE(world.Has(mode.dir, "LuaDebugger.dll") &&
                            world.Has(mode.dir, "LuaDebugger.dll.off"));
                continue;
            }
            ASSERT_EQ(world.fake.starts.size(), 1u) << where;
            const auto& start = world.fake.starts[0];
            EXPECT_EQ(start.program, kGame + std::string(mode.dir) + "\\" + mode.program) << where;
            EXPECT_EQ(start.arguments, mode.args) << where;
            EXPECT_EQ(start.workingDir, kGame + std::string(mode.dir)) << where;
            EXPECT_EQ(start.showStyle, 3);
            EXPECT_TRUE(world.fake.boxes.empty()) << where;

            bool on = state == Library::On, off = state == Library::Off;
            if (mode.libraryStep < 0 && on)
                on = false, off = true;
            if (mode.libraryStep > 0 && off)
                on = true, off = false;
            EXPECT_EQ(world.Has(mode.dir, "LuaDebugger.dll"), on || state == Library::Both)
                << where;
            EXPECT_EQ(world.Has(mode.dir, "LuaDebugger.dll.off"), off || state == Library::Both)
                << where;
            // Visibility never changes after start-up.
            for (const Control& c : kControls)
                EXPECT_EQ(world.starter[c.id].visible, visibleBefore[c.id].visible) << where;
        }
    }
}

TEST(LaunchModes, GeschlossenTwiceRenamesOnceAndStartsTwice) {
    Installed world(Library::Off);
    world.starter.Click(SturmtalGeschlossen);
    world.starter.Click(SturmtalGeschlossen);
    EXPECT_EQ(world.fake.starts.size(), 2u);
    EXPECT_EQ(std::count_if(world.fake.calls.begin(), world.fake.calls.end(),
                            [](const std::string& c) { return c.rfind("MoveFile", 0) == 0; }),
              1);
    EXPECT_TRUE(world.Has("\\extra2\\bin", "LuaDebugger.dll"));
}

TEST(LaunchModes, FailedStartKeepsTheRenameAndTheLauncherOpen) {
    Installed world(Library::On);
    world.fake.failOperation["StartProcess"] = 2;
    world.starter.Click(EisenmarkNormal);
    EXPECT_TRUE(world.Has("\\extra1\\bin", "LuaDebugger.dll.off"));
    ASSERT_EQ(world.fake.boxes.size(), 1u);
    EXPECT_EQ(world.fake.boxes[0].text.rfind("Fehler 2: ", 0), 0u);
    EXPECT_FALSE(world.fake.ended);
    world.fake.failOperation.clear();
    world.starter.Click(EisenmarkEditor); // still usable
    EXPECT_EQ(world.fake.starts.size(), 1u);
}

TEST(NotepadAndExit, NotepadStartsEachClickAndExitEnds) {
    FakePlatform fake;
    fake.SetRegValue("SOFTWARE\\Notepad++", "", {reg::Sz, "C:\\Program Files\\Notepad++\0"s});
    fake.AddFile("C:\\Program Files\\Notepad++\\Notepad++.exe", "");
    VelmoStarter starter(fake);
    starter.Load();
    starter.Click(Notepad);
    starter.Click(Notepad);
    ASSERT_EQ(fake.starts.size(), 2u);
    EXPECT_EQ(fake.starts[1].program, "C:\\Program Files\\Notepad++\\Notepad++.exe");
    EXPECT_EQ(fake.starts[1].arguments, "");
    EXPECT_EQ(fake.starts[1].showStyle, 3);
    EXPECT_FALSE(fake.ended);
    starter.Click(Command1);
    EXPECT_TRUE(fake.ended);
}

TEST(NotepadAndExit, MissingNotepadExeIsReported) {
    FakePlatform fake;
    fake.SetRegValue("SOFTWARE\\Notepad++", "", {reg::Sz, "C:\\Leer\0"s});
    VelmoStarter starter(fake);
    starter.Load();
    starter.Click(Notepad);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Fehler 2: Systemfehler 2\r\rC:\\Leer\\Notepad++.exe");
}

TEST(Wiring, OnlyTheWiredControlsHaveProcedures) {
    std::set<ControlId> wired;
    for (const Control& c : kControls)
        if (VelmoStarter::HasClickProcedure(c.id))
            wired.insert(c.id);
    const std::set<ControlId> expected = {
        Command1,        Notepad,        UmlauteWeg,           UmlauteZurueck,
        EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen, EisenmarkEditor,
        SturmtalNormal,  SturmtalDebug,  SturmtalGeschlossen,  SturmtalEditor};
    EXPECT_EQ(wired, expected);
    FakePlatform fake;
    VelmoStarter starter(fake);
    for (ControlId id : {Picture7, Picture3, Normal, Eisenmark, Sturmtal, Nixda, Meldung})
        starter.Click(id);
    EXPECT_TRUE(fake.calls.empty());
}

// Tooltips: the conversion buttons say that files and folders can be dropped
// on them, the check boxes what they do; a game mode what it does with its
// edition's debugger library and the library's state on the disk as the
// tooltip comes up, without changing anything.
TEST(LaunchModes, TooltipsTellTheDebuggerLibrarysStateAsItIsNow) {
    const std::string off = "schaltet LuaDebugger.dll aus", on = "schaltet LuaDebugger.dll ein";
    const struct {
        Library state;
        ControlId control;
        std::string tip;
    } cases[] = {
        {Library::On, EisenmarkNormal,
         "Eisenmark \xE2\x80\x93 Normal starten (Taste 1)\n" + off + " (jetzt: eingeschaltet)"},
        {Library::Off, SturmtalDebug,
         "Sturmtal \xE2\x80\x93 Debug starten (Taste Umschalt+2)\n" + off +
             " (jetzt: ausgeschaltet)"},
        {Library::Off, SturmtalGeschlossen,
         "Sturmtal \xE2\x80\x93 Geschlossen starten (Taste Umschalt+3)\n" + on +
             " (jetzt: ausgeschaltet)"},
        {Library::Both, EisenmarkGeschlossen,
         "Eisenmark \xE2\x80\x93 Geschlossen starten (Taste 3)\n" + on +
             " (jetzt: LuaDebugger.dll und LuaDebugger.dll.off zugleich)"},
        {Library::Absent, EisenmarkDebug,
         "Eisenmark \xE2\x80\x93 Debug starten (Taste 2)\n" + off + " (jetzt: nicht vorhanden)"},
        {Library::On, EisenmarkEditor, "Eisenmark \xE2\x80\x93 Editor starten (Taste 4)"},
        {Library::On, Notepad, "Notepad++ starten (Taste N)"},
        {Library::On, UmlauteWeg,
         "Umlaute f\xC3\xBCr Velmo umwandeln \xE2\x80\x93 Skript w\xC3\xA4hlen, oder Dateien "
         "und Ordner hierher ziehen"},
        {Library::On, UmlauteZurueck,
         "Umlaute f\xC3\xBCr mich umwandeln \xE2\x80\x93 Skript w\xC3\xA4hlen, oder Dateien "
         "und Ordner hierher ziehen"},
        {Library::On, Meldung, std::string(kMeldungTip)},
        {Library::On, Sicherung, std::string(kSicherungTip)},
        {Library::On, Eisenmark, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tip);
        Installed world(c.state);
        const auto files = world.fake.files;
        EXPECT_EQ(world.starter.Tip(c.control), c.tip);
        EXPECT_EQ(world.fake.files.size(), files.size());
        EXPECT_TRUE(world.fake.starts.empty());
    }
    // Renamed by another program after start-up: the next tooltip says so.
    Installed world(Library::On);
    world.fake.MoveFile(kGame + "\\extra1\\bin\\LuaDebugger.dll"s,
                        kGame + "\\extra1\\bin\\LuaDebugger.dll.off"s, false);
    EXPECT_EQ(world.starter.DebuggerTip(EisenmarkGeschlossen), on + " (jetzt: ausgeschaltet)");
    EXPECT_EQ(world.starter.DebuggerTip(SturmtalGeschlossen), on + " (jetzt: eingeschaltet)");
}

} // namespace
} // namespace velmo
