// Start-up detection: which controls stay visible for which installation.
#include "app/VelmoStarter.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

constexpr char kGame[] = "C:\\Spiele\\Velmoria";

struct Install {
    const char* name;
    std::set<std::string> files; // relative to the game directory
    std::set<ControlId> hidden;  // expected hidden after start-up, Notepad aside
};

void Register(FakePlatform& fake, const std::string& installPath) {
    fake.SetRegValue("SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath", {reg::Sz, installPath + '\0'});
    fake.SetRegValue("SOFTWARE\\Notepad++", "", {reg::Sz, "C:\\Notepad++\0"s});
}

std::set<ControlId> HiddenAfterLoad(VelmoStarter& starter) {
    std::set<ControlId> hidden;
    for (const Control& c : kControls)
        if (c.kind != ControlKind::Dialog && !starter[c.id].visible)
            hidden.insert(c.id);
    return hidden;
}

TEST(FormLoad, VisibilityRulesForInstallations) {
    const std::set<std::string> everything = {
        "\\extra1\\bin\\Velmoria.exe",          "\\extra1\\bin\\VelmoriaMapEditor.exe",
        "\\extra1\\bin\\LuaDebugger.dll",       "\\extra2\\bin\\Velmoria.exe",
        "\\extra2\\bin\\VelmoriaMapEditor.exe", "\\extra2\\bin\\LuaDebugger.dll.off"};
    const Install cases[] = {
        {"all present", everything, {Nixda}},
        {"only extra1, library off",
         {"\\extra1\\bin\\Velmoria.exe", "\\extra1\\bin\\VelmoriaMapEditor.exe",
          "\\extra1\\bin\\LuaDebugger.dll.off"},
         {Nixda, Sturmtal, SturmtalNormal, SturmtalDebug, SturmtalGeschlossen, SturmtalEditor}},
        {"both editions, no library",
         {"\\extra1\\bin\\Velmoria.exe", "\\extra1\\bin\\VelmoriaMapEditor.exe",
          "\\extra2\\bin\\Velmoria.exe", "\\extra2\\bin\\VelmoriaMapEditor.exe"},
         {Nixda, Geschlossen, EisenmarkGeschlossen, SturmtalGeschlossen}},
        {"games only, library only in extra2",
         {"\\extra1\\bin\\Velmoria.exe", "\\extra2\\bin\\Velmoria.exe",
          "\\extra2\\bin\\LuaDebugger.dll"},
         {Nixda, EisenmarkGeschlossen, EisenmarkEditor, SturmtalEditor, Editor}},
        {"map editor without game, library present",
         {"\\extra1\\bin\\VelmoriaMapEditor.exe", "\\extra1\\bin\\LuaDebugger.dll"},
         {Nixda, EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen, Sturmtal, SturmtalNormal,
          SturmtalDebug, SturmtalGeschlossen, SturmtalEditor}},
        {"game without map editor, the other edition has one",
         {"\\extra1\\bin\\Velmoria.exe", "\\extra2\\bin\\VelmoriaMapEditor.exe"},
         {Nixda, Geschlossen, EisenmarkGeschlossen, EisenmarkEditor, SturmtalNormal, SturmtalDebug,
          SturmtalGeschlossen}},
        {"registered, nothing there",
         {},
         {Nixda, Eisenmark, EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen, EisenmarkEditor,
          Sturmtal, SturmtalNormal, SturmtalDebug, SturmtalGeschlossen, SturmtalEditor, Geschlossen,
          Editor}},
    };
    for (const Install& install : cases) {
        FakePlatform fake;
        Register(fake, kGame);
        for (const std::string& file : install.files)
            fake.AddFile(kGame + file, "");
        VelmoStarter starter(fake);
        ASSERT_TRUE(starter.Load()) << install.name;
        EXPECT_EQ(HiddenAfterLoad(starter), install.hidden) << install.name;
        EXPECT_EQ(starter.GamePath, kGame);
        EXPECT_EQ(starter.NotepadPath, "C:\\Notepad++");
        EXPECT_TRUE(fake.boxes.empty()) << install.name;
    }
}

TEST(FormLoad, ProbesInOrderWithTheCleanedPath) {
    FakePlatform fake;
    Register(fake, " D:\\Velmo ");
    VelmoStarter starter(fake);
    starter.Load();
    EXPECT_EQ(starter.GamePath, "D:\\Velmo "); // leading blank gone, trailing blank kept
    std::vector<std::string> probes;
    for (const std::string& call : fake.calls)
        if (call.rfind("FileExists ", 0) == 0)
            probes.push_back(call.substr(11));
    const std::vector<std::string> expected = {"D:\\Velmo \\extra1\\bin\\Velmoria.exe",
                                               "D:\\Velmo \\extra2\\bin\\Velmoria.exe",
                                               "D:\\Velmo \\extra1\\bin\\VelmoriaMapEditor.exe",
                                               "D:\\Velmo \\extra2\\bin\\VelmoriaMapEditor.exe",
                                               "D:\\Velmo \\extra1\\bin\\LuaDebugger.dll.off",
                                               "D:\\Velmo \\extra1\\bin\\LuaDebugger.dll",
                                               "D:\\Velmo \\extra2\\bin\\LuaDebugger.dll.off",
                                               "D:\\Velmo \\extra2\\bin\\LuaDebugger.dll"};
    EXPECT_EQ(probes, expected);
}

TEST(FormLoad, GameNotRegisteredShowsTheNotice) {
    struct Case {
        const char* name;
        void (*setUp)(FakePlatform&);
    };
    const Case cases[] = {
        {"no key", [](FakePlatform&) {}},
        {"key without InstallPath",
         [](FakePlatform& f) { f.AddRegKey("SOFTWARE\\Quarzwerk\\Velmoria"); }},
        {"empty InstallPath",
         [](FakePlatform& f) {
             f.SetRegValue("SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath", {reg::Sz, ""});
         }},
        {"InstallPath of another type",
         [](FakePlatform& f) {
             f.SetRegValue("SOFTWARE\\Quarzwerk\\Velmoria", "InstallPath", {reg::Binary, "x"});
         }},
    };
    for (const Case& c : cases) {
        FakePlatform fake;
        c.setUp(fake);
        VelmoStarter starter(fake);
        ASSERT_TRUE(starter.Load()) << c.name;
        const std::set<ControlId> expected = {
            Eisenmark,   EisenmarkNormal, EisenmarkDebug, EisenmarkGeschlossen, EisenmarkEditor,
            Sturmtal,    SturmtalNormal,  SturmtalDebug,  SturmtalGeschlossen,  SturmtalEditor,
            Geschlossen, Editor,          Notepad};
        EXPECT_EQ(HiddenAfterLoad(starter), expected) << c.name;
        EXPECT_TRUE(starter[Nixda].visible);
        EXPECT_FALSE(starter[Nixda].enabled);
        EXPECT_TRUE(starter.GamePath.empty());
        EXPECT_TRUE(starter.NotepadPath.empty());
        // The Notepad++ lookup still ran, in both views.
        EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(),
                             "RegOpenKeyExA SOFTWARE\\Notepad++ | 0 | 513"),
                  1)
            << c.name;
    }
}

TEST(FormLoad, NotepadFoundInThe64BitViewStaysVisible) {
    FakePlatform fake;
    fake.AddRegKey("SOFTWARE\\Notepad++");
    fake.SetRegValue("SOFTWARE\\Notepad++", "", {reg::Sz, "C:\\Program Files\\Notepad++\0"s}, true);
    VelmoStarter starter(fake);
    starter.Load();
    EXPECT_TRUE(starter[Notepad].visible);
    EXPECT_EQ(starter.NotepadPath, "C:\\Program Files\\Notepad++");
}

TEST(FormLoad, FreshStateHasBothCheckBoxesChecked) {
    FakePlatform fake;
    VelmoStarter starter(fake);
    EXPECT_EQ(starter[Meldung].value, 1);
    EXPECT_EQ(starter[Sicherung].value, 1);
    EXPECT_FALSE(starter[Nixda].visible);
}

} // namespace
} // namespace velmo
