// The launch actions of the real launcher, clicked in its window: what each one
// starts (program, arguments, working directory, window state), what it does to
// the debugger library, and how the launcher ends. The started programs are
// stand-ins that log how they were started.
#include "Harness.h"

#include <gtest/gtest.h>

#include <optional>

namespace velmo::e2e {
namespace {

class LaunchE2E : public ::testing::Test {
  protected:
    void TearDown() override {
        launcher.reset();
        TerminateProcesses(stayingProcesses);
    }

    // A game installation at `gamePath` with both editions and both programs, a
    // Notepad++ at `notepadDir`, the registry naming both, and the launcher
    // started on them with its window shown.
    void StartLauncher(const std::wstring& gamePath, Library eisenmark, Library sturmtal,
                       const std::wstring& notepadDir) {
        game.emplace(gamePath, eisenmark, sturmtal);
        notepad = MakeNotepadInstall(notepadDir);
        registry.emplace(gamePath, notepadDir);
        launcher.emplace();
        launcher->StartAndWaitForWindow();
    }
    void StartLauncher(Library eisenmark, Library sturmtal) {
        StartLauncher(temp / L"Spiele\\Velmoria", eisenmark, sturmtal, temp / L"Notepad++");
    }

    // Clicks and waits until the stand-in it starts has logged; returns that start.
    StandinStart ClickAndWaitForStart(ControlId id) {
        const std::size_t before = log.Read().size();
        if (ControlOf(id).kind == ControlKind::Image)
            launcher->ClickImage(id);
        else
            launcher->ClickButton(id);
        return log.WaitForCount(before + 1).at(before);
    }

    TempDir temp{L"velmo-launch"};
    StandinLog log{temp / L"starts.log"};
    std::optional<GameInstall> game;
    std::wstring notepad;
    std::optional<LauncherRegistry> registry;
    std::optional<Launcher> launcher;
    std::vector<DWORD> stayingProcesses;
};

// A started program as the launcher must start it: by its full path, with the
// arguments given, in its own directory, maximized.
void ExpectStarted(const StandinStart& start, const std::wstring& program,
                   const std::wstring& arguments) {
    EXPECT_TRUE(SamePath(start.program, program)) << start << "\nexpected " << Narrow(program);
    EXPECT_TRUE(SamePath(start.ProgramToken(), program)) << start;
    EXPECT_EQ(start.Arguments(), arguments) << start;
    EXPECT_TRUE(SamePath(start.directory, DirectoryOf(program))) << start;
    EXPECT_EQ(start.showState, SW_SHOWMAXIMIZED) << start;
}

// The library files of an edition are in `state`, each with the content it got
// under the name `origin` had (so a renamed file is known from a new one).
void ExpectLibrary(const GameInstall& game, Edition edition, Library state, Library origin) {
    ASSERT_EQ(game.LibraryState(edition), state) << ToString(edition);
    if (state == Library::On || state == Library::Off) {
        EXPECT_EQ(ReadFileBytes(state == Library::On ? game.LibraryOn(edition)
                                                     : game.LibraryOff(edition)),
                  GameInstall::LibraryContent(edition, origin))
            << ToString(edition);
    }
}

Edition Other(Edition edition) {
    return edition == Edition::Eisenmark ? Edition::Sturmtal : Edition::Eisenmark;
}

constexpr wchar_t kDebugScript[] = L"-debugscript";

struct ModeCase {
    ControlId control;
    Edition edition;
    bool mapEditor;
    const wchar_t* arguments;
    Library before;
    Library after;
};

// Normal and Debug switch the library off, Geschlossen switches it on, the editor
// never renames; a library already in place, or missing, is left alone. Eisenmark
// passes -debugscript in all three game modes, Sturmtal only in Debug.
constexpr ModeCase kModeCases[] = {
    {SturmtalNormal, Edition::Sturmtal, false, L"", Library::On, Library::Off},
    {SturmtalNormal, Edition::Sturmtal, false, L"", Library::Off, Library::Off},
    {SturmtalNormal, Edition::Sturmtal, false, L"", Library::None, Library::None},
    {SturmtalDebug, Edition::Sturmtal, false, kDebugScript, Library::On, Library::Off},
    {SturmtalDebug, Edition::Sturmtal, false, kDebugScript, Library::Off, Library::Off},
    {SturmtalDebug, Edition::Sturmtal, false, kDebugScript, Library::None, Library::None},
    {SturmtalGeschlossen, Edition::Sturmtal, false, L"", Library::Off, Library::On},
    {SturmtalGeschlossen, Edition::Sturmtal, false, L"", Library::On, Library::On},
    {SturmtalGeschlossen, Edition::Sturmtal, false, L"", Library::None, Library::None},
    {SturmtalEditor, Edition::Sturmtal, true, L"", Library::On, Library::On},
    {SturmtalEditor, Edition::Sturmtal, true, L"", Library::Off, Library::Off},
    {EisenmarkNormal, Edition::Eisenmark, false, kDebugScript, Library::On, Library::Off},
    {EisenmarkNormal, Edition::Eisenmark, false, kDebugScript, Library::Off, Library::Off},
    {EisenmarkNormal, Edition::Eisenmark, false, kDebugScript, Library::None, Library::None},
    {EisenmarkDebug, Edition::Eisenmark, false, kDebugScript, Library::On, Library::Off},
    {EisenmarkDebug, Edition::Eisenmark, false, kDebugScript, Library::Off, Library::Off},
    {EisenmarkDebug, Edition::Eisenmark, false, kDebugScript, Library::None, Library::None},
    {EisenmarkGeschlossen, Edition::Eisenmark, false, kDebugScript, Library::Off, Library::On},
    {EisenmarkGeschlossen, Edition::Eisenmark, false, kDebugScript, Library::On, Library::On},
    {EisenmarkGeschlossen, Edition::Eisenmark, false, kDebugScript, Library::None, Library::None},
    {EisenmarkEditor, Edition::Eisenmark, true, L"", Library::On, Library::On},
    {EisenmarkEditor, Edition::Eisenmark, true, L"", Library::Off, Library::Off},
};

// One launcher for all cases: the library files are set up afresh before each
// click, in both editions alike, so a rename in the wrong edition shows.
TEST_F(LaunchE2E, EachPortraitStartsItsProgramAndSwitchesTheLibrary) {
    StartLauncher(Library::On, Library::On);
    for (const ModeCase& c : kModeCases) {
        SCOPED_TRACE(std::string(ControlOf(c.control).name) + " with " + ToString(c.before));
        game->SetLibrary(Edition::Eisenmark, c.before);
        game->SetLibrary(Edition::Sturmtal, c.before);

        const StandinStart start = ClickAndWaitForStart(c.control);

        ExpectStarted(start, c.mapEditor ? game->MapEditor(c.edition) : game->Game(c.edition),
                      c.arguments);
        ExpectLibrary(*game, c.edition, c.after, c.before);
        ExpectLibrary(*game, Other(c.edition), c.before, c.before);
    }
    // Nothing else was started on the way, and the launcher stays open.
    Sleep(500);
    EXPECT_EQ(log.Read().size(), std::size(kModeCases));
    EXPECT_TRUE(launcher->IsRunning());
}

TEST_F(LaunchE2E, GeschlossenTwiceSwitchesOnceAndStartsTwice) {
    StartLauncher(Library::Off, Library::Off);
    for (auto [control, edition] : {std::pair{SturmtalGeschlossen, Edition::Sturmtal},
                                    std::pair{EisenmarkGeschlossen, Edition::Eisenmark}}) {
        SCOPED_TRACE(ControlOf(control).name);
        const StandinStart first = ClickAndWaitForStart(control);
        ExpectLibrary(*game, edition, Library::On, Library::Off);
        const StandinStart second = ClickAndWaitForStart(control);
        ExpectLibrary(*game, edition, Library::On, Library::Off);
        EXPECT_EQ(second.commandLine, first.commandLine);
        EXPECT_TRUE(SamePath(second.program, game->Game(edition))) << second;
        EXPECT_NE(second.processId, first.processId);
    }
}

// With both names present the rename cannot succeed: the error is reported,
// nothing is started, both files stay, and the launcher goes on running.
TEST_F(LaunchE2E, BothLibraryNamesReportTheErrorAndStartNothing) {
    StartLauncher(Library::Both, Library::Both);
    for (ControlId control : {SturmtalNormal, SturmtalDebug, SturmtalGeschlossen, EisenmarkNormal,
                              EisenmarkDebug, EisenmarkGeschlossen}) {
        SCOPED_TRACE(ControlOf(control).name);
        launcher->ClickImage(control);
        HWND box = launcher->WaitForMessageBox();
        const MessageBoxInfo message = Launcher::ReadMessageBox(box);
        EXPECT_EQ(message.title, L"Velmo-Starter");
        // MoveFileEx reports an existing target as ERROR_ALREADY_EXISTS (183).
        EXPECT_EQ(message.text.rfind(L"Fehler 183", 0), 0u) << Narrow(message.text);
        Launcher::PressDialogButton(box, IDOK);
        launcher->WaitForNoDialog();

        Sleep(300);
        EXPECT_TRUE(log.Read().empty());
        EXPECT_TRUE(launcher->IsRunning());
        EXPECT_TRUE(IsWindowVisible(launcher->MainWindow()));
        for (Edition edition : {Edition::Eisenmark, Edition::Sturmtal}) {
            ASSERT_EQ(game->LibraryState(edition), Library::Both);
            EXPECT_EQ(ReadFileBytes(game->LibraryOn(edition)),
                      GameInstall::LibraryContent(edition, Library::On));
            EXPECT_EQ(ReadFileBytes(game->LibraryOff(edition)),
                      GameInstall::LibraryContent(edition, Library::Off));
        }
    }
}

// Game and Notepad++ below "...\Program Files\", and a "...\Program.exe" beside
// that folder: the program an unquoted command line would run. It must never run.
TEST_F(LaunchE2E, PathsWithBlanksNeverRunAPlantedProgram) {
    const std::wstring planted = temp / L"Program.exe";
    const std::wstring gamePath = temp / L"Program Files\\Velmoria";
    const std::wstring notepadDir = temp / L"Program Files\\Notepad++";
    CopyFileTo(StandinExe(), planted);

    StartLauncher(gamePath, Library::On, Library::Off, notepadDir);

    // The trap works: on this system the unquoted text runs the planted program.
    // (No program name given, nothing quoted: Windows tries "...\\Program.exe" first.)
    RunToEnd({}, game->Game(Edition::Eisenmark) + L" -debugscript");
    const StandinStart trapped = log.WaitForCount(1).front();
    ASSERT_TRUE(SamePath(trapped.program, planted))
        << "an unquoted command line did not run " << Narrow(planted) << ": " << trapped;
    log.Clear();

    const std::pair<ControlId, std::wstring> clicks[] = {
        {EisenmarkNormal, game->Game(Edition::Eisenmark)},
        {EisenmarkEditor, game->MapEditor(Edition::Eisenmark)},
        {SturmtalGeschlossen, game->Game(Edition::Sturmtal)},
        {SturmtalDebug, game->Game(Edition::Sturmtal)},
        {SturmtalEditor, game->MapEditor(Edition::Sturmtal)},
        {Notepad, notepad},
    };
    for (const auto& [control, program] : clicks) {
        SCOPED_TRACE(ControlOf(control).name);
        const StandinStart start = ClickAndWaitForStart(control);
        EXPECT_TRUE(SamePath(start.program, program)) << start;
        EXPECT_TRUE(SamePath(start.ProgramToken(), program)) << start;
    }
    Sleep(500);
    for (const StandinStart& start : log.Read())
        EXPECT_FALSE(SamePath(start.program, planted)) << start;
    EXPECT_EQ(log.Read().size(), std::size(clicks));
}

TEST_F(LaunchE2E, NotepadTwiceStartsTwoEditorsWithoutArguments) {
    StartLauncher(Library::On, Library::On);
    const StandinStart first = ClickAndWaitForStart(Notepad);
    const StandinStart second = ClickAndWaitForStart(Notepad);
    for (const StandinStart& start : {first, second})
        ExpectStarted(start, notepad, L"");
    EXPECT_NE(first.processId, second.processId);
}

// "Beenden" ends the launcher at once; the programs it started keep running.
TEST_F(LaunchE2E, BeendenEndsTheLauncherButNotWhatItStarted) {
    ScopedEnvironment stay(L"VELMO_STANDIN_STAY", L"1");
    StartLauncher(Library::On, Library::Off);
    for (ControlId control : {SturmtalNormal, Notepad})
        stayingProcesses.push_back(ClickAndWaitForStart(control).processId);

    launcher->ClickButton(Command1);
    EXPECT_EQ(launcher->WaitForExit(), 0u);
    Sleep(300);
    for (DWORD id : stayingProcesses)
        EXPECT_TRUE(IsProcessRunning(id)) << "process " << id;
}

// The focus starts on "Beenden", so the space bar right after start ends the launcher.
TEST_F(LaunchE2E, SpaceRightAfterStartEndsTheLauncher) {
    StartLauncher(Library::On, Library::On);
    ASSERT_EQ(launcher->FocusedWindow(), launcher->Control(Command1));
    launcher->PressKey(VK_SPACE);
    EXPECT_EQ(launcher->WaitForExit(), 0u);
    EXPECT_TRUE(log.Read().empty());
}

// The stand-in itself: it must log exactly how it was started, or the tests
// above would check nothing.
TEST_F(LaunchE2E, StandinLogsHowItWasStarted) {
    const std::wstring program = temp / L"Ordner mit Leerzeichen\\Stand In.exe";
    const std::wstring workDir = temp / L"arbeit";
    CopyFileTo(StandinExe(), program);
    CreateDirectories(workDir);

    const struct {
        std::wstring commandLine;
        std::optional<WORD> showState;
    } cases[] = {
        {L"\"" + program + L"\" -debugscript \"zwei Worte\"", SW_SHOWMAXIMIZED},
        {L"\"" + program + L"\"", SW_SHOWMINNOACTIVE},
        {L"\"" + program + L"\"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.commandLine));
        log.Clear();
        // Logging only, it ends at once.
        const DWORD processId = RunToEnd(program, c.commandLine, workDir, c.showState);

        const auto starts = log.WaitForCount(1);
        ASSERT_EQ(starts.size(), 1u);
        const StandinStart& start = starts.front();
        EXPECT_TRUE(SamePath(start.program, program)) << start;
        EXPECT_EQ(start.commandLine, c.commandLine);
        EXPECT_TRUE(SamePath(start.directory, workDir)) << start;
        EXPECT_EQ(start.showState, c.showState ? *c.showState : -1);
        EXPECT_EQ(start.processId, processId);
    }
}

} // namespace
} // namespace velmo::e2e
