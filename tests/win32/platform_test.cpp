// The Win32 platform services against the real thing: registry, files, renames,
// process start, date and time, message boxes and the open-file dialog. Every
// test works in its own temporary folder or registry key and removes it again.
#include "TestSupport.h"

#include "app/VelmoStarter.h"
#include "convert/ScriptFile.h"
#include "convert/Umlaute.h"
#include "platform/Handle.h"
#include "platform/Win32Platform.h"
#include "platform/Win32Text.h"
#include "registry/Module1.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <commdlg.h>
#include <sddl.h>

#include <algorithm>
#include <functional>
#include <thread>

namespace velmo {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using test::AttributesOf;
using test::ErrorOf;
using test::kGreek;
using test::kJapanese;
using test::LongFolder;
using test::NamesIn;
using test::ReadRaw;
using test::TempDir;
using test::WriteRaw;

// Umlauts in names (UTF-8 in the source).
const std::string kUmlauts = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"; // äöüß

bool HasTemporaryFile(const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(), [](const std::string& name) {
        return name.find("velmo-tmp") != std::string::npos;
    });
}

// =====================================================================
// Registry: values written with the wide functions, read back through the
// narrow ones as start-up does.

constexpr DWORD kView32 = KEY_WOW64_32KEY;
constexpr DWORD kView64 = KEY_WOW64_64KEY;
// The view a program reads without a view flag: its own bitness.
constexpr DWORD kOwnView = sizeof(void*) == 8 ? kView64 : kView32;

// HKLM\SOFTWARE\VelmoTest\<unique> in both registry views, deleted at the end.
class TestKey {
  public:
    TestKey() : name_(test::UniqueName("key")) {}
    ~TestKey() {
        for (DWORD view : {kView32, kView64}) {
            HKEY parent = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VelmoTest", 0, KEY_ALL_ACCESS | view,
                              &parent) != ERROR_SUCCESS)
                continue;
            RegDeleteTreeW(parent, Widen(name_).c_str());
            RegCloseKey(parent);
            // Only goes when no other test's key is left in it.
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VelmoTest", view, 0);
        }
    }
    std::string SubKey() const { return "SOFTWARE\\VelmoTest\\" + name_; }

    // Creates the key in `view`; with a value kind other than None also sets the value.
    // `after` follows the counted bytes in memory without being counted: the
    // system looks at it when a string's count leaves out its terminator.
    void Set(DWORD view, const std::string& valueName, DWORD type, const std::string& bytes,
             const std::string& after = std::string(4, '\0')) {
        HKEY key = Create(view);
        const std::string buffer = bytes + after;
        ASSERT_EQ(RegSetValueExW(key, Widen(valueName).c_str(), 0, type,
                                 reinterpret_cast<const BYTE*>(buffer.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void CreateKey(DWORD view) { RegCloseKey(Create(view)); }

  private:
    HKEY Create(DWORD view) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, Widen(SubKey()).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    std::string name_;
};

// The bytes RegSetValueExW stores for a text, with or without its terminating NUL.
std::string WideBytes(const std::string& utf8, bool withNul) {
    std::wstring wide = Widen(utf8);
    if (withNul)
        wide.push_back(L'\0');
    return std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}
std::string DwordBytes(std::uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// One value stored for a case: where, under which name, of which type.
struct Stored {
    DWORD view;
    std::string name;
    DWORD type; // REG_NONE: only the key is created
    std::string bytes;
    std::string after = std::string(4, '\0'); // in memory behind the counted bytes
};
// How a string's terminator is handed to RegSetValueExW.
enum class Nul {
    Counted,      // the byte count includes it
    NotCounted,   // the count leaves it out, but it follows in memory: the system adds it
    Unterminated, // the count leaves it out and other characters follow: stored without
};
Stored Sz(DWORD view, const std::string& text, Nul nul = Nul::Counted,
          const std::string& name = "InstallPath") {
    return {view, name, REG_SZ, WideBytes(text, nul == Nul::Counted),
            nul == Nul::Unterminated ? WideBytes("X", true) : WideBytes("", true)};
}
Stored KeyOnly(DWORD view) {
    return {view, "", REG_NONE, ""};
}

void Store(TestKey& key, const std::vector<Stored>& values) {
    for (const Stored& v : values) {
        if (v.type == REG_NONE)
            key.CreateKey(v.view);
        else
            key.Set(v.view, v.name, v.type, v.bytes, v.after);
    }
}

TEST(Win32Registry, ReadRegistryValueCases) {
    const RegistryResult before = std::string("vorher");
    struct Case {
        const char* name;
        std::vector<Stored> stored;
        std::string valueName;
        std::uint32_t readView;
        std::int32_t status;
        RegistryResult expected;
    };
    const Case cases[] = {
        {"string with terminator",
         {Sz(kView32, "C:\\Spiel")},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         "C:\\Spiel\0 "s},
        {"count without the terminator: the system adds it",
         {Sz(kView32, "C:\\Spiel", Nul::NotCounted)},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         "C:\\Spiel\0 "s},
        {"string stored without terminator",
         {Sz(kView32, "C:\\Spiel", Nul::Unterminated)},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         "C:\\Spiel "s},
        {"empty string with terminator",
         {Sz(kView32, "")},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         "\0 "s},
        {"string without any data bytes",
         {Sz(kView32, "", Nul::Unterminated)},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         " "s},
        {"non-ASCII text through the ANSI code page",
         {Sz(kView32, "C:\\Spiele\\M\xC3\xBCll")},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         "C:\\Spiele\\M\xC3\xBCll\0 "s},
        {"default value",
         {Sz(kView32, "C:\\Notepad++", Nul::Counted, "")},
         "",
         reg::KeyWow64_32Key,
         0,
         "C:\\Notepad++\0 "s},
        {"dword",
         {{kView32, "InstallPath", REG_DWORD, DwordBytes(42)}},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         std::int32_t{42}},
        {"negative dword",
         {{kView32, "InstallPath", REG_DWORD, DwordBytes(0xFFFFFFFFu)}},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         std::int32_t{-1}},
        {"expandable string is not read",
         {{kView32, "InstallPath", REG_EXPAND_SZ, WideBytes("%SystemRoot%\\x", true)}},
         "InstallPath",
         reg::KeyWow64_32Key,
         0,
         before},
        {"missing key", {}, "InstallPath", reg::KeyWow64_32Key, 2, before},
        {"missing value",
         {KeyOnly(kView32), Sz(kView32, "C:\\x", Nul::Counted, "Anders")},
         "InstallPath",
         reg::KeyWow64_32Key,
         2,
         before},
        {"value only in the 64-bit view, read in the 32-bit view",
         {Sz(kView64, "C:\\64")},
         "InstallPath",
         reg::KeyWow64_32Key,
         2,
         before},
        {"value only in the 32-bit view, read in the 64-bit view",
         {Sz(kView32, "C:\\32")},
         "InstallPath",
         reg::KeyWow64_64Key,
         2,
         before},
        {"no view flag reads the program's own view",
         {Sz(kOwnView, "C:\\eigen")},
         "InstallPath",
         0,
         0,
         "C:\\eigen\0 "s},
    };
    for (const Case& c : cases) {
        TestKey key;
        Store(key, c.stored);
        Win32Platform platform;
        RegistryResult result = before;
        EXPECT_EQ(ReadRegistryValue(platform, HkeyLocalMachine, key.SubKey(), c.valueName, result,
                                    c.readView),
                  c.status)
            << c.name;
        EXPECT_EQ(result, c.expected) << c.name;
    }
}

TEST(Win32Registry, LookUpDirectoryCases) {
    struct Case {
        const char* name;
        std::vector<Stored> stored;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"32-bit view only", {Sz(kView32, "C:\\Nur32")}, "C:\\Nur32"},
        {"64-bit view only, found by the fallback", {Sz(kView64, "C:\\Nur64")}, "C:\\Nur64"},
        {"both views: the 32-bit one wins",
         {Sz(kView32, "C:\\Zweiunddreissig"), Sz(kView64, "C:\\Vierundsechzig")},
         "C:\\Zweiunddreissig"},
        {"32-bit key without the value falls back",
         {KeyOnly(kView32), Sz(kView64, "C:\\Nur64")},
         "C:\\Nur64"},
        {"empty 32-bit value does not fall back",
         {Sz(kView32, ""), Sz(kView64, "C:\\64")},
         std::nullopt},
        {"neither view", {}, std::nullopt},
        {"blanks around, stored without terminator",
         {Sz(kView32, " D:\\Velmo ", Nul::Unterminated)},
         "D:\\Velmo"},
        {"stored without terminator: the last character stays",
         {Sz(kView32, "D:\\Velmo", Nul::Unterminated)},
         "D:\\Velmo"},
        {"blanks around, stored with terminator", {Sz(kView32, " D:\\Velmo ")}, "D:\\Velmo "},
        {"non-ASCII text", {Sz(kView64, "C:\\Spiele\\M\xC3\xBCll")}, "C:\\Spiele\\M\xC3\xBCll"},
    };
    for (const Case& c : cases) {
        TestKey key;
        Store(key, c.stored);
        Win32Platform platform;
        EXPECT_EQ(LookUpDirectory(platform, key.SubKey(), "InstallPath"), c.expected) << c.name;
    }
}

TEST(Win32Registry, DefaultValueAndUnknownHandles) {
    TestKey key;
    key.Set(kView64, "", REG_SZ, WideBytes("C:\\Programme\\Notepad++", true));
    Win32Platform platform;
    EXPECT_EQ(LookUpDirectory(platform, key.SubKey(), ""), "C:\\Programme\\Notepad++");
    // A handle the platform never handed out is refused, not passed on.
    EXPECT_EQ(platform.RegCloseKey(12345), ERROR_INVALID_HANDLE);
}

// =====================================================================
// Files

TEST(Win32Files, FileExistsCases) {
    TempDir dir("exists");
    const std::string unicodeDir = dir / ("Mit Blanks " + kGreek + " " + kJapanese);
    test::MakeDirs(unicodeDir);
    test::MakeDirs(dir / "Ordner");
    WriteRaw(dir / "karte.lua", "x");
    WriteRaw(unicodeDir + "\\karte " + kUmlauts + ".lua", "x");
    const std::string longDir = LongFolder(dir);
    WriteRaw(longDir + "\\karte.lua", "x");

    const struct {
        std::string path;
        bool exists;
    } cases[] = {
        {dir / "karte.lua", true},
        {dir / "KARTE.LUA", true},
        {dir / "Ordner", false},
        {dir / "fehlt.lua", false},
        {dir / "fehlt\\karte.lua", false},
        {dir / "fehlt\\noch\\mehr\\karte.lua", false},
        {unicodeDir + "\\karte " + kUmlauts + ".lua", true},
        {longDir + "\\karte.lua", true},
        {longDir + "\\fehlt.lua", false},
        {longDir, false},
        {"", false},
    };
    Win32Platform platform;
    for (const auto& c : cases)
        EXPECT_EQ(platform.FileExists(c.path), c.exists) << c.path;
}

// Content that exercises the byte handling: every value, line ends, NULs, sizes.
std::vector<std::pair<std::string, std::string>> ContentCases() {
    std::string everyByte;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b)
            everyByte.push_back(static_cast<char>(b));
    std::string megabytes(3u << 20, '\0');
    for (std::size_t i = 0; i < megabytes.size(); ++i)
        megabytes[i] = static_cast<char>((i * 7919u) >> 3);
    // Just past the size the platform reads and writes in one call.
    std::string pastOneChunk((16u << 20) + 3, 'a');
    pastOneChunk[16u << 20] = '\xE4';
    return {
        {"every byte value", everyByte},
        {"CRLF and lone CR/LF", "eins\r\nzwei\n\ndrei\r\r\n"},
        {"NUL bytes", "\0a\0\0b\0"s},
        {"empty", ""},
        {"Windows-1252 umlauts", "Gr\xFC\xDF"
                                 "e \xC4rger \x81\x8D\x8F\x90\x9D"},
        {"3 MiB", megabytes},
        {"16 MiB and 3 bytes", pastOneChunk},
    };
}

TEST(Win32Files, ReadAndWriteKeepEveryByte) {
    TempDir dir("bytes");
    Win32Platform platform;
    int n = 0;
    for (const auto& [name, content] : ContentCases()) {
        // Written by the platform, read independently.
        const std::string written = dir / ("geschrieben" + std::to_string(n) + ".lua");
        platform.WriteNewFile(written, content, file_attr::Normal);
        EXPECT_EQ(ReadRaw(written), content) << name;
        // Written independently, read by the platform.
        const std::string raw = dir / ("roh" + std::to_string(n++) + ".lua");
        WriteRaw(raw, content);
        EXPECT_TRUE(platform.ReadWholeFile(raw) == content) << name;
    }
}

TEST(Win32Files, WriteNewFileRefusesAnExistingFileAndSetsAttributes) {
    TempDir dir("new");
    Win32Platform platform;
    const std::string path = dir / "karte.lua";
    WriteRaw(path, "alt");
    const PlatformError e = ErrorOf([&] { platform.WriteNewFile(path, "neu", file_attr::Normal); });
    EXPECT_EQ(e.Code(), win_error::FileExists);
    EXPECT_FALSE(e.Text().empty());
    EXPECT_EQ(e.Subject(), path);
    EXPECT_EQ(ReadRaw(path), "alt");

    const std::string hidden = dir / "versteckt.lua";
    platform.WriteNewFile(hidden, "x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_TRUE(AttributesOf(hidden) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(platform.FileAttributes(hidden) & FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN);
}

TEST(Win32Files, FailingOperationsNameTheErrorAndThePath) {
    TempDir dir("failing");
    Win32Platform platform;
    const std::string missing = dir / "fehlt.lua";
    const std::string folder = dir / "Ordner";
    const std::string locked = dir / "gesperrt.lua";
    test::MakeDirs(folder);
    WriteRaw(locked, "alt");
    AutoFile holder(
        CreateFileW(Widen(locked).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const struct {
        const char* name;
        std::function<void()> action;
        std::uint32_t code;
        std::string subject;
    } cases[] = {
        {"read a missing file", [&] { platform.ReadWholeFile(missing); }, 2, missing},
        {"attributes of a missing file", [&] { platform.FileAttributes(missing); }, 2, missing},
        {"delete a missing file", [&] { platform.DeleteFile(missing); }, 2, missing},
        {"rename a missing file", [&] { platform.MoveFile(missing, dir / "neu.lua", false); }, 2,
         missing},
        {"write into a missing folder",
         [&] { platform.WriteNewFile(dir / "fehlt\\neu.lua", "x", file_attr::Normal); },
         ERROR_PATH_NOT_FOUND, dir / "fehlt\\neu.lua"},
        {"read a folder", [&] { platform.ReadWholeFile(folder); }, 5, folder},
        {"read a file held open without sharing", [&] { platform.ReadWholeFile(locked); }, 32,
         locked},
        {"delete a file held open without sharing", [&] { platform.DeleteFile(locked); }, 32,
         locked},
    };
    for (const auto& c : cases) {
        const PlatformError e = ErrorOf(c.action);
        EXPECT_EQ(e.Code(), c.code) << c.name;
        EXPECT_FALSE(e.Text().empty()) << c.name;
        EXPECT_EQ(e.Subject(), c.subject) << c.name;
    }
    holder.Reset();
    EXPECT_EQ(ReadRaw(locked), "alt");
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"Ordner", "gesperrt.lua"}));
}

TEST(Win32Files, MoveFileCases) {
    struct Case {
        const char* name;
        bool targetExists;
        bool sourceExists;
        bool replace;
        std::vector<std::uint32_t> codes; // empty: succeeds
    };
    const Case cases[] = {
        {"rename", false, true, false, {}},
        {"target exists, no replace",
         true,
         true,
         false,
         {win_error::AlreadyExists, win_error::FileExists}},
        {"target exists, replace", true, true, true, {}},
        {"source missing", false, false, false, {win_error::FileNotFound}},
    };
    for (const Case& c : cases) {
        TempDir dir("move");
        const std::string from = dir / "LuaDebugger.dll";
        const std::string to = dir / "LuaDebugger.dll.off";
        if (c.sourceExists)
            WriteRaw(from, "quelle");
        if (c.targetExists)
            WriteRaw(to, "ziel");
        Win32Platform platform;
        if (c.codes.empty()) {
            platform.MoveFile(from, to, c.replace);
            EXPECT_EQ(ReadRaw(to), "quelle") << c.name;
            EXPECT_FALSE(ReadRaw(from)) << c.name;
            continue;
        }
        const PlatformError e = ErrorOf([&] { platform.MoveFile(from, to, c.replace); });
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), e.Code()), c.codes.end())
            << c.name << ": " << e.Code();
        EXPECT_FALSE(e.Text().empty()) << c.name;
        EXPECT_NE(e.Text().back(), '\n') << c.name;
        EXPECT_EQ(e.Subject(), from) << c.name;
        // Nothing moved.
        EXPECT_EQ(ReadRaw(from),
                  c.sourceExists ? std::optional<std::string>("quelle") : std::nullopt)
            << c.name;
        EXPECT_EQ(ReadRaw(to), c.targetExists ? std::optional<std::string>("ziel") : std::nullopt)
            << c.name;
    }
}

TEST(Win32Files, ErrorCarriesTheSystemText) {
    Win32Platform platform;
    for (std::uint32_t code : {2u, 5u, 32u, 80u, 183u}) {
        const PlatformError e = platform.Error(code, "C:\\x");
        EXPECT_EQ(e.Code(), code);
        EXPECT_FALSE(e.Text().empty()) << code;
        EXPECT_NE(e.Text(), "Unbekannter Fehler") << code;
        // Without the line end FormatMessage puts behind it.
        EXPECT_EQ(std::string("\r\n ").find(e.Text().back()), std::string::npos) << code;
        EXPECT_EQ(e.Subject(), "C:\\x");
    }
}

// The thousands separator follows the user's number format, read anew at
// each call: changed in the settings, the next count shows it.
TEST(Win32Text, ThousandsSeparatorFollowsTheUsersNumberFormat) {
    wchar_t before[8] = {};
    ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, before,
                             static_cast<int>(std::size(before))),
              0);
    EXPECT_EQ(UserThousandsSeparator(), Narrow(before));
    for (const wchar_t* separator : {L".", L"'", L"\u00A0"}) {
        if (!SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, separator)) {
            ADD_FAILURE() << "SetLocaleInfoW: " << GetLastError();
            break;
        }
        EXPECT_EQ(UserThousandsSeparator(), Narrow(separator));
    }
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, before);
}

// ---- saving scripts in place

constexpr char kOld[] = "-- Gr\xFC\xDF"
                        "e\r\nprint(\"\xC4rger\")\r\n";
constexpr char kNew[] = "-- Gr\xC3\xBC\xC3\x9F"
                        "e\r\nprint(\"\xC3\x84rger\")\r\n";

ScriptTexts Loaded(Platform& platform, const std::string& path) {
    ScriptTexts texts;
    LoadScript(platform, path, texts);
    texts.ScriptText = std::make_shared<const std::string>(kNew);
    return texts;
}

// The backup files in a folder (names ending in ".bak").
std::vector<std::string> Backups(const std::string& dir) {
    std::vector<std::string> found;
    for (const std::string& name : NamesIn(dir))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0)
            found.push_back(name);
    return found;
}

// A script bigger than what is held whole: read at offsets, decided on and
// written piece by piece through the real file services, with the result of
// the whole text.
TEST(Win32Save, AScriptInPiecesIsSavedAsTheWholeText) {
    TempDir dir("pieces");
    test::MakeDirs(dir / "Skripte");
    const std::string script = dir / ("Skripte\\gro\xC3\x9F " + kJapanese + ".lua");
    std::string old;
    for (int i = 0; i < 40; ++i)
        old += kOld;
    WriteRaw(script, old);
    Win32Platform platform;
    ScriptTexts texts;
    LoadScript(platform, script, texts, {16, 7});
    ASSERT_FALSE(texts.OriginalText.Held());
    ContentDecision decision =
        DecideContent(platform, texts.ScriptText, Direction::ToTwoCharacterForm);
    EXPECT_EQ(decision.converted, 40u * 3u);
    texts.ScriptText = std::move(decision.text);
    SaveScript(platform, script, texts, true);
    EXPECT_EQ(ReadRaw(script), UmlauteToTwoCharacterForm(old));
    const std::vector<std::string> backups = Backups(dir / "Skripte");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(ReadRaw(dir / ("Skripte\\" + backups[0])), old);
    EXPECT_EQ(NamesIn(dir / "Skripte").size(), 2u) << "no temporary file left";
}

TEST(Win32Save, ReplacesTheScriptAndWritesTheBackupBesideIt) {
    // Plain, Unicode and long folders: the same save in each.
    TempDir dir("save");
    const std::string folders[] = {
        dir / "Skripte",
        dir / ("Karten " + kGreek + " " + kJapanese),
        LongFolder(dir),
    };
    for (const std::string& folder : folders) {
        test::MakeDirs(folder);
        const std::string script = folder + "\\karte " + kUmlauts + ".lua";
        WriteRaw(script, kOld);
        Win32Platform platform;
        const ScriptTexts texts = Loaded(platform, script);
        EXPECT_EQ(*texts.OriginalText, kOld);
        SaveScript(platform, script, texts, true);
        EXPECT_EQ(ReadRaw(script), kNew) << folder;
        const std::vector<std::string> backups = Backups(folder);
        ASSERT_EQ(backups.size(), 1u) << folder;
        EXPECT_EQ(backups[0].rfind("karte " + kUmlauts + "_lua_", 0), 0u) << backups[0];
        EXPECT_EQ(backups[0].find(':'), std::string::npos) << backups[0];
        EXPECT_EQ(ReadRaw(folder + "\\" + backups[0]), kOld) << folder;
        EXPECT_EQ(NamesIn(folder).size(), 2u) << folder; // no temporary file left

        // Saved again without a backup: nothing else appears.
        SaveScript(platform, script, Loaded(platform, script), false);
        EXPECT_EQ(ReadRaw(script), kNew);
        EXPECT_EQ(NamesIn(folder).size(), 2u) << folder;
    }
}

TEST(Win32Save, KeepsHiddenAndArchiveAttributes) {
    TempDir dir("attr");
    const std::string script = dir / "karte.lua";
    WriteRaw(script, kOld);
    ASSERT_TRUE(
        SetFileAttributesW(Widen(script).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    Win32Platform platform;
    SaveScript(platform, script, Loaded(platform, script), true);
    EXPECT_EQ(ReadRaw(script), kNew);
    const DWORD attributes = AttributesOf(script);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN) << attributes;
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_ARCHIVE) << attributes;
    EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY) << attributes;
    // The backup is an ordinary file.
    ASSERT_EQ(Backups(dir.Path()).size(), 1u);
    EXPECT_FALSE(AttributesOf(dir / Backups(dir.Path())[0]) & FILE_ATTRIBUTE_HIDDEN);
}

TEST(Win32Save, RefusesAReadOnlyScript) {
    for (bool backup : {false, true}) {
        TempDir dir("readonly");
        const std::string script = dir / "karte.lua";
        WriteRaw(script, kOld);
        ASSERT_TRUE(SetFileAttributesW(Widen(script).c_str(), FILE_ATTRIBUTE_READONLY));
        Win32Platform platform;
        const ScriptTexts texts = Loaded(platform, script);
        const PlatformError e = ErrorOf([&] { SaveScript(platform, script, texts, backup); });
        EXPECT_EQ(e.Code(), win_error::AccessDenied);
        EXPECT_FALSE(e.Text().empty());
        EXPECT_EQ(ReadRaw(script), kOld);
        EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"karte.lua"}) << backup;
        EXPECT_TRUE(AttributesOf(script) & FILE_ATTRIBUTE_READONLY);
    }
}

// Another program writes the script between its loading and its saving, or
// replaces it with a file of its own (as editors save): the save leaves what
// that program wrote, makes no backup and leaves no temporary file, and says so.
TEST(Win32Save, AScriptWrittenMeanwhileKeepsWhatWasWritten) {
    const struct {
        const char* name;
        std::function<void(const std::string& script)> write;
    } cases[] = {{"appended to",
                  [](const std::string& script) {
                      AutoFile file(CreateFileW(Widen(script).c_str(), FILE_APPEND_DATA,
                                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                                nullptr));
                      DWORD put = 0;
                      WriteFile(file.Get(), "--", 2, &put, nullptr);
                  }},
                 {"replaced by a new file", [](const std::string& script) {
                      WriteRaw(script + ".neu", std::string(kOld) + "--");
                      MoveFileExW(Widen(script + ".neu").c_str(), Widen(script).c_str(),
                                  MOVEFILE_REPLACE_EXISTING);
                  }}};
    for (const auto& c : cases) {
        for (bool backup : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (backup ? ", with backup" : ""));
            TempDir dir("meanwhile");
            const std::string script = dir / "karte.lua";
            WriteRaw(script, kOld);
            Win32Platform platform;
            const ScriptTexts texts = Loaded(platform, script);
            c.write(script);
            const PlatformError e = ErrorOf([&] { SaveScript(platform, script, texts, backup); });
            EXPECT_EQ(e.Cause(), ErrorCause::ChangedMeanwhile);
            EXPECT_EQ(e.Subject(), script);
            EXPECT_EQ(ErrorReportText(e),
                      script + "\r\rwurde während des Umwandelns von einem anderen Programm "
                               "geändert und bleibt, wie es ist.");
            EXPECT_EQ(ReadRaw(script), std::string(kOld) + "--");
            EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"karte.lua"});
        }
    }
}

// A script with ACL entries of its own keeps them when it is replaced; one
// whose entries all come from its folder gets its folder's, as before.
TEST(Win32Save, TheReplacedScriptKeepsItsOwnAclEntries) {
    TempDir dir("acl");
    const std::string script = dir / "karte.lua";
    WriteRaw(script, kOld);
    auto daclOf = [](const std::string& path) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL dacl = nullptr;
        std::wstring text;
        if (GetNamedSecurityInfoW(Widen(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
            return text;
        wchar_t* sddl = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
            text = sddl;
            LocalFree(sddl);
        }
        LocalFree(descriptor);
        return text;
    };
    const std::wstring own = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)";
    PSECURITY_DESCRIPTOR wanted = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(own.c_str(), SDDL_REVISION_1,
                                                                     &wanted, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted);
    const DWORD set =
        SetNamedSecurityInfoW(Widen(script).data(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, dacl, nullptr);
    LocalFree(wanted);
    const std::wstring before = daclOf(script);
    if (set != ERROR_SUCCESS || before != own)
        GTEST_SKIP() << "this system keeps no ACL entries of a file of its own (Wine makes them "
                        "from the Unix mode; set "
                     << set << ", read " << Narrow(before) << ")";
    Win32Platform platform;
    SaveScript(platform, script, Loaded(platform, script), true);
    EXPECT_EQ(Narrow(daclOf(script)), Narrow(own));
}

TEST(Win32Save, ScriptHeldOpenWithoutSharing) {
    for (bool backup : {false, true}) {
        TempDir dir("locked");
        const std::string script = dir / "karte.lua";
        WriteRaw(script, kOld);
        Win32Platform platform;
        ScriptTexts texts = Loaded(platform, script);
        {
            AutoFile holder(CreateFileW(Widen(script).c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holder);
            const PlatformError read = ErrorOf([&] { platform.ReadWholeFile(script); });
            EXPECT_EQ(read.Code(), win_error::SharingViolation);
            // A failing load keeps both texts as they were.
            ScriptTexts kept = texts;
            EXPECT_THROW(LoadScript(platform, script, kept), PlatformError);
            EXPECT_EQ(kept.ScriptText, texts.ScriptText);
            EXPECT_EQ(kept.OriginalText, texts.OriginalText);

            const PlatformError save =
                ErrorOf([&] { SaveScript(platform, script, texts, backup); });
            EXPECT_TRUE(save.Code() == win_error::SharingViolation ||
                        save.Code() == win_error::AccessDenied)
                << save.Code();
            EXPECT_FALSE(save.Text().empty());
        }
        EXPECT_EQ(ReadRaw(script), kOld) << backup;
        EXPECT_FALSE(HasTemporaryFile(NamesIn(dir.Path()))) << backup;
        // A backup written before the failing step is complete.
        for (const std::string& name : Backups(dir.Path()))
            EXPECT_EQ(ReadRaw(dir / name), kOld) << name;
        EXPECT_LE(NamesIn(dir.Path()).size(), backup ? 2u : 1u);
    }
}

TEST(Win32Save, WriteFileSafelyReplacesOnlyWhenAsked) {
    TempDir dir("safely");
    const std::string target = dir / "ziel.txt";
    Win32Platform platform;
    WriteFileSafely(platform, target, "eins", file_attr::Normal, false);
    EXPECT_EQ(ReadRaw(target), "eins");
    const PlatformError e =
        ErrorOf([&] { WriteFileSafely(platform, target, "zwei", file_attr::Normal, false); });
    EXPECT_TRUE(e.Code() == win_error::AlreadyExists || e.Code() == win_error::FileExists);
    EXPECT_EQ(ReadRaw(target), "eins");
    EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"ziel.txt"});
    WriteFileSafely(platform, target, "drei", file_attr::Normal, true);
    EXPECT_EQ(ReadRaw(target), "drei");
    // Temporary files left by killed runs go with the next save; one another
    // running program holds (open without delete sharing) stays.
    WriteRaw(dir / "~ziel.txt.1.velmo-tmp", "rest");
    WriteRaw(dir / "~ziel.txt.2.velmo-tmp", "lebt");
    WriteRaw(dir / "~ziel.txt.3.velmo-tmp", "rest");
    {
        AutoFile live(CreateFileW((dir / L"~ziel.txt.2.velmo-tmp").c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(live);
        WriteFileSafely(platform, target, "vier", file_attr::Normal, true);
    }
    EXPECT_EQ(ReadRaw(target), "vier");
    EXPECT_EQ(ReadRaw(dir / "~ziel.txt.2.velmo-tmp"), "lebt");
    EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"ziel.txt", "~ziel.txt.2.velmo-tmp"}));
}

// =====================================================================
// Process start

struct ChildReport {
    std::string commandLine, directory, module;
    unsigned flags = 0, show = 0;
};

// Waits for the report of platform_child at `path`; nothing after the timeout.
std::optional<ChildReport> WaitForReport(const std::string& path,
                                         std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::optional<std::string> bytes;
    while (!(bytes = ReadRaw(path)) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(50ms);
    if (!bytes)
        return std::nullopt;
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes->data()), bytes->size() / 2);
    ChildReport report;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find(L'\n', at);
        const std::wstring line = text.substr(at, end - at);
        at = end == std::wstring::npos ? text.size() : end + 1;
        const std::size_t eq = line.find(L'=');
        const std::wstring key = line.substr(0, eq);
        const std::string value = Narrow(line.substr(eq + 1));
        if (key == L"cmd")
            report.commandLine = value;
        if (key == L"dir")
            report.directory = value;
        if (key == L"module")
            report.module = value;
        if (key == L"flags")
            report.flags = std::stoul(value);
        if (key == L"show")
            report.show = std::stoul(value);
    }
    return report;
}

bool SamePath(const std::string& a, const std::string& b) {
    return CompareStringOrdinal(Widen(a).c_str(), -1, Widen(b).c_str(), -1, TRUE) == CSTR_EQUAL;
}

void CopyChild(const std::string& to) {
    test::MakeDirs(to.substr(0, to.find_last_of('\\')));
    ASSERT_TRUE(CopyFileW(Widen(test::ProgramDir() + "\\platform_child.exe").c_str(),
                          Widen(to).c_str(), TRUE))
        << to << ": " << GetLastError();
}

TEST(Win32Process, StartsExactlyTheNamedProgram) {
    struct Case {
        const char* name;
        std::string program; // below the temporary folder
        std::string arguments;
        std::string workingDir; // below the temporary folder
        std::string planted;    // a program an unquoted path would start instead
    };
    const Case cases[] = {
        {"game with switch", "extra1\\bin\\Velmoria.exe", "-debugscript", "extra1\\bin", ""},
        {"blanks in the path, program planted at the first blank", "Program Files\\x\\child.exe",
         "", "Program Files\\x", "Program.exe"},
        {"blanks in a deeper folder", "Spiele\\Velmo ria\\bin\\Velmoria.exe", "-debugscript",
         "Spiele\\Velmo ria\\bin", "Spiele\\Velmo.exe"},
        {"Unicode folder, working folder elsewhere", kGreek + " " + kJapanese + "\\Notepad++.exe",
         "", "Arbeits Ordner " + kUmlauts, ""},
    };
    for (const Case& c : cases) {
        TempDir dir("start");
        const std::string program = dir / c.program;
        CopyChild(program);
        if (!c.planted.empty())
            CopyChild(dir / c.planted);
        const std::string workingDir = dir / c.workingDir;
        test::MakeDirs(workingDir);
        const std::string reportPath = dir / "bericht.txt";
        SetEnvironmentVariableW(L"VELMO_CHILD_REPORT", Widen(reportPath).c_str());

        Win32Platform platform;
        platform.StartProcess(program, c.arguments, workingDir, ShowMaximized);
        const std::optional<ChildReport> report = WaitForReport(reportPath, 30s);
        ASSERT_TRUE(report) << c.name << ": the program did not run";
        EXPECT_EQ(report->commandLine,
                  "\"" + program + "\"" + (c.arguments.empty() ? "" : " " + c.arguments))
            << c.name;
        EXPECT_TRUE(SamePath(report->module, program)) << c.name << ": " << report->module;
        EXPECT_TRUE(SamePath(report->directory, workingDir)) << c.name << ": " << report->directory;
        EXPECT_TRUE(report->flags & STARTF_USESHOWWINDOW) << c.name;
        EXPECT_EQ(report->show, 3u) << c.name;
    }
    SetEnvironmentVariableW(L"VELMO_CHILD_REPORT", nullptr);
}

TEST(Win32Process, MissingProgramFailsAndStartsNothing) {
    TempDir dir("nostart");
    // The program's folder exists and holds the helper under another name.
    CopyChild(dir / "bin\\anders.exe");
    const std::string reportPath = dir / "bericht.txt";
    SetEnvironmentVariableW(L"VELMO_CHILD_REPORT", Widen(reportPath).c_str());
    Win32Platform platform;
    const std::string program = dir / "bin\\Velmoria.exe";
    const PlatformError e =
        ErrorOf([&] { platform.StartProcess(program, "-debugscript", dir / "bin", 3); });
    EXPECT_EQ(e.Code(), win_error::FileNotFound);
    EXPECT_FALSE(e.Text().empty());
    EXPECT_EQ(e.Subject(), program);
    EXPECT_FALSE(WaitForReport(reportPath, 1s));
    SetEnvironmentVariableW(L"VELMO_CHILD_REPORT", nullptr);
}

// =====================================================================
// Date and time

std::pair<std::string, std::string> Formatted(const SYSTEMTIME& when) {
    wchar_t date[128] = {}, time[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &when, nullptr, time, 128);
    return {Narrow(date), Narrow(time)};
}

TEST(Win32Time, NowMatchesTheSystemFormatsAndGivesAUsableBackupName) {
    Win32Platform platform;
    for (int attempt = 0; attempt < 5; ++attempt) {
        SYSTEMTIME before, after;
        GetLocalTime(&before);
        const DateTimeTexts now = platform.Now();
        GetLocalTime(&after);
        const auto expected = Formatted(before);
        if (expected != Formatted(after))
            continue; // a second went by: try again
        EXPECT_FALSE(now.date.empty());
        EXPECT_FALSE(now.time.empty());
        EXPECT_EQ(now.date, expected.first);
        EXPECT_EQ(now.time, expected.second);

        TempDir dir("time");
        const std::string script = dir / "karte.lua";
        const std::string name = BackupName(script, now);
        EXPECT_EQ(name.rfind(dir.Path() + "\\karte_lua_", 0), 0u) << name;
        const std::string file = name.substr(dir.Path().size() + 1);
        EXPECT_EQ(file.find_first_of(":/\\<>\"|?*"), std::string::npos) << file;
        EXPECT_EQ(file.find(now.date.substr(0, 1)), 10u) << file;
        // The system accepts the name: a backup written there lands beside the script.
        WriteFileSafely(platform, name, "alt", file_attr::Normal, false);
        EXPECT_EQ(ReadRaw(name), "alt");
        EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{file});
        return;
    }
    FAIL() << "the clock did not stay within one second";
}

// =====================================================================
// Message boxes and the open-file dialog, driven from a second thread

// What a driver thread saw of the dialog before it pressed a button.
struct SeenDialog {
    bool found = false;
    std::string title, text;
    std::vector<int> buttons; // visible standard buttons
    std::string filter, folder;
    std::string problem; // why the driver could not do its part
};

// Runs `drive` on the first dialog of this process, on its own thread.
class DialogDriver {
  public:
    explicit DialogDriver(std::function<void(HWND, SeenDialog&)> drive)
        : thread_([this, drive] {
              if (HWND dialog = test::WaitForDialog(30s)) {
                  seen_.found = true;
                  seen_.title = test::WindowText(dialog);
                  drive(dialog, seen_);
              }
          }) {}
    const SeenDialog& Finish() {
        thread_.join();
        return seen_;
    }

  private:
    SeenDialog seen_;
    std::thread thread_;
};

void Press(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

TEST(Win32Dialogs, MsgBoxShowsTextTitleAndButtonsAndReturnsTheAnswer) {
    struct Case {
        std::string text;
        int style;
        std::string title;
        int press;
        int answer;
        std::string shownTitle;
        std::vector<int> buttons;
    };
    const std::string guard(kGuardWarning);
    const Case cases[] = {
        {"Fertig", mb::Ok, "", IDOK, mb::AnswerOk, "Velmo-Starter", {IDOK}},
        {guard, mb::YesNoCritical, "Achtung", IDYES, mb::AnswerYes, "Achtung", {IDYES, IDNO}},
        {guard, mb::YesNoCritical, "Achtung", IDNO, mb::AnswerNo, "Achtung", {IDYES, IDNO}},
        {"Fehler 5: Zugriff verweigert\r\rC:\\Skripte\\karte.lua",
         16,
         "Velmo-Starter",
         IDOK,
         mb::AnswerOk,
         "Velmo-Starter",
         {IDOK}},
    };
    for (const Case& c : cases) {
        DialogDriver driver([&](HWND dialog, SeenDialog& seen) {
            seen.text = test::WindowText(GetDlgItem(dialog, 0xFFFF));
            for (int id : {IDOK, IDCANCEL, IDYES, IDNO})
                if (HWND button = GetDlgItem(dialog, id); button && IsWindowVisible(button))
                    seen.buttons.push_back(id);
            Press(dialog, c.press);
        });
        Win32Platform platform{std::string(kWindowTitle)};
        const int answer = platform.MsgBox(c.text, c.style, c.title);
        const SeenDialog& seen = driver.Finish();
        ASSERT_TRUE(seen.found) << c.text;
        EXPECT_EQ(answer, c.answer) << c.text;
        EXPECT_EQ(seen.title, c.shownTitle);
        EXPECT_EQ(seen.text, c.text);
        EXPECT_EQ(seen.buttons, c.buttons) << c.text;
    }
}

TEST(Win32Dialogs, MsgBoxThatCannotBeShownRaises) {
    // An owner window that no longer exists: the system refuses the box.
    HWND gone =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(gone);
    DestroyWindow(gone);
    Win32Platform platform;
    platform.SetOwner(gone);
    const PlatformError e = ErrorOf([&] { platform.MsgBox("Fertig", mb::Ok, ""); });
    EXPECT_EQ(e.Code(), static_cast<std::uint32_t>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(e.Text().empty());
}

bool IsEdit(HWND window) {
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    return std::wstring(className) == L"Edit";
}

BOOL CALLBACK FindEdit(HWND child, LPARAM found) {
    if (!IsEdit(child))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// The edit field of the dialog's file-name box: the box itself when it is a
// plain edit field, else the edit field inside it (a combo box, or under Wine
// a ComboBoxEx32 holding a combo box).
HWND FileNameEdit(HWND dialog) {
    for (int id : {0x47c /* cmb13 */, 0x480 /* edt1 */}) {
        HWND box = GetDlgItem(dialog, id);
        if (!box || !IsWindowVisible(box))
            continue;
        if (IsEdit(box))
            return box;
        HWND edit = nullptr;
        EnumChildWindows(box, FindEdit, reinterpret_cast<LPARAM>(&edit));
        if (edit)
            return edit;
    }
    return nullptr;
}

TEST(Win32Dialogs, ShowOpenReturnsTheTypedFileAndNothingOnCancel) {
    TempDir dir("open");
    const std::string folder = dir / ("Karten " + kGreek + " " + kJapanese);
    test::MakeDirs(folder);
    const std::string script = folder + "\\karte " + kUmlauts + ".lua";
    WriteRaw(script, "x");
    WriteRaw(folder + "\\andere.txt", "x");

    for (bool cancel : {false, true}) {
        CommonDialog dialog;
        dialog.FileName = "";
        dialog.Filter = std::string(kLuaFilter);
        dialog.FilterIndex = 1;
        dialog.InitDir = folder;
        DialogDriver driver([&](HWND window, SeenDialog& seen) {
            // Give the dialog its first folder listing before reading it.
            std::this_thread::sleep_for(300ms);
            if (HWND filter = GetDlgItem(window, 0x470 /* cmb1 */)) {
                const LRESULT selected = SendMessageW(filter, CB_GETCURSEL, 0, 0);
                const LRESULT length = SendMessageW(filter, CB_GETLBTEXTLEN, selected, 0);
                if (selected >= 0 && length >= 0) {
                    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
                    SendMessageW(filter, CB_GETLBTEXT, selected,
                                 reinterpret_cast<LPARAM>(text.data()));
                    seen.filter = Narrow(text.c_str());
                }
            }
            wchar_t current[32768] = {};
            if (SendMessageW(window, CDM_GETFOLDERPATH, 32768, reinterpret_cast<LPARAM>(current)) >
                0)
                seen.folder = Narrow(current);
            if (cancel)
                return Press(window, IDCANCEL);
            HWND edit = FileNameEdit(window);
            if (!edit) {
                seen.problem = "no file-name box";
                return Press(window, IDCANCEL);
            }
            SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Widen(script).c_str()));
            Press(window, IDOK);
        });
        Win32Platform platform;
        EXPECT_NO_THROW(platform.ShowOpen(dialog));
        const SeenDialog& seen = driver.Finish();
        ASSERT_TRUE(seen.found);
        EXPECT_EQ(seen.problem, "");
        EXPECT_EQ(seen.filter, "Lua-Datei (LUA)");
        EXPECT_TRUE(SamePath(seen.folder, folder)) << seen.folder;
        EXPECT_EQ(dialog.FileName, cancel ? "" : script) << cancel;
        // The settings are kept for the next use.
        EXPECT_EQ(dialog.Filter, std::string(kLuaFilter));
        EXPECT_EQ(dialog.InitDir, folder);
    }
}

} // namespace
} // namespace velmo
