// Shared by the end-to-end tests, which run the real launcher (under Wine on
// Linux) and drive its window from outside, as a user would.
//
// What is here:
//   - where the programs under test are (LauncherExe, StandinExe, PlantedDll);
//   - a temporary directory per test and small file helpers (from the Win32
//     test-support library);
//   - the registry values the launcher reads at start-up, set for one test;
//   - a fake game installation and a fake Notepad++ made of stand-in copies;
//   - the log the stand-ins write, telling what was started and how;
//   - the launcher as a process: start it, find its window and controls, click
//     them, press keys, answer its message boxes and open-file dialog, wait for
//     it to end;
//   - pictures of a window: pixels of its client area and BMP files.
//
// Every wait polls in short steps and ends after a bounded time with a failure
// message that says what did not happen. Functions that cannot go on throw
// HarnessError; GoogleTest reports it as a failed test with its message.
#pragma once

#include "TestSupport.h"
#include "app/Controls.h"
#include "platform/WinApi.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::e2e {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// How long waits last unless the caller says otherwise.
inline constexpr Duration kDefaultWait = 10s;

// Temporary folders, raw file access and HarnessError come from the one Win32
// test-support library (tests/win32/TestSupport.h).
using test::CopyFileTo;
using test::CreateDirectories;
using test::DirectoryExists;
using test::DirectoryOf;
using test::FileExists;
using test::FileNameOf;
using test::HarnessError;
using test::ReadFileBytes;
using test::RemoveFile;
using test::RemoveTree;
using test::TempDir;
using test::WriteFileBytes;

// ---- text and paths

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view text);

// A path given at build time as a Unix path (/work/...) as Windows programs under
// Wine see it (Z:\work\...); Windows paths are returned as they are.
std::wstring WindowsPath(std::string_view path);

// The launcher built with the tests, the stand-in program and the planted library.
std::wstring LauncherExe();
std::wstring StandinExe();
std::wstring PlantedDll();

// Windows compares paths without regard to letter case.
bool SamePath(const std::wstring& a, const std::wstring& b);

// ---- files

// Sets an environment variable of the test process (and so of the launcher it
// starts, and of whatever that starts) for the object's lifetime.
class ScopedEnvironment {
  public:
    ScopedEnvironment(std::wstring name, std::optional<std::wstring> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

// ---- registry

// The two views of HKLM\SOFTWARE a 64-bit process sees (a 32-bit program sees
// only Wow32, and so does the launcher first).
enum class RegView { Wow32, Wow64 };

// A REG_SZ value below `root` (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER) set to
// `text`, or removed when `text` is nullopt, for the object's lifetime. An empty
// value name is the key's default value. At the end the value's previous text is
// restored (a previous value of another type is removed) and keys this object
// created are deleted again.
class ScopedRegValue {
  public:
    ScopedRegValue(HKEY root, std::wstring subKey, std::wstring valueName, RegView view,
                   std::optional<std::wstring> text);
    ~ScopedRegValue();
    ScopedRegValue(ScopedRegValue&& other) noexcept;
    ScopedRegValue(const ScopedRegValue&) = delete;
    ScopedRegValue& operator=(const ScopedRegValue&) = delete;
    ScopedRegValue& operator=(ScopedRegValue&&) = delete;

  private:
    HKEY root_;
    std::wstring subKey_;
    std::wstring valueName_;
    RegView view_;
    bool active_ = true;
    std::optional<std::wstring> previous_;
    std::vector<std::wstring> createdKeys_; // innermost last
};

// The registry as the launcher's start-up reads it: the game's InstallPath in the
// 32-bit view, and Notepad++'s directory as the default value of its key in the
// view given. nullopt leaves a value out; the view not used is cleared too, so
// nothing left in the prefix by others can stand in.
class LauncherRegistry {
  public:
    LauncherRegistry(std::optional<std::wstring> gamePath, std::optional<std::wstring> notepadDir,
                     RegView notepadView = RegView::Wow32);
    ~LauncherRegistry();
    LauncherRegistry(const LauncherRegistry&) = delete;
    LauncherRegistry& operator=(const LauncherRegistry&) = delete;

  private:
    std::vector<ScopedRegValue> values_;
};

inline constexpr wchar_t kGameKey[] = L"SOFTWARE\\Quarzwerk\\Velmoria";
inline constexpr wchar_t kGameValue[] = L"InstallPath";
inline constexpr wchar_t kNotepadKey[] = L"SOFTWARE\\Notepad++";

// True when the tests run under Wine rather than Windows.
bool RunningUnderWine();

// Under Wine, for the object's lifetime: programs named `programName` look for the
// library `dllName` as a native DLL first (beside the program, ...), as Windows
// does for libraries that are no KnownDLLs. By default Wine takes its built-in
// copy of most system libraries, whatever lies beside a program. Under Windows
// this does nothing.
class WineNativeFirst {
  public:
    WineNativeFirst(const std::wstring& programName, const std::wstring& dllName);

  private:
    std::optional<ScopedRegValue> value_;
};

// ---- fake installations

enum class Edition { Eisenmark, Sturmtal };
// The debugger library of an edition: LuaDebugger.dll (On), LuaDebugger.dll.off
// (Off), both names at once, or neither.
enum class Library { None, On, Off, Both };

const char* ToString(Edition edition);
const char* ToString(Library library);
std::ostream& operator<<(std::ostream& out, Edition edition);
std::ostream& operator<<(std::ostream& out, Library library);

// A game installation made of stand-in copies:
//   <gamePath>\extra1\bin\ (Eisenmark) and <gamePath>\extra2\bin\ (Sturmtal),
//   each with Velmoria.exe, VelmoriaMapEditor.exe and the library as asked.
// Each library file holds a text naming its edition and name, so a test can tell
// the files apart after renames.
class GameInstall {
  public:
    GameInstall(std::wstring gamePath, Library eisenmark, Library sturmtal);

    const std::wstring& GamePath() const { return gamePath_; }
    std::wstring EditionDir(Edition edition) const; // without trailing backslash
    std::wstring Game(Edition edition) const;
    std::wstring MapEditor(Edition edition) const;
    std::wstring LibraryOn(Edition edition) const;  // ...\LuaDebugger.dll
    std::wstring LibraryOff(Edition edition) const; // ...\LuaDebugger.dll.off

    // The state the file names on disk show.
    Library LibraryState(Edition edition) const;
    // Puts the library files into `state`, each with its original content.
    void SetLibrary(Edition edition, Library state) const;
    // The content SetLibrary gives a library file first named `name` (On or Off).
    static std::string LibraryContent(Edition edition, Library name);

  private:
    std::wstring gamePath_;
};

// A Notepad++ installation: `dir`\Notepad++.exe, a stand-in copy. Returns its path.
std::wstring MakeNotepadInstall(const std::wstring& dir);

// ---- what the stand-ins report

// One start of a stand-in, as it logged it.
struct StandinStart {
    std::wstring program;     // its module path
    std::wstring commandLine; // GetCommandLineW, exactly
    std::wstring directory;   // its current directory
    int showState = -1;       // wShowWindow when STARTF_USESHOWWINDOW was set, else -1
    DWORD processId = 0;

    // The command line without the program's own name (quoted or not): the arguments.
    std::wstring Arguments() const;
    // The program's name as the command line gives it, without quotes.
    std::wstring ProgramToken() const;
};
std::ostream& operator<<(std::ostream& out, const StandinStart& start);

// The log file stand-ins append to. Construction points VELMO_STANDIN_LOG at it
// for everything the test starts from then on, and removes any old log.
class StandinLog {
  public:
    explicit StandinLog(std::wstring path);
    const std::wstring& Path() const { return path_; }

    // All starts logged so far, oldest first.
    std::vector<StandinStart> Read() const;
    // Waits until at least `count` starts are logged; returns all of them.
    std::vector<StandinStart> WaitForCount(std::size_t count, Duration limit = kDefaultWait) const;
    // Forgets what was logged so far.
    void Clear() const;

  private:
    std::wstring path_;
    ScopedEnvironment variable_;
};

// Starts a program with CreateProcessW (application name may be empty: then
// Windows finds the program from the command line) in `directory` (empty: the
// test's own), with the show state if given, and waits until it has ended.
// Returns its process id.
DWORD RunToEnd(const std::wstring& application, std::wstring commandLine,
               const std::wstring& directory = {}, std::optional<WORD> showState = {},
               Duration limit = kDefaultWait);

// Ends the processes with these ids (stand-ins told to stay) and waits for them.
void TerminateProcesses(const std::vector<DWORD>& processIds);
bool IsProcessRunning(DWORD processId);

// ---- the launcher, driven from outside

// A message box as the user sees it.
struct MessageBoxInfo {
    std::wstring title;
    std::wstring text;
};

// Pixels of a window's client area, 32-bit 0x00RRGGBB, row by row from the top.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> data;
    std::uint32_t At(int x, int y) const { return data[static_cast<std::size_t>(y) * width + x]; }
};

// A window's client area as it is on the screen (the window must not be covered).
Pixels CaptureClient(HWND window);
// A part of the screen as it is, whatever windows show there.
Pixels CaptureScreen(const RECT& area);
// Writes the pixels as a 24-bit BMP file.
void SaveBmp(const Pixels& pixels, const std::wstring& path);

class Launcher {
  public:
    // A launcher at `exe` (default: the one built with the tests), started in
    // `workingDir` (default: the test's own), not yet running.
    //
    // Under Wine its windows are by default left to Wine rather than to the X
    // window manager: Wine waits up to two seconds for the window manager each
    // time a managed window is hidden or destroyed (every message box, and the
    // end), which would make the tests slow. `managedWindows` keeps them managed.
    explicit Launcher(std::wstring exe = LauncherExe(), std::wstring workingDir = {},
                      bool managedWindows = false);
    // Ends the launcher if it still runs.
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    void Start();
    // Start(), then waits for the visible main window.
    HWND StartAndWaitForWindow(Duration limit = kDefaultWait);
    // Waits until the main window (class "VelmoStarter") of this process is visible.
    HWND WaitForMainWindow(Duration limit = kDefaultWait);
    HWND MainWindow() const; // fails when WaitForMainWindow has not found it
    DWORD ProcessId() const { return processId_; }
    DWORD ThreadId() const { return threadId_; }
    HANDLE Process() const { return process_; }

    // ---- controls
    // The child window of a control that has one (ID ChildIdOf(id)); null when missing.
    HWND FindControl(ControlId id) const;
    HWND Control(ControlId id) const; // as FindControl, but fails when missing
    // The control's rectangle in client pixels, from kControls at the window's DPI.
    RECT ControlRect(ControlId id) const;
    int Dpi() const;
    // A left click (button down, button up) posted at the centre of an image or label.
    void ClickImage(ControlId id);
    // BM_CLICK posted to a button or check box, so a modal box it opens does not block.
    void ClickButton(ControlId id);
    // The check state of a check box (BM_GETCHECK).
    int CheckState(ControlId id) const;
    // The control that has the keyboard focus in the launcher's window (may be null).
    HWND FocusedWindow() const;
    // A key pressed and let go: WM_KEYDOWN and WM_KEYUP posted to the window that
    // has the focus (the launcher's message loop makes the character and handles
    // Tab). Fails when no window of the launcher has the focus.
    void PressKey(WORD virtualKey);

    // ---- message boxes and the open-file dialog
    // Waits for a visible message box of the launcher ("#32770" with a text control).
    HWND WaitForMessageBox(Duration limit = kDefaultWait) const;
    static MessageBoxInfo ReadMessageBox(HWND box);
    // Presses IDOK, IDYES, IDNO, ... of a message box or dialog.
    static void PressDialogButton(HWND dialog, int buttonId);
    // Waits for the visible open-file dialog of the launcher.
    HWND WaitForFileDialog(Duration limit = kDefaultWait) const;
    // Types `path` into the dialog's file name box and presses Open.
    static void ChooseFile(HWND dialog, const std::wstring& path);
    static void CancelDialog(HWND dialog);
    // Waits until no dialog or message box of the launcher is visible.
    void WaitForNoDialog(Duration limit = kDefaultWait) const;
    // All visible "#32770" windows of the launcher's process.
    std::vector<HWND> Dialogs() const;
    // The same, also those not (or no longer) shown: a box being made, a
    // dialog being taken down.
    std::vector<HWND> AllDialogs() const;

    // ---- pictures
    // The main window's client area as it is on the screen.
    Pixels CaptureClient() const;

    // ---- ending
    bool IsRunning() const;
    // Waits until the process ended and returns its exit code.
    DWORD WaitForExit(Duration limit = kDefaultWait);
    void Terminate();

  private:
    std::wstring exe_;
    std::wstring workingDir_;
    bool managedWindows_;
    std::optional<ScopedRegValue> unmanaged_;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    DWORD threadId_ = 0;
    HWND main_ = nullptr;
};

// A window's text, asked for with a timeout, so a hung window cannot hang the test.
std::wstring TextOf(HWND window);

// ---- the system's DPI

// The system's DPI for programs started from now on, as Wine takes it from the
// user's settings when a program starts; the old setting comes back afterwards.
class SystemDpi {
  public:
    explicit SystemDpi(int dpi);
    ~SystemDpi();
    SystemDpi(const SystemDpi&) = delete;
    SystemDpi& operator=(const SystemDpi&) = delete;

  private:
    void Set(DWORD dpi);
    HKEY key_ = nullptr;
    DWORD previous_ = 0;
    bool hadValue_ = false;
};

// What a check box or button of the launcher says its caption needs, with the box
// or the frame and margins it draws beside it (BCM_GETIDEALSIZE). The message
// carries a pointer, so the answer is written into memory lent in the launcher's
// own process and read back from there.
SIZE IdealSize(const Launcher& launcher, HWND button);

// Waits until `condition` holds, polling every 25 ms; false when `limit` passed.
template <class Condition> bool WaitUntil(Condition condition, Duration limit = kDefaultWait) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(25);
    }
}

} // namespace velmo::e2e
