// Many scripts from the real launcher's window: several files chosen together
// in the real open-file dialog, files and folders dropped onto its buttons by
// an XDND drag source on the X screen (Wine turns the drop into the window's
// WM_DROPFILES), the guard-word question once for a batch, "Abbrechen" in the
// middle, the launcher killed in the middle, and the words of the summary.
// Every script is checked on disk: its old or its new bytes, its backups.
#include "ConvertSteps.h"
#include "app/Numbers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmo::e2e {
namespace {

using namespace std::string_literals;

// ---- the map folder the batches work on

struct MapScript {
    const wchar_t* name;
    std::string before; // Windows-1252 umlauts, as written
    std::string after;  // after "Umlaute für Velmo umwandeln", if it is converted
};

// Converted: eins, zwei, sub\TIEF.LUA, utf8 (keeping its UTF-8 ä). Unchanged:
// drei. Skipped: wache (guard word, unless agreed to), chunk (compiled).
// utf8.lua's Polish ą (C4 85) begins with Ä's byte and stays.
// Never looked at: the hidden folder's script and the text file.
const MapScript kMap[] = {
    {L"eins.lua",
     "-- Gr\xFC\xDF"
     "e\r\n",
     "-- Gr\xC3\xBC\xC3\x9F"
     "e\r\n"},
    {L"zwei.lua", "print('\xC4rger')\n", "print('\xC3\x84rger')\n"},
    {L"drei.lua", "-- nichts\n", "-- nichts\n"},
    {L"sub\\TIEF.LUA", "-- \xF6\n", "-- \xC3\xB6\n"},
    {L"utf8.lua", "-- \xC4\x85 und \xE4\n", "-- \xC4\x85 und \xC3\xA4\n"},
    {L"wache.lua", "-- \xE4 UMLAUTE\n", "-- \xC3\xA4 UMLAUTE\n"},
    {L"chunk.lua", "\x1BLua\x54\x00\xE4\xF6"s, "\x1BLua\x54\x00\xE4\xF6"s},
    {L".versteckt\\x.lua", "-- \xE4\n", "-- \xE4\n"},
    {L"notiz.txt", "\xE4\n", "\xE4\n"},
};

void WriteMap(const std::wstring& root) {
    CreateDirectories(root + L"\\sub");
    CreateDirectories(root + L"\\.versteckt");
    for (const MapScript& s : kMap)
        WriteFileBytes(root + L"\\" + s.name, s.before);
}

// Every file below `root` whose name ends in `ending`, as paths below root.
void FilesEndingIn(const std::wstring& root, const std::wstring& below, const std::wstring& ending,
                   std::vector<std::wstring>& found) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((root + below + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            FilesEndingIn(root, below + L"\\" + name, ending, found);
        else if (name.size() >= ending.size() &&
                 name.compare(name.size() - ending.size(), ending.size(), ending) == 0)
            found.push_back(below.empty() ? name : below.substr(1) + L"\\" + name);
    } while (FindNextFileW(search, &data));
    FindClose(search);
}

std::vector<std::wstring> FilesEndingIn(const std::wstring& root, const std::wstring& ending) {
    std::vector<std::wstring> found;
    FilesEndingIn(root, L"", ending, found);
    std::sort(found.begin(), found.end());
    return found;
}

// ---- windows of the launcher beyond the harness's

BOOL CALLBACK CollectText(HWND child, LPARAM into) {
    std::wstring& all = *reinterpret_cast<std::wstring*>(into);
    all += TextOf(child) + L"\n";
    return TRUE;
}

// The title and every text in a box (a task dialog keeps its parts in several
// controls), one a line.
std::wstring AllTextOf(HWND box) {
    std::wstring all = TextOf(box) + L"\n";
    EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&all));
    return all;
}

struct ProcessWindows {
    DWORD process;
    const wchar_t* className;
    HWND found = nullptr;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<ProcessWindows*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (process == search.process && IsWindowVisible(window) &&
        std::wstring(name) == search.className) {
        search.found = window;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleWindowOf(const Launcher& launcher, const wchar_t* className) {
    ProcessWindows search{launcher.ProcessId(), className};
    EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// How many scripts the progress window says are done ("<n> von <total> Skripten",
// <n> grouped in thousands as the user's number format has it).
int DoneOf(HWND progress) {
    int done = 0;
    for (const wchar_t c : TextOf(GetDlgItem(progress, 102))) {
        if (c == L' ')
            break;
        if (c >= L'0' && c <= L'9')
            done = done * 10 + (c - L'0');
    }
    return done;
}

// A count as the launcher writes it: grouped with the user's thousands
// separator ("." where Windows has none).
std::wstring Count(int n) {
    wchar_t separator[8] = {};
    const bool got = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_STHOUSAND, separator,
                                     static_cast<int>(std::size(separator))) > 0;
    return Widen(GroupedCount(static_cast<std::size_t>(n), got ? Narrow(separator) : "."));
}

HWND WaitForProgressWindow(const Launcher& launcher, Duration limit = kDefaultWait) {
    HWND found = nullptr;
    if (!WaitUntil([&] { return (found = VisibleWindowOf(launcher, L"VelmoBatchProgress")); },
                   limit))
        throw HarnessError("no progress window appeared");
    return found;
}

// The next box of the launcher (question or summary) with all its words, or
// nullopt when the batch has ended without one.
struct Box {
    HWND window = nullptr;
    std::wstring words;
};

std::optional<Box> NextBox(const Launcher& launcher, Duration limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::vector<HWND> dialogs = launcher.Dialogs();
        if (!dialogs.empty()) {
            // Give a task dialog the moment it takes to fill its controls; a
            // dialog gone meanwhile (the open-file dialog closing) is none.
            Sleep(200);
            Box box{dialogs[0], AllTextOf(dialogs[0])};
            if (IsWindow(box.window) && IsWindowVisible(box.window))
                return box;
            continue;
        }
        if (!launcher.IsRunning())
            throw HarnessError("the launcher has ended");
        DWORD_PTR ignored = 0;
        HWND main = launcher.MainWindow();
        if (SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 250, &ignored) &&
            IsWindowEnabled(main) && launcher.AllDialogs().empty() &&
            !VisibleWindowOf(launcher, L"VelmoBatchProgress"))
            return std::nullopt;
        if (std::chrono::steady_clock::now() >= end)
            throw HarnessError("the batch neither showed a box nor ended");
        Sleep(25);
    }
}

bool Says(const Box& box, const std::wstring& words) {
    return box.words.find(words) != std::wstring::npos;
}

// ---- dropping from the X screen

// The Unix path of a Windows path, as Wine maps it.
std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        throw HarnessError("not under Wine: no drop from the X screen");
    char* unix = toUnix(path.c_str());
    if (!unix)
        throw HarnessError("no Unix path for " + Narrow(path));
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Drags `paths` onto the screen point `at` and drops them there, as a file
// manager does; true when the window under the point took them, false when it
// refused (the no-drop pointer).
bool DropAt(POINT at, const std::vector<std::wstring>& paths, const TempDir& scratch) {
    const std::wstring request = scratch / std::wstring_view(L"drop-request.txt");
    std::string text = std::to_string(at.x) + " " + std::to_string(at.y) + "\n";
    for (const std::wstring& path : paths)
        text += UnixPath(path) + "\n";
    WriteFileBytes(request, text);
    RemoveFile(request + L".answer");
    // A Unix program started from inside Wine: its process cannot be waited
    // for there, so its answer file is.
    const std::wstring python = WindowsPath("/usr/bin/python3");
    std::wstring commandLine =
        L"python3 \"" + Widen(VELMO_XDND_SOURCE) + L"\" \"" + Widen(UnixPath(request)) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(python.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started))
        throw HarnessError("the drag source did not start: error " +
                           std::to_string(GetLastError()));
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    std::string answer;
    if (!WaitUntil(
            [&] {
                if (!FileExists(request + L".answer"))
                    return false;
                answer = ReadFileBytes(request + L".answer");
                return !answer.empty() && answer.back() == '\n';
            },
            30s))
        throw HarnessError("the drag source gave no answer");
    if (answer.find("error") != std::string::npos)
        throw HarnessError("the drag source: " + answer);
    return answer.find("dropped") != std::string::npos;
}

POINT CentreOf(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// ---- the table of batches

enum class Way { Dialog, Drop };
enum class Guard { NotAsked, Yes, No };

struct Batch {
    const char* name;
    Way way;
    ControlId button;
    std::vector<std::wstring> given; // below the map folder ("" is the folder itself)
    bool backup, message;
    Guard guard;
    std::vector<std::wstring> converted; // every other script keeps its bytes
    std::vector<std::wstring> summary;   // words the summary says; none: no summary
};

class BatchE2E : public ::testing::Test {
  protected:
    TempDir temp{L"velmo-stapel"};
    LauncherRegistry registry{std::nullopt, std::nullopt};
    std::wstring Map() const { return temp / std::wstring_view(L"karte"); }
};

TEST_F(BatchE2E, BatchesFromTheDialogAndFromDropsConvertWhatTheyShould) {
    const Batch batches[] = {
        {"three chosen in the dialog",
         Way::Dialog,
         UmlauteWeg,
         {L"eins.lua", L"zwei.lua", L"drei.lua"},
         true,
         true,
         Guard::NotAsked,
         {L"eins.lua", L"zwei.lua"},
         {L"Fertig", L"2 Skripte umgewandelt", L"1 unver\u00e4ndert (nichts umzuwandeln)"}},
        {"the folder dropped, guard word refused",
         Way::Drop,
         UmlauteWeg,
         {L""},
         true,
         true,
         Guard::No,
         {L"eins.lua", L"zwei.lua", L"sub\\TIEF.LUA", L"utf8.lua"},
         {L"Fertig", L"4 Skripte umgewandelt", L"1 unver\u00e4ndert", L"2 \u00fcbersprungen",
          L"In 1 Skript blieben Zeichen in UTF-8 stehen", L"utf8.lua",
          L"wache.lua \u2013 enth\u00e4lt das Wort \u201eUMLAUTE\u201c",
          L"chunk.lua \u2013 kompiliertes Lua-Skript (Bytecode)"}},
        {"a folder and a file dropped, guard word agreed to, no backup, no message",
         Way::Drop,
         UmlauteWeg,
         {L"sub", L"wache.lua", L"sub\\TIEF.LUA"},
         false,
         false,
         Guard::Yes,
         {L"sub\\TIEF.LUA", L"wache.lua"},
         {}},
    };
    for (const Batch& b : batches) {
        SCOPED_TRACE(b.name);
        RemoveTree(Map());
        WriteMap(Map());
        Launcher launcher(LauncherExe(), Map());
        launcher.StartAndWaitForWindow();
        SetCheck(launcher, Sicherung, b.backup);
        SetCheck(launcher, Meldung, b.message);

        std::vector<std::wstring> given;
        for (const std::wstring& g : b.given)
            given.push_back(g.empty() ? Map() : Map() + L"\\" + g);
        if (b.way == Way::Dialog) {
            HWND dialog = OpenConversionDialog(launcher, b.button);
            std::wstring names;
            for (const std::wstring& g : b.given)
                names += L"\"" + g + L"\" ";
            Launcher::ChooseFile(dialog, names);
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }));
        } else {
            ASSERT_TRUE(DropAt(CentreOf(launcher.Control(b.button)), given, temp));
        }

        std::optional<Box> box = NextBox(launcher);
        if (b.guard != Guard::NotAsked) {
            ASSERT_TRUE(box);
            EXPECT_TRUE(Says(*box, L"1 Skript enth\u00e4lt das Wort \u201eUMLAUTE\u201c"))
                << Narrow(box->words);
            EXPECT_TRUE(Says(*box, Map() + L"\\wache.lua")) << Narrow(box->words);
            Answer(box->window, b.guard == Guard::Yes ? IDYES : IDNO);
            box = NextBox(launcher);
        }
        if (b.summary.empty()) {
            EXPECT_FALSE(box) << Narrow(box->words);
        } else {
            ASSERT_TRUE(box) << "no summary";
            for (const std::wstring& words : b.summary)
                EXPECT_TRUE(Says(*box, words)) << Narrow(words) << " not in " << Narrow(box->words);
            EXPECT_FALSE(Says(*box, L"versteckt")) << Narrow(box->words);
            Answer(box->window, IDOK);
            EXPECT_FALSE(NextBox(launcher));
        }

        for (const MapScript& s : kMap) {
            const bool converted = std::count(b.converted.begin(), b.converted.end(), s.name) > 0;
            EXPECT_EQ(FirstDifference(converted ? s.after : s.before,
                                      ReadFileBytes(Map() + L"\\" + s.name)),
                      "same")
                << Narrow(s.name);
        }
        const std::vector<std::wstring> backups = FilesEndingIn(Map(), L".bak");
        EXPECT_EQ(backups.size(), b.backup ? b.converted.size() : 0u);
        for (const std::wstring& backup : backups) {
            // Named as the window names a backup: the script's name, "_", the date.
            const auto owner =
                std::find_if(std::begin(kMap), std::end(kMap), [&](const MapScript& s) {
                    std::wstring base = s.name;
                    std::replace(base.begin(), base.end(), L'.', L'_');
                    return backup.rfind(base + L"_", 0) == 0;
                });
            ASSERT_NE(owner, std::end(kMap)) << Narrow(backup);
            EXPECT_EQ(FirstDifference(owner->before, ReadFileBytes(Map() + L"\\" + backup)),
                      "same");
        }
        EXPECT_TRUE(FilesEndingIn(Map(), L".velmo-tmp").empty());
        EXPECT_TRUE(launcher.IsRunning());
        EXPECT_TRUE(IsWindowEnabled(launcher.MainWindow()));
    }
}

// "Rückgängig machen" in the summary of a batch that made backups puts the
// batch back, behind its own progress and summary: each script its old bytes
// and its backup gone, one edited since left with its backup and named.
// Screenshots of both summaries go to the build directory.
TEST_F(BatchE2E, RueckgaengigMachenPutsTheBatchBack) {
    struct Case {
        const char* name;
        const wchar_t* edited; // written anew before the button is pressed
        std::vector<std::wstring> undoSummary;
    };
    const Case cases[] = {
        {"all put back",
         nullptr,
         {L"Umwandlung r\u00fcckg\u00e4ngig gemacht",
          L"4 Skripte aus der Sicherung zur\u00fcckgeholt"}},
        {"one edited since",
         L"eins.lua",
         {L"Zur\u00fcckgeholt, nicht alle", L"3 Skripte aus der Sicherung zur\u00fcckgeholt",
          L"1 Skript bleibt, wie es ist", L"eins.lua \u2013 seit der Umwandlung ge\u00e4ndert"}},
    };
    const std::string edit = "-- von Hand\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveTree(Map());
        WriteMap(Map());
        Launcher launcher(LauncherExe(), Map());
        launcher.StartAndWaitForWindow();
        SetCheck(launcher, Sicherung, true);
        SetCheck(launcher, Meldung, true);
        ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {Map()}, temp));
        std::optional<Box> box = NextBox(launcher);
        ASSERT_TRUE(box);
        Answer(box->window, IDNO); // the guard word: wache.lua stays
        box = NextBox(launcher);
        ASSERT_TRUE(box) << "no summary";
        EXPECT_TRUE(Says(*box, L"4 Skripte umgewandelt")) << Narrow(box->words);
        EXPECT_TRUE(Says(*box, L"R\u00fcckg\u00e4ngig machen")) << Narrow(box->words);
        const auto shoot = [&](HWND window, const wchar_t* name) {
            RECT area{};
            GetWindowRect(window, &area);
            SaveBmp(CaptureScreen(area), WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\" + name);
        };
        if (!c.edited)
            shoot(box->window, L"e2e-batch-summary-undo.bmp");
        if (c.edited)
            WriteFileBytes(Map() + L"\\" + c.edited, edit);
        Answer(box->window, 1001);

        // The undo's summary always comes; between the two boxes the window
        // may for a moment take input, which NextBox would take for the end.
        ASSERT_TRUE(WaitUntil([&] { return !launcher.Dialogs().empty(); }, 120s));
        box = NextBox(launcher, 120s);
        ASSERT_TRUE(box) << "no summary of the undo";
        for (const std::wstring& words : c.undoSummary)
            EXPECT_TRUE(Says(*box, words)) << Narrow(words) << " not in " << Narrow(box->words);
        EXPECT_FALSE(Says(*box, L"R\u00fcckg\u00e4ngig machen\n")) << "offered twice";
        if (c.edited) {
            // With its details shown, as a user reads why a script stayed.
            HWND details = FindWindowExW(box->window, nullptr, L"Button", nullptr);
            while (details && TextOf(details).rfind(L"Einzelheiten", 0) != 0)
                details = FindWindowExW(box->window, details, L"Button", nullptr);
            if (details) {
                SendMessageW(details, BM_CLICK, 0, 0);
                Sleep(300);
            }
            shoot(box->window, L"e2e-undo-summary.bmp");
        }
        Answer(box->window, IDOK);
        EXPECT_FALSE(NextBox(launcher));

        for (const MapScript& s : kMap) {
            const bool edited = c.edited && std::wstring(c.edited) == s.name;
            EXPECT_EQ(
                FirstDifference(edited ? edit : s.before, ReadFileBytes(Map() + L"\\" + s.name)),
                "same")
                << Narrow(s.name);
        }
        EXPECT_EQ(FilesEndingIn(Map(), L".bak").size(), c.edited ? 1u : 0u);
        EXPECT_TRUE(FilesEndingIn(Map(), L".velmo-tmp").empty());
        EXPECT_TRUE(IsWindowEnabled(launcher.MainWindow()));
    }
}

TEST_F(BatchE2E, ADropAnywhereButOnAConversionButtonIsRefused) {
    WriteMap(Map());
    Launcher launcher;
    HWND main = launcher.StartAndWaitForWindow();
    RECT client;
    GetClientRect(main, &client);
    POINT top{client.right / 2, 10}; // the notice over the window's surface
    ClientToScreen(main, &top);
    for (POINT at :
         {top, CentreOf(launcher.Control(Meldung)), CentreOf(launcher.Control(Command1))})
        EXPECT_FALSE(DropAt(at, {Map()}, temp)) << at.x << "," << at.y;
    EXPECT_FALSE(NextBox(launcher, 5s));
    for (const MapScript& s : kMap)
        EXPECT_EQ(ReadFileBytes(Map() + L"\\" + s.name), s.before) << Narrow(s.name);
}

// On a case-sensitive folder (a Linux one seen through Wine) Karte.lua and
// karte.lua are two scripts: the window converts both and says so.
TEST_F(BatchE2E, NamesDifferingOnlyInCaseAreTwoScripts) {
    const std::string before = "-- \xE4\r\n", after = "-- \xC3\xA4\r\n";
    CreateDirectories(Map());
    WriteFileBytes(Map() + L"\\Karte.lua", before);
    if (!test::WriteExactName(Narrow(Map() + L"\\karte.lua"), before))
        GTEST_SKIP() << "no case-sensitive folder here (only under Wine, on a Linux folder)";
    Launcher launcher;
    launcher.StartAndWaitForWindow();
    ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {Map()}, temp));
    std::optional<Box> box = NextBox(launcher);
    ASSERT_TRUE(box) << "no summary";
    for (const wchar_t* words : {L"Fertig", L"2 Skripte umgewandelt"})
        EXPECT_TRUE(Says(*box, words)) << Narrow(box->words);
    EXPECT_FALSE(Says(*box, L"\u00fcbersprungen")) << Narrow(box->words);
    Answer(box->window, IDOK);
    EXPECT_EQ(ReadFileBytes(Map() + L"\\Karte.lua"), after);
    EXPECT_EQ(ReadFileBytes(Map() + L"\\karte.lua"), after);
    EXPECT_EQ(FilesEndingIn(Map(), L".bak").size(), 2u);
}

// ---- stopping in the middle

// A map of many scripts, each worth converting, so that a batch over it lasts:
// more than two of the engine's commit rounds (1,024 scripts each).
constexpr int kManyScripts = 2500;
// Stopped or killed once this many are decided on: past the first round's commit.
constexpr int kStopAfter = 1100;

std::string ManyScriptBytes(int i) {
    std::string text = "-- Skript " + std::to_string(i) + "\r\n";
    while (text.size() < 2 * 1024)
        text += "print('Gr\xFC\xDF"
                "e aus M\xFCnchen, \xC4rger \xFC"
                "ber \xD6l')\r\n";
    return text;
}

std::wstring ManyName(int i) {
    return L"s" + std::to_wstring(i) + L".lua";
}

void WriteMany(const std::wstring& root, int count = kManyScripts) {
    CreateDirectories(root);
    for (int i = 0; i < count; ++i)
        WriteFileBytes(root + L"\\" + ManyName(i), ManyScriptBytes(i));
}

// Each script holds its old or its new bytes; returns how many the new.
int CountConverted(const std::wstring& root, int count = kManyScripts) {
    int converted = 0;
    for (int i = 0; i < count; ++i) {
        const std::string before = ManyScriptBytes(i);
        const std::string now = ReadFileBytes(root + L"\\" + ManyName(i));
        if (now == WithUmlautPairs(before))
            ++converted;
        else
            EXPECT_EQ(FirstDifference(before, now), "same") << Narrow(ManyName(i));
    }
    return converted;
}

TEST_F(BatchE2E, AbbrechenStopsAtASafePointWithEveryScriptOldOrNew) {
    WriteMany(Map());
    Launcher launcher;
    launcher.StartAndWaitForWindow();
    ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {Map()}, temp));
    HWND progress = WaitForProgressWindow(launcher);
    ASSERT_TRUE(WaitUntil([&] { return DoneOf(progress) >= kStopAfter; }, 120s));
    // The work runs off the window's thread: both windows answer at once.
    for (HWND window : {launcher.MainWindow(), progress}) {
        DWORD_PTR ignored = 0;
        EXPECT_TRUE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored));
    }
    EXPECT_FALSE(IsWindowEnabled(launcher.MainWindow())); // modal: the batch's window only
    Launcher::PressDialogButton(progress, IDCANCEL);

    std::optional<Box> box = NextBox(launcher, 120s);
    ASSERT_TRUE(box) << "no summary after Abbrechen";
    EXPECT_TRUE(Says(*box, L"Abgebrochen")) << Narrow(box->words);
    EXPECT_TRUE(Says(*box, L"Die \u00fcbrigen Skripte sind, wie sie waren.")) << Narrow(box->words);
    Answer(box->window, IDOK);

    const int converted = CountConverted(Map());
    EXPECT_GT(converted, 0) << "the first round was not replaced";
    EXPECT_LT(converted, kManyScripts) << "the batch ended before it was stopped";
    EXPECT_TRUE(Says(*box, Count(converted) +
                               (converted == 1 ? L" Skript umgewandelt" : L" Skripte umgewandelt")))
        << Narrow(box->words);
    // A backup for each script replaced, none for one that was not.
    EXPECT_EQ(FilesEndingIn(Map(), L".bak").size(), static_cast<std::size_t>(converted));
    EXPECT_TRUE(FilesEndingIn(Map(), L".velmo-tmp").empty());
    EXPECT_TRUE(IsWindowEnabled(launcher.MainWindow()));
    RecordProperty("converted_before_stop", converted);
}

// Moves a window of the launcher off the conversion buttons, so that a drop
// there lands on the launcher's window itself.
void MoveAside(HWND window) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// While the launcher is busy (its batch runs, its summary is open) the button
// refuses a drop with the no-drop pointer; a drop right after another one is
// either refused or taken and run after the first batch, never lost; once the
// window is free it takes drops again.
TEST_F(BatchE2E, ADropWhileBusyIsRefusedOrRunAfterwardsNeverLost) {
    WriteMany(Map());
    const std::wstring second = temp / std::wstring_view(L"zweite");
    const std::string before = "-- \xE4\r\n", after = "-- \xC3\xA4\r\n";
    WriteFileBytes(second + L"\\noch.lua", before);
    Launcher launcher;
    launcher.StartAndWaitForWindow();
    SetCheck(launcher, Sicherung, false);
    SetCheck(launcher, Meldung, true);
    const POINT button = CentreOf(launcher.Control(UmlauteWeg));
    ASSERT_TRUE(DropAt(button, {Map()}, temp));
    const bool rightAfter = DropAt(button, {second}, temp);

    HWND progress = WaitForProgressWindow(launcher);
    MoveAside(progress);
    EXPECT_FALSE(DropAt(button, {second}, temp)) << "taken while the batch runs";
    Launcher::PressDialogButton(progress, IDCANCEL);
    std::optional<Box> box = NextBox(launcher, 120s);
    ASSERT_TRUE(box) << "no summary after Abbrechen";
    EXPECT_TRUE(Says(*box, L"Abgebrochen")) << Narrow(box->words);
    MoveAside(box->window);
    EXPECT_FALSE(DropAt(button, {second}, temp)) << "taken while the summary is open";
    Answer(box->window, IDOK);

    // The drop taken right after the first runs now, as a batch of its own.
    if (rightAfter) {
        box = NextBox(launcher);
        ASSERT_TRUE(box) << "the drop taken meanwhile was not run";
        EXPECT_TRUE(Says(*box, L"1 Skript umgewandelt")) << Narrow(box->words);
        Answer(box->window, IDOK);
    }
    EXPECT_FALSE(NextBox(launcher, 5s));
    EXPECT_EQ(ReadFileBytes(second + L"\\noch.lua"), rightAfter ? after : before);
    RecordProperty("taken_right_after_another", rightAfter ? 1 : 0);

    // Free again: the button takes drops.
    WriteFileBytes(second + L"\\noch.lua", before);
    ASSERT_TRUE(DropAt(button, {second}, temp));
    box = NextBox(launcher);
    ASSERT_TRUE(box);
    EXPECT_TRUE(Says(*box, L"1 Skript umgewandelt")) << Narrow(box->words);
    Answer(box->window, IDOK);
    EXPECT_EQ(ReadFileBytes(second + L"\\noch.lua"), after);
}

// Which file a path names (volume and file number); none when it cannot be opened.
std::optional<std::pair<DWORD, ULONGLONG>> FileIdOf(const std::wstring& path) {
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL got = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!got)
        return std::nullopt;
    return std::make_pair(info.dwVolumeSerialNumber,
                          (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow);
}

TEST_F(BatchE2E, KilledInTheMiddleEveryScriptIsOldOrNewAndTheNextBatchSweepsTheLeftovers) {
    WriteMany(Map());
    int convertedAtKill = 0;
    {
        Launcher launcher;
        launcher.StartAndWaitForWindow();
        SetCheck(launcher, Meldung, false);
        ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {Map()}, temp));
        HWND progress = WaitForProgressWindow(launcher);
        ASSERT_TRUE(WaitUntil([&] { return DoneOf(progress) >= kStopAfter; }, 120s));
        launcher.Terminate();
        convertedAtKill = CountConverted(Map());
    }
    EXPECT_LT(convertedAtKill, kManyScripts);
    // Killed while staging the second round: its temporary files are left.
    const std::size_t leftovers = FilesEndingIn(Map(), L".velmo-tmp").size();
    EXPECT_GT(leftovers, 0u);
    RecordProperty("leftovers_after_kill", static_cast<int>(leftovers));
    RecordProperty("converted_before_kill", convertedAtKill);

    // Backups the killed batch made by a second name of scripts it never
    // replaced: the very file the script still is.
    int strays = 0;
    for (const std::wstring& backup : FilesEndingIn(Map(), L".bak")) {
        const std::wstring script = backup.substr(0, backup.find(L'_')) + L".lua";
        const auto id = FileIdOf(Map() + L"\\" + backup);
        strays += id && id == FileIdOf(Map() + L"\\" + script);
    }
    EXPECT_GT(strays, 0);
    RecordProperty("stray_backups_after_kill", strays);

    // The next batch over the same folder finishes the work and removes what
    // the killed one left, saying how many backups went; every script ends
    // with one backup, of its old text.
    Launcher launcher;
    launcher.StartAndWaitForWindow();
    SetCheck(launcher, Sicherung, true);
    SetCheck(launcher, Meldung, true);
    ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {Map()}, temp));
    std::optional<Box> box = NextBox(launcher, 180s);
    ASSERT_TRUE(box) << "no summary";
    EXPECT_TRUE(Says(*box, std::to_wstring(strays) +
                               (strays == 1 ? L" Sicherung eines abgebrochenen Laufs entfernt"
                                            : L" Sicherungen abgebrochener L\u00e4ufe entfernt")))
        << Narrow(box->words);
    Answer(box->window, IDOK);
    EXPECT_EQ(CountConverted(Map()), kManyScripts);
    EXPECT_TRUE(FilesEndingIn(Map(), L".velmo-tmp").empty());
    const std::vector<std::wstring> backups = FilesEndingIn(Map(), L".bak");
    EXPECT_EQ(backups.size(), static_cast<std::size_t>(kManyScripts));
    for (const std::wstring& backup : backups) {
        const int i = _wtoi(backup.c_str() + 1);
        EXPECT_EQ(FirstDifference(ManyScriptBytes(i), ReadFileBytes(Map() + L"\\" + backup)),
                  "same")
            << Narrow(backup);
    }
}

// ---- where the boxes come up, and the progress window at every DPI

BOOL CALLBACK FindChildWithText(HWND child, LPARAM data) {
    auto& search = *reinterpret_cast<std::pair<std::wstring, HWND>*>(data);
    if (TextOf(child) == search.first) {
        search.second = child;
        return FALSE;
    }
    return TRUE;
}

HWND ChildWithText(HWND parent, const std::wstring& text) {
    std::pair<std::wstring, HWND> search{text, nullptr};
    EnumChildWindows(parent, FindChildWithText, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

RECT WorkAreaOf(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

// A box in the middle of the launcher's window, as far as the screen lets it.
void ExpectCentredOn(HWND box, HWND over, const char* what) {
    RECT b{}, o{};
    GetWindowRect(box, &b);
    GetWindowRect(over, &o);
    const RECT work = WorkAreaOf(over);
    const long width = b.right - b.left, height = b.bottom - b.top;
    const long left = std::clamp((o.left + o.right - width) / 2, work.left, work.right - width);
    const long top = std::clamp((o.top + o.bottom - height) / 2, work.top, work.bottom - height);
    EXPECT_NEAR(b.left, left, 2) << what;
    EXPECT_NEAR(b.top, top, 2) << what;
}

// After a first batch's summary, a long batch over a map folder away from the
// middle of the screen: its guard-word question and its summary come up in
// the middle of the launcher's window. "Abbrechen" while the question is
// asked, answered "Ja": the scripts of the round already saved stay, none of
// the rest is touched; the summary says what was saved and lists the
// converted scripts, and with them expanded it stays on the screen.
TEST_F(BatchE2E, TheBoxesOfALongBatchComeUpOverTheWindowAndAStopKeepsWhatWasSaved) {
    constexpr int kScripts = 1100; // a round saved, and more
    WriteMany(Map(), kScripts);
    WriteFileBytes(Map() + L"\\wache.lua", "-- \xE4 UMLAUTE\r\n");
    const std::wstring shortMap = temp / std::wstring_view(L"kurz");
    CreateDirectories(shortMap);
    WriteFileBytes(shortMap + L"\\a.lua", "-- \xE4\r\n");
    WriteFileBytes(shortMap + L"\\b.lua", "-- \xF6\r\n");
    Launcher launcher;
    HWND main = launcher.StartAndWaitForWindow();
    SetCheck(launcher, Sicherung, true);
    SetCheck(launcher, Meldung, true);
    // Away from the middle of the screen, where a box centred on it would be anyway.
    SetWindowPos(main, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {shortMap}, temp));
    std::optional<Box> box = NextBox(launcher);
    ASSERT_TRUE(box && Says(*box, L"Fertig")) << (box ? Narrow(box->words) : "no summary");
    ExpectCentredOn(box->window, main, "the first summary");
    Answer(box->window, IDOK);

    ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {Map()}, temp));
    HWND progress = WaitForProgressWindow(launcher);
    try {
        box = NextBox(launcher, 300s);
    } catch (const HarnessError&) {
        FAIL() << "no question; the progress window says "
               << Narrow(TextOf(GetDlgItem(progress, 102)));
    }
    ASSERT_TRUE(box && Says(*box, L"UMLAUTE")) << (box ? Narrow(box->words) : "no question");
    ExpectCentredOn(box->window, main, "the guard-word question");
    // Pressed while the question is open: the batch stops where it would go on.
    SendMessageW(progress, WM_COMMAND, IDCANCEL, 0);
    Answer(box->window, IDYES);

    box = NextBox(launcher, 120s);
    ASSERT_TRUE(box) << "no summary after Abbrechen";
    ExpectCentredOn(box->window, main, "the summary of the long batch");
    const int converted = CountConverted(Map(), kScripts);
    EXPECT_EQ(converted, 1024); // the first round, saved before the question
    EXPECT_EQ(ReadFileBytes(Map() + L"\\wache.lua"), "-- \xE4 UMLAUTE\r\n");
    EXPECT_TRUE(Says(*box, L"Abgebrochen")) << Narrow(box->words);
    EXPECT_TRUE(Says(*box, L"Bis zum Abbrechen:\n" + Count(converted) +
                               L" Skripte umgewandelt und gespeichert"))
        << Narrow(box->words);
    EXPECT_TRUE(Says(*box, L"Die \u00fcbrigen Skripte sind, wie sie waren.")) << Narrow(box->words);
    EXPECT_TRUE(Says(*box, L"Umgewandelt und gespeichert:\n" + Map() + L"\\s0.lua\n"))
        << Narrow(box->words);
    EXPECT_TRUE(Says(*box, L" weitere")) << Narrow(box->words);
    EXPECT_EQ(FilesEndingIn(Map(), L".bak").size(), static_cast<std::size_t>(converted));
    EXPECT_TRUE(FilesEndingIn(Map(), L".velmo-tmp").empty());

    // The details shown: the box grows, and stays on the screen with its button.
    HWND expander = ChildWithText(box->window, L"Einzelheiten anzeigen");
    ASSERT_NE(expander, nullptr) << Narrow(box->words);
    RECT collapsed{};
    GetWindowRect(box->window, &collapsed);
    PostMessageW(expander, BM_CLICK, 0, 0);
    RECT expanded{};
    EXPECT_TRUE(WaitUntil([&] {
        GetWindowRect(box->window, &expanded);
        return expanded.bottom - expanded.top > collapsed.bottom - collapsed.top;
    }));
    const RECT work = WorkAreaOf(main);
    RECT ok{};
    GetWindowRect(GetDlgItem(box->window, IDOK), &ok);
    for (const RECT& r : {expanded, ok}) {
        EXPECT_GE(r.top, work.top);
        EXPECT_LE(r.bottom, work.bottom);
    }
    SaveBmp(CaptureScreen(expanded),
            WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\e2e-batch-summary.bmp");
    Answer(box->window, IDOK);
    EXPECT_FALSE(NextBox(launcher));
}

class ProgressLayoutE2E : public BatchE2E, public ::testing::WithParamInterface<int> {};

bool IsDark(std::uint32_t p) {
    return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 96;
}

// The rows and columns of a part of the picture where dark pixels are: first
// and last of each, or -1 where there is none.
struct Ink {
    long top = -1, bottom = -1, left = -1, right = -1;
};

Ink InkIn(const Pixels& pixels, const RECT& r) {
    Ink ink;
    for (long y = std::max(0L, r.top); y < std::min<long>(r.bottom, pixels.height); ++y)
        for (long x = std::max(0L, r.left); x < std::min<long>(r.right, pixels.width); ++x)
            if (IsDark(pixels.At(x, y))) {
                if (ink.top < 0)
                    ink.top = y;
                ink.bottom = y;
                ink.left = ink.left < 0 ? x : std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
            }
    return ink;
}

// The progress window at 96, 120, 144 and 192 DPI, held open by the
// guard-word question: every line's letters (the underscore and descenders of
// the script's name included) inside their control and clear of its edges,
// the lines apart, "Abbrechen" inside its frame with room for the focus
// rectangle, nothing outside the window.
TEST_P(ProgressLayoutE2E, EveryLineAndTheButtonFitAtEveryDpi) {
    const int dpi = GetParam();
    const SystemDpi systemDpi(dpi);
    const std::wstring map = temp / std::wstring_view(L"Insel des Nebels");
    CreateDirectories(map);
    WriteFileBytes(map + L"\\a_wache.lua", "-- \xE4 UMLAUTE\r\n");
    WriteFileBytes(map + L"\\skript_0058.lua", "-- Gr\xFC\xDF"
                                               "e\r\n");
    Launcher launcher;
    HWND main = launcher.StartAndWaitForWindow();
    // The launcher's DPI as its window shows it: its client area is the
    // table's at that DPI.
    RECT mainClient{};
    GetClientRect(main, &mainClient);
    if (mainClient.right != TwipsToPixels(kClientWidthTwips, dpi))
        GTEST_SKIP() << "the launcher's client area is " << mainClient.right
                     << " wide, not that at " << dpi
                     << " DPI: here the system's DPI changes only with a new session";
    SetCheck(launcher, Meldung, false);
    ASSERT_TRUE(DropAt(CentreOf(launcher.Control(UmlauteWeg)), {map}, temp));
    std::optional<Box> question = NextBox(launcher);
    ASSERT_TRUE(question && Says(*question, L"UMLAUTE"));
    HWND progress = WaitForProgressWindow(launcher);
    // The question aside, so that the whole progress window shows.
    RECT p{};
    GetWindowRect(progress, &p);
    SetWindowPos(question->window, nullptr, p.right + 20, p.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(WaitUntil([&] {
        return TextOf(GetDlgItem(progress, 101)).find(L"skript_0058.lua") != std::wstring::npos;
    }));
    Pixels pixels, last;
    EXPECT_TRUE(WaitUntil(
        [&] {
            pixels = CaptureClient(progress);
            const bool same = pixels.data == last.data;
            last = pixels;
            return same;
        },
        5s));
    RECT outline{};
    GetWindowRect(progress, &outline);
    SaveBmp(CaptureScreen(outline), WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\e2e-batch-progress-" +
                                        std::to_wstring(dpi) + L".bmp");

    auto rectOf = [&](int id) {
        RECT r{};
        GetWindowRect(GetDlgItem(progress, id), &r);
        MapWindowPoints(HWND_DESKTOP, progress, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    RECT client{};
    GetClientRect(progress, &client);
    const long clear = MulDiv(1, dpi, 96);
    long above = -1; // the last row of the line above
    for (const int id : {100, 101, 102}) {
        SCOPED_TRACE(id);
        const RECT r = rectOf(id);
        const Ink ink = InkIn(pixels, r);
        ASSERT_GE(ink.top, 0) << "no text";
        // A glyph cut by its control reaches its first or last row.
        EXPECT_GE(ink.top, r.top + clear) << dpi << " DPI";
        EXPECT_LE(ink.bottom, r.bottom - 1 - clear) << dpi << " DPI";
        EXPECT_LE(ink.right, r.right - 1) << dpi << " DPI";
        EXPECT_GE(r.left, MulDiv(8, dpi, 96));
        EXPECT_LE(r.right, client.right - MulDiv(8, dpi, 96));
        if (above >= 0) {
            EXPECT_GE(ink.top - above, MulDiv(4, dpi, 96))
                << "the lines touch at " << dpi << " DPI";
        }
        above = id == 101 ? -1 : ink.bottom; // the bar lies between the script and the count
    }
    const RECT script = rectOf(101);
    const RECT bar = rectOf(103), count = rectOf(102), button = rectOf(IDCANCEL);
    EXPECT_GE(bar.top, script.bottom);
    EXPECT_GE(count.top, bar.bottom);
    EXPECT_GE(button.top, bar.bottom + MulDiv(6, dpi, 96));
    EXPECT_LE(count.right, button.left);
    EXPECT_LE(button.bottom, client.bottom - MulDiv(8, dpi, 96));
    EXPECT_LE(button.right, client.right - MulDiv(8, dpi, 96));

    // The caption with room for the focus rectangle drawn inside the frame.
    const SIZE ideal = IdealSize(launcher, GetDlgItem(progress, IDCANCEL));
    EXPECT_LE(ideal.cx + MulDiv(8, dpi, 96), button.right - button.left) << dpi << " DPI";
    EXPECT_LE(ideal.cy, button.bottom - button.top) << dpi << " DPI";
    const long frame = MulDiv(3, dpi, 96);
    const Ink caption = InkIn(pixels, RECT{button.left + frame, button.top + frame,
                                           button.right - frame, button.bottom - frame});
    ASSERT_GE(caption.top, 0) << "no caption";
    const long room = MulDiv(6, dpi, 96); // the frame, the focus rectangle and a pixel apart
    EXPECT_GE(caption.left, button.left + room) << dpi << " DPI";
    EXPECT_LE(caption.right, button.right - 1 - room) << dpi << " DPI";
    EXPECT_GE(caption.top, button.top + frame + 1) << dpi << " DPI";
    EXPECT_LE(caption.bottom, button.bottom - 1 - frame - 1) << dpi << " DPI";

    Answer(question->window, IDNO);
    EXPECT_FALSE(NextBox(launcher, 30s));
    EXPECT_TRUE(IsWindowEnabled(main));
}

INSTANTIATE_TEST_SUITE_P(Dpi, ProgressLayoutE2E, ::testing::Values(96, 120, 144, 192),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param);
                         });

} // namespace
} // namespace velmo::e2e
