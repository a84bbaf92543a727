// The programs of the win32 zip, run. Under Wine on a 64-bit host that lacks
// 32-bit support in its kernel, each 32-bit program runs under emulation
// (qemu-i386): starting one costs a minute or more, and Wine's threads may not
// survive it. So this smoke starts each 32-bit program as few times as it can
// and checks much in each start, none of them starting a second thread:
//
//   - velmo-umlaute.exe: --version, --pruefen on a map folder of a few hundred
//     scripts, and the folder converted on one thread (VELMO_THREADS=1), all
//     three started at once and compared byte for byte with what the 64-bit
//     companion of this build says and does with the same folders;
//   - Velmo-Starter.exe on an installation like the demo's: its window drawn
//     as the 64-bit launcher draws it (the picture is kept in the build
//     folder), its Active Accessibility names read from this process, a mode
//     started by key, one by a click and one by the screen reader's default
//     action, one script converted through the open-file dialog, and
//     "Beenden".
//
// The folder with the 32-bit programs comes from the environment variable
// VELMO_WIN32_PROGRAMS (tools/test sets it); without it every case is skipped.
// The test program itself, the stand-ins and the reference companion are this
// build's (the 64-bit ones under tools/test).
#include "ConvertSteps.h"
#include "Harness.h"
#include "app/Accessibility.h"
#include "platform/Handle.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace velmo::e2e {
namespace {

using namespace std::string_literals;

// Generous: a start under emulation takes one to two minutes on an idle
// machine, and many more on a loaded one.
constexpr Duration kStartLimit = 20min;
// What an already running 32-bit program does next (code it has not run yet
// must be translated first).
constexpr Duration kStepLimit = 5min;

std::optional<std::wstring> Programs32() {
    const char* dir = std::getenv("VELMO_WIN32_PROGRAMS");
    if (!dir || !*dir)
        return std::nullopt;
    return WindowsPath(dir);
}

#define REQUIRE_PROGRAMS32(dir)                                                                    \
    const std::optional<std::wstring> dir = Programs32();                                          \
    if (!dir)                                                                                      \
    GTEST_SKIP() << "VELMO_WIN32_PROGRAMS names no folder with the 32-bit programs"

// ---- a program run with its output in files

struct Outcome {
    DWORD status = 0xDEAD;
    std::string out;
    std::string err;
};

AutoHandle InheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    AutoHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw HarnessError("cannot open " + Narrow(path) + ": error " +
                           std::to_string(GetLastError()));
    return file;
}

// One argument as the C runtime reads it back (no argument here ends in a
// backslash or holds a quote).
std::wstring Quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

// A console program started now, its standard output and error going to files
// in `outputDir` (named after `name`), its input from NUL; Finish waits for it.
class ProgramRun {
  public:
    ProgramRun(const std::wstring& program, const std::vector<std::wstring>& arguments,
               const std::wstring& outputDir, const std::wstring& name)
        : outPath_(outputDir + L"\\" + name + L".out"),
          errPath_(outputDir + L"\\" + name + L".err"), what_(Narrow(name)) {
        std::wstring commandLine = Quoted(program);
        for (const std::wstring& argument : arguments)
            commandLine += L" " + Quoted(argument);
        AutoHandle in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
        AutoHandle out = InheritableFile(outPath_, GENERIC_WRITE, CREATE_ALWAYS);
        AutoHandle err = InheritableFile(errPath_, GENERIC_WRITE, CREATE_ALWAYS);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.Get();
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                            CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info))
            throw HarnessError(what_ + ": " + Narrow(program) + " does not start: error " +
                               std::to_string(GetLastError()));
        process_.Reset(info.hProcess);
        AutoHandle thread(info.hThread);
    }
    ~ProgramRun() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.Get(), 1);
            WaitForSingleObject(process_.Get(), 10000);
        }
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    Outcome Finish(Duration limit) {
        if (WaitForSingleObject(process_.Get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
            throw HarnessError(what_ + " still runs after " + std::to_string(limit.count()) +
                               " ms");
        Outcome outcome;
        GetExitCodeProcess(process_.Get(), &outcome.status);
        outcome.out = ReadFileBytes(outPath_);
        outcome.err = ReadFileBytes(errPath_);
        return outcome;
    }

  private:
    std::wstring outPath_, errPath_;
    std::string what_;
    AutoHandle process_;
};

// ---- a map folder of a few hundred scripts

// A small deterministic generator: the same folder on every run.
class Numbers {
  public:
    std::uint32_t Next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

  private:
    std::uint64_t state_ = 0x2545F4914F6CDD1DULL;
};

// Words of a script in Windows-1252: umlauts, ß, other bytes above 127 that
// stay (é, €), plain ASCII.
const char* const kWords[] = {
    "local",
    "function",
    "end",
    "return",
    "Gr\xFC\xDF"
    "e",
    "B\xE4r",
    "H\xF6hle",
    "\xDC"
    "bergang",
    "\xC4u\xDF"
    "eres",
    "\xD6lm\xFChle",
    "Stra\xDF"
    "e",
    "caf\xE9",
    "80\x80",
    "Spieler",
    "--",
    "print(x)",
    "\"Sch\xF6n\"",
    "=",
    "if",
    "then",
};

// Text of `lines` lines from the words, with CR LF or LF line ends.
std::string Text(Numbers& numbers, int lines, bool crlf) {
    std::string text;
    for (int line = 0; line < lines; ++line) {
        const std::uint32_t words = 1 + numbers.Below(9);
        for (std::uint32_t w = 0; w < words; ++w)
            text += std::string(w ? " " : "") + kWords[numbers.Below(std::size(kWords))];
        text += crlf ? "\r\n" : "\n";
    }
    return text;
}

// The seven characters and ß turned into their UTF-8 pairs: a script already
// in Velmo's form.
std::string AsPairs(const std::string& single) {
    std::string out;
    for (const char c : single) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUmlautByte(byte)) {
            for (const UmlautBytes& u : kUmlautBytes)
                if (u.single == byte)
                    out += u.pair;
        } else if (byte < 0x80) {
            out += c;
        }
    }
    return out;
}

// Relative path (backslashes, UTF-8) -> bytes.
using Tree = std::map<std::string, std::string>;

constexpr char kReadOnly[] = "Karten\\schreibgesch\xC3\xBCtzt.lua";

// Every kind of script the companion tells apart, spread over subfolders, with
// names in other letter cases and with umlauts, a hidden folder and a file
// that is no script, and one script above the size that is converted a piece
// at a time.
Tree MapFolder() {
    Numbers numbers;
    Tree tree;
    const char* const folders[] = {"", "Karten\\", "Karten\\Insel\\", "Kapitel 2\\",
                                   "Kapitel 2\\Gr\xC3\xBC\xC3\x9F"
                                   "e\\"};
    for (int i = 0; i < 320; ++i) {
        const std::string folder = folders[numbers.Below(std::size(folders))];
        std::string name = "skript" + std::to_string(i);
        if (i % 11 == 0)
            name = "\xC3\x9C"
                   "berfall_" +
                   std::to_string(i); // Überfall_
        const std::string path = folder + name + (i % 7 == 0 ? ".LUA" : ".lua");
        const bool crlf = numbers.Below(2) == 0;
        const std::string body = Text(numbers, 1 + static_cast<int>(numbers.Below(60)), crlf);
        switch (i % 10) {
        case 0:
        case 1:
        case 2:
        case 3: // single bytes: converted
            tree[path] = body;
            break;
        case 4: // already Velmo's form: unchanged
            tree[path] = AsPairs(body);
            break;
        case 5: // plain ASCII: unchanged
            tree[path] = "print(" + std::to_string(i) + ")\n";
            break;
        case 6: // UTF-8 text beside single bytes: converted, the UTF-8 kept
            tree[path] = "-- \xC4\x85 \xE4\xB8\xAD\r\n" + body;
            break;
        case 7: // the guard word: skipped
            tree[path] = "-- UMLAUTE\r\n" + body;
            break;
        case 8: // a compiled chunk, or UTF-16: refused untouched
            tree[path] = (i % 20 == 8 ? "\x1BLuaS\0\x19\x93"s : "\xFF\xFE-\0-\0"s) + body;
            break;
        default: // empty
            tree[path] = "";
            break;
        }
    }
    // Single bytes in a script the user may not write: refused, an error.
    tree[kReadOnly] = "-- Gr\xFC\xDF"
                      "e\r\n";
    tree[".git\\alt.lua"] = "-- \xE4\n";     // in a hidden folder
    tree["liesmich.txt"] = "\xE4\xF6\xFC\n"; // no script
    // Above 2 MiB: read, decided on and written a piece at a time.
    std::string large;
    while (large.size() < (5u << 19))
        large += Text(numbers, 200, true);
    tree["Karten\\gross.lua"] = large;
    return tree;
}

void WriteTree(const std::wstring& dir, const Tree& tree) {
    for (const auto& [relative, bytes] : tree)
        WriteFileBytes(test::Extended(dir + L"\\" + Widen(relative)), bytes);
}

// Every file below `dir` by its path relative to it, folders' own entries left out.
void ReadTree(const std::wstring& dir, const std::wstring& prefix, Tree& into) {
    for (const std::wstring& name : Entries(dir)) {
        const std::wstring path = dir + L"\\" + name;
        if (DirectoryExists(test::Extended(path)))
            ReadTree(path, prefix + name + L"\\", into);
        else
            into[Narrow(prefix + name)] = ReadFileBytes(test::Extended(path));
    }
}

Tree ReadTree(const std::wstring& dir) {
    Tree tree;
    ReadTree(dir, L"", tree);
    return tree;
}

// The backups of `tree`, taken out of it, each under the path of the script it
// belongs to: the backup's name is the script's with "." as "_", then the date
// and time of the conversion, which differ from run to run.
Tree TakeBackups(Tree& tree) {
    Tree backups;
    std::vector<std::string> names;
    for (const auto& entry : tree)
        names.push_back(entry.first);
    for (const std::string& name : names) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".bak") != 0)
            continue;
        std::string script;
        for (const auto& [candidate, bytes] : tree) {
            std::string stem = candidate;
            std::replace(stem.begin(), stem.end(), '.', '_');
            if (candidate != name && name.rfind(stem + "_", 0) == 0 &&
                candidate.size() > script.size())
                script = candidate;
        }
        backups[script.empty() ? "(no script) " + name : script] += tree[name];
        tree.erase(name);
    }
    return backups;
}

// The output with the folder's path put as "<Ordner>".
std::string WithoutFolder(std::string text, const std::wstring& folder) {
    const std::string path = Narrow(folder);
    for (std::size_t at; (at = text.find(path)) != std::string::npos;)
        text.replace(at, path.size(), "<Ordner>");
    return text;
}

// Names the first path whose bytes differ, for a readable failure.
::testing::AssertionResult SameTree(const Tree& expected, const Tree& actual) {
    for (const auto& [path, bytes] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end())
            return ::testing::AssertionFailure() << path << " is missing";
        if (found->second != bytes)
            return ::testing::AssertionFailure()
                   << path << ": " << FirstDifference(bytes, found->second);
    }
    for (const auto& entry : actual)
        if (!expected.count(entry.first))
            return ::testing::AssertionFailure() << entry.first << " is there besides";
    return ::testing::AssertionSuccess();
}

std::wstring Reference64() {
    return WindowsPath(VELMO_UMLAUTE_EXE);
}

// --version, --pruefen and the conversion of a map folder on one thread,
// against the 64-bit companion on copies of the same folder.
TEST(Smoke32, CompanionChecksAndConvertsAMapFolderAsThe64BitOneDoes) {
    REQUIRE_PROGRAMS32(programs);
    const std::wstring companion32 = *programs + L"\\velmo-umlaute.exe";
    ASSERT_TRUE(FileExists(companion32)) << Narrow(companion32);
    TempDir temp(L"velmo-smoke32");
    const Tree original = MapFolder();
    struct Side {
        std::wstring check, convert;
    };
    const Side side32{temp / L"pruefen32", temp / L"karten32"};
    const Side side64{temp / L"pruefen64", temp / L"karten64"};
    for (const Side& side : {side32, side64}) {
        WriteTree(side.check, original);
        WriteTree(side.convert, original);
        for (const std::wstring& dir : {side.check, side.convert}) {
            SetFileAttributesW((dir + L"\\.git").c_str(), FILE_ATTRIBUTE_HIDDEN);
            SetReadOnly(test::Extended(dir + L"\\" + Widen(kReadOnly)), true);
        }
    }
    const std::wstring outputs = temp / L"ausgaben";
    CreateDirectories(outputs);

    // The three 32-bit starts at once (each costs most of its time starting),
    // on one thread: under emulation a second one may not survive.
    std::optional<ProgramRun> version32, check32, convert32;
    ScopedEnvironment oneThread(L"VELMO_THREADS", L"1");
    version32.emplace(companion32, std::vector<std::wstring>{L"--version"}, outputs, L"version32");
    check32.emplace(companion32,
                    std::vector<std::wstring>{L"fuer-velmo", L"--pruefen", side32.check}, outputs,
                    L"check32");
    convert32.emplace(companion32, std::vector<std::wstring>{L"fuer-velmo", side32.convert},
                      outputs, L"convert32");
    // The references on their usual two threads.
    ScopedEnvironment usualThreads(L"VELMO_THREADS", std::nullopt);
    const Outcome version64 =
        ProgramRun(Reference64(), {L"--version"}, outputs, L"version64").Finish(kStepLimit);
    const Outcome check64 =
        ProgramRun(Reference64(), {L"fuer-velmo", L"--pruefen", side64.check}, outputs, L"check64")
            .Finish(kStepLimit);
    const Outcome convert64 =
        ProgramRun(Reference64(), {L"fuer-velmo", side64.convert}, outputs, L"convert64")
            .Finish(kStepLimit);

    {
        SCOPED_TRACE("--version");
        const Outcome run = version32->Finish(kStartLimit);
        EXPECT_EQ(run.status, 0u) << run.err;
        EXPECT_EQ(run.out, version64.out);
        EXPECT_EQ(run.err, "");
        EXPECT_NE(run.out.find("velmo-umlaute"), std::string::npos) << run.out;
    }
    {
        SCOPED_TRACE("--pruefen");
        const Outcome run = check32->Finish(kStartLimit);
        // The reference found scripts to convert.
        EXPECT_NE(check64.err.find("w\xC3\xBCrden umgewandelt"), std::string::npos) << check64.err;
        EXPECT_EQ(run.status, check64.status) << run.err;
        EXPECT_EQ(WithoutFolder(run.out, side32.check), WithoutFolder(check64.out, side64.check));
        EXPECT_EQ(WithoutFolder(run.err, side32.check), WithoutFolder(check64.err, side64.check));
        // Checking changes nothing.
        EXPECT_TRUE(SameTree(original, ReadTree(side32.check)));
    }
    {
        SCOPED_TRACE("fuer-velmo with VELMO_THREADS=1");
        const Outcome run = convert32->Finish(kStartLimit);
        EXPECT_EQ(run.status, convert64.status) << run.err;
        EXPECT_EQ(WithoutFolder(run.out, side32.convert),
                  WithoutFolder(convert64.out, side64.convert));
        EXPECT_EQ(WithoutFolder(run.err, side32.convert),
                  WithoutFolder(convert64.err, side64.convert));
        Tree converted32 = ReadTree(side32.convert);
        Tree converted64 = ReadTree(side64.convert);
        const Tree backups32 = TakeBackups(converted32);
        const Tree backups64 = TakeBackups(converted64);
        // The reference did convert: most scripts changed, each with its backup.
        EXPECT_GT(backups64.size(), 150u);
        EXPECT_FALSE(SameTree(original, converted64));
        EXPECT_TRUE(SameTree(converted64, converted32));
        EXPECT_TRUE(SameTree(backups64, backups32));
        for (const auto& [script, bytes] : backups32)
            EXPECT_EQ(bytes, original.at(script)) << script << ": the backup holds the old text";
    }
}

// ---- the launcher

std::wstring Take(BSTR text) {
    std::wstring result = text ? std::wstring(text, SysStringLen(text)) : L"";
    SysFreeString(text);
    return result;
}

VARIANT ChildId(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

class ComApartment {
  public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    HRESULT result_;
};

class AccessibleRoot {
  public:
    explicit AccessibleRoot(HWND window) {
        const HRESULT result = AccessibleObjectFromWindow(
            window, OBJID_CLIENT, __uuidof(IAccessible), reinterpret_cast<void**>(&p_));
        if (FAILED(result) || !p_)
            throw HarnessError("AccessibleObjectFromWindow failed: " + std::to_string(result));
    }
    ~AccessibleRoot() { p_->Release(); }
    AccessibleRoot(const AccessibleRoot&) = delete;
    AccessibleRoot& operator=(const AccessibleRoot&) = delete;
    IAccessible* operator->() const { return p_; }
    IAccessible* Get() const { return p_; }

    std::wstring Name(long child) const {
        BSTR name = nullptr;
        p_->get_accName(ChildId(child), &name);
        return Take(name);
    }
    long Role(long child) const {
        VARIANT role;
        VariantInit(&role);
        if (FAILED(p_->get_accRole(ChildId(child), &role)) || role.vt != VT_I4)
            return -1;
        return role.lVal;
    }

  private:
    IAccessible* p_ = nullptr;
};

// What a screen reader hears of the window: the window's own name and role,
// then each child's (a drawn control's as the window's object tells it, one
// with a window of its own as its object tells it), in order.
struct Heard {
    std::wstring name;
    long role = -1;
    bool operator==(const Heard&) const = default;
};

std::vector<Heard> HeardOf(const AccessibleRoot& root) {
    std::vector<Heard> heard{{root.Name(CHILDID_SELF), root.Role(CHILDID_SELF)}};
    long count = 0;
    if (root->get_accChildCount(&count) != S_OK || count <= 0)
        return heard;
    std::vector<VARIANT> children(static_cast<std::size_t>(count));
    long got = 0;
    if (AccessibleChildren(root.Get(), 0, count, children.data(), &got) != S_OK)
        return heard;
    for (long i = 0; i < got; ++i) {
        VARIANT& child = children[static_cast<std::size_t>(i)];
        if (child.vt == VT_I4) {
            heard.push_back({root.Name(child.lVal), root.Role(child.lVal)});
        } else if (child.vt == VT_DISPATCH && child.pdispVal) {
            IAccessible* object = nullptr;
            if (SUCCEEDED(child.pdispVal->QueryInterface(__uuidof(IAccessible),
                                                         reinterpret_cast<void**>(&object)))) {
                BSTR name = nullptr;
                object->get_accName(ChildId(CHILDID_SELF), &name);
                VARIANT role;
                VariantInit(&role);
                object->get_accRole(ChildId(CHILDID_SELF), &role);
                heard.push_back({Take(name), role.vt == VT_I4 ? role.lVal : -1});
                object->Release();
            }
        }
        VariantClear(&child);
    }
    return heard;
}

std::ostream& operator<<(std::ostream& out, const Heard& heard) {
    return out << "\"" << Narrow(heard.name) << "\" (role " << heard.role << ")";
}

// The child ID of the drawn control a screen reader hears by this name; 0 for none.
long ChildIdOf(const std::vector<Heard>& heard, ControlId id) {
    const SpokenControl* spoken = SpokenControlOf(id);
    for (std::size_t i = 1; spoken && i < heard.size(); ++i)
        if (heard[i].name == Widen(SpokenName(*spoken)))
            return static_cast<long>(i);
    return 0;
}

void PressKeyOnKeyboard(WORD virtualKey) {
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    if (SendInput(2, inputs, sizeof(INPUT)) != 2)
        throw HarnessError("SendInput failed: " + std::to_string(GetLastError()));
}

// Everything the 32-bit launcher is asked in its one start.
TEST(Smoke32, LauncherDrawsSpeaksStartsAndConverts) {
    REQUIRE_PROGRAMS32(programs);
    const std::wstring launcher32 = *programs + L"\\Velmo-Starter.exe";
    ASSERT_TRUE(FileExists(launcher32)) << Narrow(launcher32);

    // Like the demo installation: both editions, the debugger library in
    // Eisenmark only and switched off, Notepad++, a script in a folder of
    // its own, where the launcher starts.
    TempDir temp(L"velmo-smoke32");
    StandinLog log(temp / L"starts.log");
    const GameInstall game(temp / L"Spiele\\Velmoria", Library::Off, Library::None);
    const std::wstring notepadDir = temp / L"Programme\\Notepad++";
    const std::wstring notepad = MakeNotepadInstall(notepadDir);
    const LauncherRegistry registry(game.GamePath(), notepadDir);
    const std::wstring scripts = temp / L"Skripte";
    const std::wstring script = scripts + L"\\beispiel.lua";
    const std::string scriptBytes = "-- Beispielskript f\xFCr den Velmo-Starter\r\n"
                                    "local Gruss = \"Gr\xFC\xDF Gott! Sch\xF6ne Gr\xFC\xDF"
                                    "e\"\r\n"
                                    "local Orte = { \"B\xE4renh\xF6hle\", \"\xD6lm\xFChle\", "
                                    "\"\xDC"
                                    "bergang am \xC4u\xDF"
                                    "eren Tor\" }\r\n";
    WriteFileBytes(test::Extended(script), scriptBytes);

    // The 64-bit launcher's window on the same installation: the picture the
    // 32-bit one must show.
    ComApartment com;
    Pixels expected;
    std::vector<Heard> expectedHeard;
    {
        Launcher launcher64(LauncherExe(), scripts);
        launcher64.StartAndWaitForWindow(2min);
        Sleep(500); // painted
        expected = launcher64.CaptureClient();
        expectedHeard = HeardOf(AccessibleRoot(launcher64.MainWindow()));
    }

    Launcher launcher(launcher32, scripts);
    launcher.StartAndWaitForWindow(kStartLimit);
    HWND main = launcher.MainWindow();
    {
        SCOPED_TRACE("drawn as the 64-bit launcher draws it");
        Pixels shown;
        // Painted once it answers a message after its first paint.
        EXPECT_TRUE(WaitUntil(
            [&] {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored);
                shown = launcher.CaptureClient();
                return shown.data == expected.data;
            },
            2min));
        SaveBmp(shown, WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\smoke32-window.bmp");
        SaveBmp(expected, WindowsPath(VELMO_SCREENSHOT_DIR) + L"\\smoke32-window-64.bmp");
        ASSERT_EQ(shown.width, expected.width);
        ASSERT_EQ(shown.height, expected.height);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < shown.data.size(); ++i)
            differing += shown.data[i] != expected.data[i];
        EXPECT_EQ(differing, 0u) << "pixels that differ from the 64-bit launcher's";
    }

    const AccessibleRoot root(main);
    const std::vector<Heard> heard = HeardOf(root);
    {
        SCOPED_TRACE("Active Accessibility from another process, as from the 64-bit launcher");
        EXPECT_EQ(heard, expectedHeard);
        ASSERT_GT(expectedHeard.size(), 15u);
        EXPECT_EQ(expectedHeard.front(), (Heard{L"Velmo-Starter", ROLE_SYSTEM_CLIENT}));
        for (ControlId id : {EisenmarkNormal, SturmtalEditor, Notepad})
            EXPECT_NE(ChildIdOf(expectedHeard, id), 0) << ControlOf(id).name;
    }

    // The one start `press` causes, as the stand-in logged it.
    auto expectStart = [&](auto press, const std::wstring& program, const std::wstring& arguments) {
        const std::size_t before = log.Read().size();
        press();
        const StandinStart start = log.WaitForCount(before + 1, kStepLimit).at(before);
        EXPECT_TRUE(SamePath(start.program, program)) << start;
        EXPECT_EQ(start.Arguments(), arguments) << start;
        EXPECT_TRUE(SamePath(start.directory, DirectoryOf(program))) << start;
        EXPECT_EQ(start.showState, SW_SHOWMAXIMIZED) << start;
    };
    {
        SCOPED_TRACE("Geschlossen by key 3: the library on");
        SetForegroundWindow(main);
        ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == main; }, 30s));
        expectStart([] { PressKeyOnKeyboard('3'); }, game.Game(Edition::Eisenmark),
                    L"-debugscript");
        EXPECT_EQ(game.LibraryState(Edition::Eisenmark), Library::On);
    }
    {
        SCOPED_TRACE("Debug by a click: the library off");
        expectStart([&] { launcher.ClickImage(EisenmarkDebug); }, game.Game(Edition::Eisenmark),
                    L"-debugscript");
        EXPECT_EQ(game.LibraryState(Edition::Eisenmark), Library::Off);
        EXPECT_EQ(ReadFileBytes(game.LibraryOff(Edition::Eisenmark)),
                  GameInstall::LibraryContent(Edition::Eisenmark, Library::Off));
    }
    {
        SCOPED_TRACE("Sturmtal's editor and Notepad++ by the screen reader");
        for (const auto& [id, program] :
             {std::pair{SturmtalEditor, game.MapEditor(Edition::Sturmtal)},
              std::pair{Notepad, notepad}})
            expectStart(
                [&, id = id] {
                    EXPECT_EQ(root->accDoDefaultAction(ChildId(ChildIdOf(heard, id))), S_OK);
                },
                program, L"");
    }
    {
        SCOPED_TRACE("\"Umlaute f\xC3\xBCr Velmo umwandeln\" through the open-file dialog");
        const SYSTEMTIME before = LocalNow();
        launcher.ClickButton(UmlauteWeg);
        Launcher::ChooseFile(launcher.WaitForFileDialog(kStepLimit), script);
        std::optional<ShownBox> shown = NextMessageBox(launcher, kStepLimit);
        ASSERT_TRUE(shown) << "no \"Fertig\"";
        EXPECT_EQ(shown->info.text, kDoneText);
        EXPECT_EQ(shown->info.title, kProgramTitle);
        const SYSTEMTIME after = LocalNow();
        Launcher::PressDialogButton(shown->box, IDOK);
        HWND box = shown->box;
        ASSERT_TRUE(
            WaitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, kStepLimit))
            << "\"Fertig\" stays after OK";
        shown = NextMessageBox(launcher, kStepLimit);
        EXPECT_FALSE(shown) << Narrow(shown->info.text);
        EXPECT_EQ(ReadFileBytes(test::Extended(script)), WithUmlautPairs(scriptBytes));
        const std::vector<std::wstring> added = Added({L"beispiel.lua"}, Entries(scripts));
        ASSERT_EQ(added.size(), 1u) << "one backup beside the script";
        const std::vector<std::wstring> names = BackupNamesBetween(L"beispiel.lua", before, after);
        EXPECT_NE(std::find(names.begin(), names.end(), added.front()), names.end())
            << Narrow(added.front());
        EXPECT_EQ(ReadFileBytes(test::Extended(scripts + L"\\" + added.front())), scriptBytes);
    }
    {
        SCOPED_TRACE("Beenden");
        launcher.ClickButton(Command1);
        EXPECT_EQ(launcher.WaitForExit(kStepLimit), 0u);
    }
    EXPECT_EQ(log.Read().size(), 4u) << "nothing else was started";
}

} // namespace
} // namespace velmo::e2e
