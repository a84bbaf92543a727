// Bad inputs, one table: each case is tried in the real launcher's window. The
// launcher must either give the correct result or report the Windows error in a
// clear box ("Fehler <n>: <system text>"), change nothing it should not, and stay
// up: a harmless action afterwards still works. Run together, the cases print
// one table of what was measured.
#include "ConvertSteps.h"

#include "app/VelmoStarter.h"
#include "platform/Win32Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velmo::e2e {
namespace {

class BadInputE2E;

struct BadInputCase {
    const char* name;     // test name
    const char* input;    // what goes wrong, for the table
    const char* expected; // what must happen
    void (*run)(BadInputE2E& t);
};

// GoogleTest names a failing case by this.
void PrintTo(const BadInputCase& c, std::ostream* out) {
    *out << c.name;
}

struct Row {
    std::string input, expected, measured;
    bool passed;
};
std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}

// One installation for all cases: Eisenmark has both library names, Sturmtal its
// library switched on, and the Notepad++ folder has no Notepad++.exe.
class BadInputE2E : public ::testing::TestWithParam<BadInputCase> {
  public:
    void SetUp() override {
        CreateDirectories(notepadDir);
        launcher.StartAndWaitForWindow();
    }
    void TearDown() override {
        EXPECT_TRUE(StillServing(launcher)) << "after: " << GetParam().input;
        Note(launcher.IsRunning() ? "launcher still serves" : "LAUNCHER ENDED");
        const BadInputCase& c = GetParam();
        Rows().push_back({c.input, c.expected, measured, !HasFailure()});
    }

    // Adds an observation to the table's "measured" column.
    void Note(const std::string& observation) {
        if (!measured.empty())
            measured += "; ";
        measured += observation;
    }

    // Expects the launcher's error report for one of `codes` as the next box, notes
    // it and presses OK; afterwards nothing more is shown. A report about a file
    // the user picked must name that file.
    void ExpectReport(std::initializer_list<DWORD> codes, const std::wstring& subject = {}) {
        const std::optional<ShownBox> shown = NextMessageBox(launcher, 60s);
        ASSERT_TRUE(shown) << "no error report";
        const std::wstring& text = shown->info.text;
        Note("box \"" + Narrow(text.substr(0, text.find(L'\r'))) + "\"");
        ::testing::AssertionResult report = ::testing::AssertionFailure();
        for (DWORD code : codes)
            if (!report)
                report = IsErrorReport(*shown, code);
        EXPECT_TRUE(report);
        if (!subject.empty()) {
            const bool named = text.size() > subject.size() &&
                               SamePath(text.substr(text.size() - subject.size()), subject);
            EXPECT_TRUE(named) << "the report does not name " << Narrow(subject) << ": "
                               << Narrow(text);
            Note(named ? "names the script" : "DOES NOT NAME THE SCRIPT");
        }
        Answer(shown->box, IDOK);
        const std::optional<ShownBox> next = NextMessageBox(launcher);
        EXPECT_FALSE(next) << "then: " << Narrow(next->info.text);
    }

    // Clicks a launch image whose action fails; expects the report for `code` and
    // that nothing was started.
    void ExpectLaunchReport(ControlId image, DWORD code) {
        launcher.ClickImage(image);
        launcher.WaitForMessageBox();
        ExpectReport({code});
        Sleep(500); // a program started by mistake would have logged by now
        EXPECT_TRUE(log.Read().empty()) << "something was started";
        Note(log.Read().empty() ? "nothing started" : "SOMETHING STARTED");
    }

    // Converts a script that must fail with `code`; afterwards the script and its
    // folder are as they were.
    void ExpectConversionReport(const std::wstring& script, DWORD code) {
        const std::string content = ReadFileBytes(script);
        const auto entries = Entries(DirectoryOf(script));
        ConvertThroughDialog(launcher, UmlauteWeg, script);
        ExpectReport({code}, script);
        const bool unchanged = ReadFileBytes(script) == content;
        const bool noNewFile = Entries(DirectoryOf(script)) == entries;
        EXPECT_TRUE(unchanged);
        EXPECT_TRUE(noNewFile) << "a backup or temporary file was left";
        Note(std::string(unchanged ? "script unchanged" : "SCRIPT CHANGED") +
             (noNewFile ? ", no backup" : ", NEW FILE IN ITS FOLDER"));
    }

    // Picks a script the launcher must not convert: its message, under the program's
    // title with the stop icon and only OK, names the file and `reason`; afterwards
    // nothing more is shown and the script and its folder are as they were.
    void ExpectRefusal(ControlId button, const std::wstring& script, const std::wstring& reason) {
        const std::string content = ReadFileBytes(script);
        const auto entries = Entries(DirectoryOf(script));
        ConvertThroughDialog(launcher, button, script);
        const std::optional<ShownBox> shown = NextMessageBox(launcher);
        ASSERT_TRUE(shown) << "no message";
        const std::wstring& text = shown->info.text;
        const std::wstring why = L"\r\r" + std::wstring(reason);
        const bool named = text.size() > why.size() &&
                           text.compare(text.size() - why.size(), why.size(), why) == 0 &&
                           SamePath(text.substr(0, text.size() - why.size()), script);
        EXPECT_TRUE(named) << Narrow(text);
        EXPECT_EQ(shown->info.title, kProgramTitle);
        EXPECT_TRUE(shown->HasButton(IDOK) && !shown->HasButton(IDCANCEL) &&
                    !shown->HasButton(IDYES) && !shown->HasButton(IDNO));
        EXPECT_TRUE(ShowsStopIcon(shown->box));
        Note("box names the file: \"" + Narrow(reason) + "\"");
        Answer(shown->box, IDOK);
        const std::optional<ShownBox> next = NextMessageBox(launcher);
        EXPECT_FALSE(next) << "then: " << Narrow(next->info.text);
        const bool unchanged = ReadFileBytes(script) == content;
        const bool noNewFile = Entries(DirectoryOf(script)) == entries;
        EXPECT_TRUE(unchanged);
        EXPECT_TRUE(noNewFile) << "a backup or temporary file was left";
        Note(std::string(unchanged ? "file byte-identical" : "FILE CHANGED") +
             (noNewFile ? ", no backup" : ", NEW FILE IN ITS FOLDER"));
    }

    // The box's icon as it is on the screen is the critical stop, a red disc: a
    // warning, question or information icon is yellow or blue.
    static bool ShowsStopIcon(HWND box) {
        HWND icon = nullptr;
        for (HWND child = GetWindow(box, GW_CHILD); child && !icon;
             child = GetWindow(child, GW_HWNDNEXT))
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                IsWindowVisible(child))
                icon = child;
        if (!icon)
            return false;
        const Pixels pixels = CaptureClient(icon);
        const auto red = std::count_if(pixels.data.begin(), pixels.data.end(), [](std::uint32_t p) {
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            return r > 150 && g < 110 && b < 110;
        });
        return red * 4 > static_cast<std::ptrdiff_t>(pixels.data.size());
    }

    // Converts `script` (ä ö ü ß Ä Ö Ü to their pairs) through the dialog and checks
    // the result, the "Fertig" box and the one backup beside it.
    // `samples` are positions compared one by one besides size and fingerprint.
    void ExpectConverted(const std::wstring& script, const std::string& original,
                         Duration limit = kDefaultWait,
                         const std::vector<std::size_t>& samples = {}) {
        const std::wstring dir = DirectoryOf(script);
        const auto entries = Entries(dir);
        const HWND dialog = OpenConversionDialog(launcher, UmlauteWeg);
        const SYSTEMTIME from = LocalNow();
        Launcher::ChooseFile(dialog, script);
        const std::optional<ShownBox> done = NextMessageBox(launcher, limit);
        const SYSTEMTIME to = LocalNow();
        ASSERT_TRUE(done) << "no \"Fertig\"";
        // Random bytes hold characters the conversion keeps as UTF-8; "Fertig"
        // then names them on a second line.
        const std::size_t kept = KeptAsUtf8Count(original);
        if (kept == 0)
            ASSERT_EQ(done->info.text, kDoneText);
        else
            ASSERT_EQ(done->info.text.rfind(std::wstring(kDoneText) + L"\r" +
                                                std::to_wstring(kept) + L" Zeichen geh",
                                            0),
                      0u)
                << Narrow(done->info.text);
        Answer(done->box, IDOK);
        EXPECT_FALSE(NextMessageBox(launcher));
        Note("\"Fertig\"");

        const std::string expected = WithUmlautPairs(original);
        const std::string converted = ReadFileBytes(script);
        EXPECT_EQ(converted.size(), expected.size());
        EXPECT_EQ(Fingerprint(converted), Fingerprint(expected));
        EXPECT_EQ(FirstDifference(expected, converted), "same");
        for (std::size_t at : samples)
            EXPECT_EQ(converted.at(at), expected.at(at)) << "byte " << at;
        Note("converted (" + std::to_string(converted.size()) + " bytes)");

        const auto added = Added(entries, Entries(dir));
        ASSERT_EQ(added.size(), 1u) << "expected exactly one backup";
        const auto names = BackupNamesBetween(FileNameOf(script), from, to);
        EXPECT_NE(std::find(names.begin(), names.end(), added[0]), names.end()) << Narrow(added[0]);
        const std::string backup = ReadFileBytes(dir + L"\\" + added[0]);
        EXPECT_EQ(backup.size(), original.size());
        EXPECT_EQ(Fingerprint(backup), Fingerprint(original));
        Note(backup == original ? "backup beside it holds the original"
                                : "BACKUP DIFFERS FROM THE ORIGINAL");
    }

    TempDir temp{L"velmo-bad"};
    StandinLog log{temp / L"starts.log"};
    GameInstall game{temp / L"Spiele\\Velmoria", Library::Both, Library::On};
    std::wstring notepadDir = temp / L"Notepad++";
    LauncherRegistry registry{game.GamePath(), notepadDir};
    Launcher launcher;
    std::string measured;
};

// ---- the cases

void MissingFileTyped(BadInputE2E& t) {
    const std::wstring dir = t.temp / L"Skripte";
    CreateDirectories(dir);
    const std::wstring missing = dir + L"\\gibt-es-nicht.lua";
    const HWND dialog = OpenConversionDialog(t.launcher, UmlauteWeg);
    Launcher::ChooseFile(dialog, missing);
    // The dialog itself refuses the name (it must exist) and says so in a box of its own.
    const std::optional<ShownBox> complaint = NextMessageBox(t.launcher);
    ASSERT_TRUE(complaint) << "the dialog accepted a file that does not exist";
    EXPECT_EQ(GetWindow(complaint->box, GW_OWNER), dialog) << "the box is not the dialog's";
    t.Note("dialog's own box \"" + Narrow(complaint->info.text) + "\"");
    Answer(complaint->box, IDOK);
    EXPECT_TRUE(IsWindowVisible(dialog));
    t.Note(IsWindowVisible(dialog) ? "dialog stays open, cancelled" : "DIALOG CLOSED");
    Launcher::CancelDialog(dialog);
    const std::optional<ShownBox> next = NextMessageBox(t.launcher);
    EXPECT_FALSE(next) << Narrow(next->info.text);
    EXPECT_FALSE(FileExists(missing));
    EXPECT_TRUE(Entries(dir).empty());
    t.Note(Entries(dir).empty() ? "nothing written" : "SOMETHING WRITTEN");
}

void ReadOnlyScript(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\schreibgeschuetzt.lua";
    WriteFileBytes(script, "-- \xE4\r\n");
    SetReadOnly(script, true);
    t.ExpectConversionReport(script, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(GetFileAttributesW(script.c_str()) & FILE_ATTRIBUTE_READONLY);
}

void ScriptHeldWithoutSharing(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\gesperrt.lua";
    const std::string content = "-- \xE4\r\n";
    WriteFileBytes(script, content);
    std::optional<ExclusiveHold> hold(std::in_place, script);
    const auto entries = Entries(DirectoryOf(script));
    ConvertThroughDialog(t.launcher, UmlauteWeg, script);
    t.ExpectReport({ERROR_SHARING_VIOLATION}, script);
    hold.reset(); // the other program lets go
    const bool unchanged = ReadFileBytes(script) == content;
    const bool noNewFile = Entries(DirectoryOf(script)) == entries;
    EXPECT_TRUE(unchanged);
    EXPECT_TRUE(noNewFile);
    t.Note(std::string(unchanged ? "script unchanged" : "SCRIPT CHANGED") +
           (noNewFile ? ", no backup" : ", NEW FILE IN ITS FOLDER"));
}

// Another program reads the script and lets others read it, but not replace it:
// loading works, replacing the script fails after the backup was written.
void ScriptOpenForReading(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\geoeffnet.lua";
    const std::string content = "-- \xE4\r\n";
    WriteFileBytes(script, content);
    HANDLE reader = CreateFileW(script.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ConvertThroughDialog(t.launcher, UmlauteWeg, script);
    // Windows refuses to replace a file in use as access denied or sharing violation.
    t.ExpectReport({ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}, script);
    CloseHandle(reader);

    const bool unchanged = ReadFileBytes(script) == content;
    EXPECT_TRUE(unchanged);
    bool onlyBackups = true;
    for (const std::wstring& name : Entries(DirectoryOf(script))) {
        if (name == FileNameOf(script))
            continue;
        // A backup made before the failing step holds the script as it was.
        const bool backup = name.size() > 4 && name.substr(name.size() - 4) == L".bak" &&
                            ReadFileBytes(DirectoryOf(script) + L"\\" + name) == content;
        EXPECT_TRUE(backup) << "left behind: " << Narrow(name);
        onlyBackups = onlyBackups && backup;
    }
    t.Note(std::string(unchanged ? "script unchanged" : "SCRIPT CHANGED") +
           (onlyBackups ? ", no temporary file left (a backup of the original may stay)"
                        : ", OTHER FILES LEFT"));
}

// A compiled chunk: its header, then 64 times a piece of instructions and
// numbers whose bytes include the seven umlaut bytes and their pairs.
// Converting it would destroy it for good.
void ExpectChunkRefused(BadInputE2E& t, ControlId button, const std::wstring& script,
                        std::string_view header, std::string_view piece) {
    std::string chunk(header);
    for (int i = 0; i < 64; ++i)
        chunk += piece;
    WriteFileBytes(script, chunk);
    t.ExpectRefusal(button, script,
                    L"Die Datei ist ein kompiliertes Lua-Skript (Bytecode) und wird nicht "
                    L"umgewandelt.");
}

// What luac writes; the folder and file name carry umlauts of their own.
void CompiledChunk(BadInputE2E& t) {
    ExpectChunkRefused(t, UmlauteZurueck, t.temp / L"Skripte\\\u00dcbersetzt\\Br\u00fccke.lua",
                       std::string_view("\x1BLuaQ\0\x01\x04\x08\x04\x08\0", 12),
                       std::string_view("\x0A\0\0\0\xE4\xC3\xA4\x1E\0\x80\0\xDF", 12));
}

// What luajit -b writes: ESC "LJ", its version and flags, then bytecode.
void LuaJitChunk(BadInputE2E& t) {
    ExpectChunkRefused(t, UmlauteWeg, t.temp / L"Skripte\\jit.lua",
                       std::string_view("\x1BLJ\x02\x0A", 5),
                       std::string_view("\x01\xE4\x00\xDF\xC3\xA4\x02\xFC", 8));
}

// A script already in UTF-8 with Chinese and Polish text beside German: every
// byte stays, and "Fertig" names what was left and where.
void Utf8Script(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\utf8.lua";
    const std::string text = "x = \"\xE4\xB8\xAD \xC4\x85\"\r\n-- Gr\xC3\xB6\xC3\x9F"
                             "e\r\n";
    WriteFileBytes(script, text);
    const auto entries = Entries(DirectoryOf(script));
    ConvertThroughDialog(t.launcher, UmlauteWeg, script);
    const std::optional<ShownBox> done = NextMessageBox(t.launcher);
    ASSERT_TRUE(done) << "no \"Fertig\"";
    EXPECT_EQ(done->info.text, L"Fertig\r2 Zeichen geh\u00f6ren schon zu UTF-8-Text und bleiben, "
                               L"wie sie sind; das erste: \u201e\u4e2d\u201c in Zeile 1.");
    Answer(done->box, IDOK);
    EXPECT_FALSE(NextMessageBox(t.launcher));
    EXPECT_EQ(FirstDifference(text, ReadFileBytes(script)), "same");
    EXPECT_EQ(Added(entries, Entries(DirectoryOf(script))).size(), 1u) << "one backup";
    t.Note("byte-identical; \"Fertig\" names the first character kept and its line");
}

// What Notepad++ writes as "UCS-2 LE BOM": little-endian UTF-16 with its mark.
void Utf16Script(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\utf16.lua";
    const std::wstring text = L"-- Gr\u00fc\u00dfe\r\nprint(\"\u00c4rger\")\r\n";
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    WriteFileBytes(script, bytes);
    t.ExpectRefusal(UmlauteWeg, script,
                    L"Die Datei ist in UTF-16 gespeichert und wird nicht umgewandelt.");
}

void EmptyScript(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\leer.lua";
    WriteFileBytes(script, "");
    t.ExpectConverted(script, "");
}

// A script named as a Windows device, as a map checked out from Linux may hold
// one: it is the file of that name, never the console.
void DeviceNamedScript(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\con.lua";
    const std::string original = "-- Gr\xFC\xDF"
                                 "e\r\n";
    WriteFileBytes(script, original);
    t.ExpectConverted(script, original);
}

// The temporary file a killed save left beside the script: the next
// conversion of the script removes it.
void LeftoverOfAKilledSave(BadInputE2E& t) {
    const std::wstring script = t.temp / L"Skripte\\karte.lua";
    const std::wstring leftover = t.temp / L"Skripte\\~karte.lua.1.velmo-tmp";
    const std::string original = "print(\"\xC4rger\")\r\n";
    WriteFileBytes(script, original);
    WriteFileBytes(leftover, "-- halb");
    t.ExpectConverted(script, original);
    const bool gone = GetFileAttributesW(leftover.c_str()) == INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(gone);
    t.Note(gone ? "the leftover is gone" : "THE LEFTOVER STAYED");
}

// 100 MiB of every byte value in a pattern that does not repeat in step with the
// 16 MiB pieces the launcher reads and writes in.
void HugeScript(BadInputE2E& t) {
    constexpr std::size_t kSize = 100u << 20;
    std::string original(kSize, '\0');
    std::uint32_t x = 2463534242u;
    for (std::size_t i = 0; i < kSize; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        original[i] = static_cast<char>(x >> 24);
    }
    const std::wstring script = t.temp / L"Skripte\\riesig.lua";
    WriteFileBytes(script, original);
    // Start, both sides of the first piece boundary, inside, and the end.
    const std::size_t grown = WithUmlautPairs(original).size();
    t.ExpectConverted(script, original, 120s,
                      {0, (16u << 20) - 1, 16u << 20, (32u << 20) + 7, grown / 2, grown - 1});
}

void NonAnsiPath(BadInputE2E& t) {
    const std::wstring script = t.temp / L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac\\"
                                         L"\u65e5\u672c\u8a9e\u30d5\u30a9\u30eb\u30c0\\"
                                         L"\u30b9\u30af\u30ea\u30d7\u30c8_\u03b1\u03b2\u03b3.lua";
    const std::string original = "-- Gr\xFC\xDF"
                                 "e \xC4\xD6\xDC\r\n";
    WriteFileBytes(script, original);
    t.ExpectConverted(script, original);
}

// ---- paths longer than MAX_PATH, created and read with the "\\?\" prefix

std::wstring Extended(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

void WriteLongPathFile(const std::wstring& path, const std::string& bytes) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos;
         at = path.find(L'\\', at + 1))
        CreateDirectoryW(Extended(path.substr(0, at)).c_str(), nullptr);
    WriteFileBytes(Extended(path), bytes);
}

// The launcher's own click procedure and Win32 services, with the open-file
// dialog answered by the test: a message box is only recorded.
class DialogAnswered : public Win32Platform {
  public:
    explicit DialogAnswered(std::string pick) : pick_(std::move(pick)) {}
    void ShowOpen(CommonDialog& dialog) override { dialog.FileName = pick_; }
    int MsgBox(const std::string& text, int, const std::string&) override {
        shown.push_back(text);
        return mb::AnswerOk;
    }
    std::vector<std::string> shown;

  private:
    std::string pick_;
};

void LongPath(BadInputE2E& t) {
    std::wstring dir = t.temp.WidePath();
    for (int i = 1; dir.size() < 300; ++i)
        dir += L"\\ein_ordner_mit_einem_langen_namen_" + std::to_wstring(i);
    const std::wstring script = dir + L"\\skript.lua";
    const std::string original = "-- \xE4\xF6\xFC\r\n";
    ASSERT_GT(script.size(), 260u);
    WriteLongPathFile(script, original);
    t.Note("path of " + std::to_string(script.size()) + " characters");

    if (!RunningUnderWine()) {
        // On Windows the dialog is asked; it may refuse what it cannot hold.
        const HWND dialog = OpenConversionDialog(t.launcher, UmlauteWeg);
        Launcher::ChooseFile(dialog, script);
        if (WaitUntil([&] { return !IsWindowVisible(dialog); }, 3s)) {
            const std::optional<ShownBox> done = NextMessageBox(t.launcher);
            ASSERT_TRUE(done);
            EXPECT_EQ(done->info.text, kDoneText);
            Answer(done->box, IDOK);
            EXPECT_EQ(ReadFileBytes(Extended(script)), WithUmlautPairs(original));
            t.Note("dialog delivered it; converted");
            return;
        }
        Launcher::CancelDialog(dialog);
        ASSERT_FALSE(NextMessageBox(t.launcher));
        t.Note("dialog refuses it");
    } else {
        // Wine's open-file dialog keeps the chosen name in a MAX_PATH buffer: a
        // typed longer name is refused without a word or overruns the buffer and
        // ends the program, and the dialog stops answering when it browses into a
        // folder deeper than that. It cannot deliver such a path here.
        t.Note("Wine's dialog cannot deliver it");
    }

    // The rest of the way as the window takes it, in this process.
    DialogAnswered platform(Narrow(script));
    VelmoStarter starter(platform);
    const SYSTEMTIME from = LocalNow();
    starter.Click(UmlauteWeg);
    const SYSTEMTIME to = LocalNow();
    EXPECT_EQ(platform.shown, std::vector<std::string>{"Fertig"});
    EXPECT_EQ(ReadFileBytes(Extended(script)), WithUmlautPairs(original));
    const auto added = Added({L"skript.lua"}, Entries(Extended(dir)));
    ASSERT_EQ(added.size(), 1u);
    const auto names = BackupNamesBetween(L"skript.lua", from, to);
    EXPECT_NE(std::find(names.begin(), names.end(), added[0]), names.end()) << Narrow(added[0]);
    EXPECT_EQ(ReadFileBytes(Extended(dir + L"\\" + added[0])), original);
    t.Note(platform.shown.size() == 1 ? "same click procedure in-process: converted, \"Fertig\", "
                                        "backup beside it"
                                      : "IN-PROCESS CONVERSION FAILED");
}

void BothLibraryNames(BadInputE2E& t) {
    t.ExpectLaunchReport(EisenmarkNormal, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(t.game.LibraryState(Edition::Eisenmark), Library::Both);
    const bool unchanged = ReadFileBytes(t.game.LibraryOn(Edition::Eisenmark)) ==
                               GameInstall::LibraryContent(Edition::Eisenmark, Library::On) &&
                           ReadFileBytes(t.game.LibraryOff(Edition::Eisenmark)) ==
                               GameInstall::LibraryContent(Edition::Eisenmark, Library::Off);
    EXPECT_TRUE(unchanged);
    t.Note(unchanged ? "both files unchanged" : "LIBRARY FILES CHANGED");
}

void GameRemovedAfterStart(BadInputE2E& t) {
    RemoveFile(t.game.Game(Edition::Sturmtal));
    t.ExpectLaunchReport(SturmtalNormal, ERROR_FILE_NOT_FOUND);
    // The rename before the start stays done.
    EXPECT_EQ(t.game.LibraryState(Edition::Sturmtal), Library::Off);
    t.Note(t.game.LibraryState(Edition::Sturmtal) == Library::Off
               ? "library keeps its new name LuaDebugger.dll.off"
               : "LIBRARY NOT RENAMED");
}

void NotepadProgramMissing(BadInputE2E& t) {
    t.ExpectLaunchReport(Notepad, ERROR_FILE_NOT_FOUND);
}

const BadInputCase kCases[] = {
    {"MissingFileTyped", "file name typed in the dialog does not exist",
     "dialog refuses it itself and stays open; nothing written", MissingFileTyped},
    {"ReadOnlyScript", "read-only script", "error 5 box; script unchanged; no backup",
     ReadOnlyScript},
    {"ScriptHeldWithoutSharing", "script held open without sharing by another program",
     "error 32 box; script unchanged; no backup", ScriptHeldWithoutSharing},
    {"ScriptOpenForReading", "script open in another program that lets others only read it",
     "error box naming the script; script unchanged; no temporary file left", ScriptOpenForReading},
    {"CompiledChunk", "compiled Lua chunk (luac output) picked",
     "message naming the file and why; file byte-identical; no backup", CompiledChunk},
    {"LuaJitChunk", "LuaJIT bytecode (luajit -b output) picked",
     "message naming the file and why; file byte-identical; no backup", LuaJitChunk},
    {"Utf8Script", "UTF-8 script with Chinese and Polish text, \"für Velmo\"",
     "byte-identical; \"Fertig\" and a line naming what stays", Utf8Script},
    {"Utf16Script", "UTF-16 script with byte-order mark picked",
     "message naming the file and why; file byte-identical; no backup", Utf16Script},
    {"EmptyScript", "empty script", "converted to empty; empty backup; \"Fertig\"", EmptyScript},
    {"DeviceNamedScript", "script named con.lua picked", "converted correctly; backup beside it",
     DeviceNamedScript},
    {"LeftoverOfAKilledSave", "script with a killed save's temporary file beside it",
     "converted correctly; backup; the temporary file gone", LeftoverOfAKilledSave},
    {"HugeScript", "100 MiB script", "converted correctly; backup", HugeScript},
    {"NonAnsiPath", "Greek and Japanese folder and file names",
     "converted correctly; backup beside it", NonAnsiPath},
    {"LongPath", "path longer than 260 characters", "converted correctly; backup beside it",
     LongPath},
    {"BothLibraryNames", "Normal clicked with both library names present",
     "error 183 box; nothing started; both files unchanged", BothLibraryNames},
    {"GameRemovedAfterStart", "Normal clicked after the game program was removed",
     "error 2 box; library keeps its new name", GameRemovedAfterStart},
    {"NotepadProgramMissing", "Notepad++ folder without Notepad++.exe", "error 2 box",
     NotepadProgramMissing},
};

TEST_P(BadInputE2E, ReportsOrCopesAndStaysUp) {
    GetParam().run(*this);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputE2E, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BadInputCase>& info) {
                             return std::string(info.param.name);
                         });

// Prints the cases that ran with what was measured, as a Markdown table.
class TablePrinter : public ::testing::Environment {
  public:
    void TearDown() override {
        if (Rows().empty())
            return;
        std::printf("\n| bad input | expected | measured | |\n|---|---|---|---|\n");
        for (const Row& row : Rows())
            std::printf("| %s | %s | %s | %s |\n", row.input.c_str(), row.expected.c_str(),
                        row.measured.c_str(), row.passed ? "ok" : "FAILED");
        std::fflush(stdout);
    }
};
[[maybe_unused]] ::testing::Environment* const kTablePrinter =
    ::testing::AddGlobalTestEnvironment(new TablePrinter);

} // namespace
} // namespace velmo::e2e
