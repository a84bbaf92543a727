// velmo-umlaute, the real Windows program, run as a user runs it: started with
// CreateProcessW, its standard streams redirected to pipes (or stdout to a
// file), on folders it finds its scripts in. Every case works in its own
// temporary folder.
#include "TestSupport.h"
#include "convert/Umlaute.h"

#include "convert/ScriptFile.h"
#include "platform/Handle.h"
#include "platform/Win32Text.h"
#include "tests/cli/ExitScenarios.h"
#include "velmo_version.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

namespace velmo {
namespace {

using namespace std::string_literals;
using test::AttributesOf;
using test::kGreek;
using test::kJapanese;
using test::LongFolder;
using test::NamesIn;
using test::ReadRaw;
using test::TempDir;
using test::WriteRaw;

// A script with all seven umlauts (ten in all), CR LF line ends and a NUL, in
// single bytes (Windows-1252) and as the two-character form (UTF-8).
const std::string kSingle = "-- Gr\xFC\xDF"
                            "e: \xE4 \xF6 \xFC \xDF \xC4 \xD6 \xDC\r\n"
                            "local s = \"Stra\xDF"
                            "e\\0\"\0\r\n"s;
const std::string kPairs = "-- Gr\xC3\xBC\xC3\x9F"
                           "e: \xC3\xA4 \xC3\xB6 \xC3\xBC \xC3\x9F "
                           "\xC3\x84 \xC3\x96 \xC3\x9C\r\n"
                           "local s = \"Stra\xC3\x9F"
                           "e\\0\"\0\r\n"s;
constexpr int kCharacters = 10;

const std::string kKaertchen = "K\xC3\xA4rtchen"; // Kärtchen
const std::string kGruesse = "Gr\xC3\xBC\xC3\x9F"
                             "e.lua"; // Grüße.lua

// ---- running the program

std::wstring ProgramPath() {
    // CMake gives the program's place relative to this test program's folder.
    const std::wstring relative = Widen(test::ProgramDir() + "\\" + VELMO_UMLAUTE_FROM_TESTS);
    wchar_t full[32768] = {};
    const DWORD n = GetFullPathNameW(relative.c_str(), 32768, full, nullptr);
    return n && n < 32768 ? std::wstring(full, n) : relative;
}

// One argument as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// A pipe whose one end the child inherits; the parent's end stays its own.
struct Pipe {
    AutoHandle parentEnd;
    AutoHandle childEnd;
};

Pipe MakePipe(bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe: " << GetLastError();
        return {};
    }
    AutoHandle readEnd(read), writeEnd(write);
    Pipe pipe{childReads ? std::move(writeEnd) : std::move(readEnd),
              childReads ? std::move(readEnd) : std::move(writeEnd)};
    SetHandleInformation(pipe.parentEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

// Everything until the writing end closes.
std::string ReadToEnd(HANDLE from) {
    std::string bytes;
    char chunk[1 << 16];
    DWORD got = 0;
    while (ReadFile(from, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

void WriteAll(HANDLE to, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 16));
        if (!WriteFile(to, bytes.data() + done, want, &put, nullptr))
            return; // the program stopped reading: what it read is its answer
        done += put;
    }
}

struct Outcome {
    DWORD status = 0xDEAD;
    std::string out;
    std::string err;
};

struct RunOptions {
    std::string input;      // standard input (a pipe)
    std::string workingDir; // empty: the test's own
    std::string outFile;    // stdout to this new file instead of a pipe
    // Runs on a thread of its own while the program runs, given its process
    // ID. With it the program shares the test's console, in a process group of
    // its own, so that a console event can be sent to it alone.
    std::function<void(DWORD)> meanwhile;
};

// Runs velmo-umlaute with the arguments and waits for it. Standard input is
// written and standard output and error read on threads of their own, so a
// full pipe never stops either side.
Outcome RunUmlaute(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
    const std::wstring program = ProgramPath();
    std::wstring commandLine = Quoted(program);
    for (const std::string& argument : arguments)
        commandLine += L" " + Quoted(Widen(argument));

    Pipe in = MakePipe(true), out = MakePipe(false), err = MakePipe(false);
    AutoFile outFile;
    if (!options.outFile.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        outFile.Reset(CreateFileW(Widen(options.outFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inherit, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(outFile) << options.outFile << ": " << GetLastError();
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in.childEnd.Get();
    startup.hStdOutput = outFile ? outFile.Get() : out.childEnd.Get();
    startup.hStdError = err.childEnd.Get();
    const std::wstring workingDir = Widen(options.workingDir);
    PROCESS_INFORMATION info{};
    const DWORD flags = options.meanwhile ? CREATE_NEW_PROCESS_GROUP : CREATE_NO_WINDOW;
    const bool started =
        CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                       workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info);
    const DWORD startError = GetLastError();
    // Only the program holds its ends now, so each pipe ends when it does.
    in.childEnd.Reset();
    out.childEnd.Reset();
    err.childEnd.Reset();
    outFile.Reset();
    Outcome run;
    if (!started) {
        ADD_FAILURE() << Narrow(program) << " does not start: " << startError;
        return run;
    }
    AutoHandle process(info.hProcess), thread(info.hThread);
    std::thread writer([&] {
        WriteAll(in.parentEnd.Get(), options.input);
        in.parentEnd.Reset();
    });
    std::thread errReader([&] { run.err = ReadToEnd(err.parentEnd.Get()); });
    std::thread meanwhile([&] {
        if (options.meanwhile)
            options.meanwhile(info.dwProcessId);
    });
    run.out = ReadToEnd(out.parentEnd.Get());
    errReader.join();
    writer.join();
    meanwhile.join();
    WaitForSingleObject(process.Get(), INFINITE);
    GetExitCodeProcess(process.Get(), &run.status);
    if (!options.outFile.empty())
        run.out = ReadRaw(options.outFile).value_or("(no file)");
    return run;
}

// ---- looking at the folders afterwards

// Every file below `dir`, by its path relative to it.
std::map<std::string, std::string> FilesBelow(const std::string& dir,
                                              const std::string& prefix = {}) {
    std::map<std::string, std::string> files;
    for (const std::string& name : NamesIn(dir)) {
        const std::string path = dir + "\\" + name;
        if (AttributesOf(path) & FILE_ATTRIBUTE_DIRECTORY)
            files.merge(FilesBelow(path, prefix + name + "\\"));
        else
            files[prefix + name] = ReadRaw(path).value_or("(unreadable)");
    }
    return files;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The files below `dir` that are backups ("....bak"), taken out of `files`.
std::map<std::string, std::string> TakeBackups(std::map<std::string, std::string>& files) {
    std::map<std::string, std::string> backups;
    for (auto it = files.begin(); it != files.end();) {
        if (EndsWith(it->first, ".bak")) {
            backups.insert(*it);
            it = files.erase(it);
        } else {
            ++it;
        }
    }
    return backups;
}

std::multiset<std::string> Lines(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

// The closing line; `check` for --pruefen.
std::string Summary(int changed, int unchanged, int skipped, int errors, bool check = false) {
    return std::to_string(changed) + (changed == 1 ? " Datei" : " Dateien") +
           (check ? (changed == 1 ? " w\xC3\xBCrde" : " w\xC3\xBCrden") : "") + " umgewandelt, " +
           std::to_string(unchanged) + " unver\xC3\xA4ndert, " + std::to_string(skipped) +
           " \xC3\xBC"
           "bersprungen, " +
           std::to_string(errors) + " Fehler\n";
}

void WriteTree(const std::string& dir, const std::map<std::string, std::string>& files) {
    for (const auto& [relative, bytes] : files) {
        const std::size_t slash = relative.find_last_of('\\');
        if (slash != std::string::npos)
            test::MakeDirs(dir + "\\" + relative.substr(0, slash));
        WriteRaw(dir + "\\" + relative, bytes);
    }
}

// =====================================================================
// A map folder, converted in both directions

TEST(Umlaute, ConvertsAMapFolderInBothDirections) {
    const struct {
        const char* name;
        std::vector<std::string> command; // the folder follows
        const std::string& from;
        const std::string& to;
        bool backup;
    } cases[] = {
        {"fuer-velmo", {"fuer-velmo"}, kSingle, kPairs, true},
        {"f\xC3\xBCr-mich without backup",
         {"f\xC3\xBCr-mich", "--ohne-sicherung"},
         kPairs,
         kSingle,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("cli-folder");
        const std::vector<std::string> converted = {"karte.lua", "Kapitel\\eins.lua",
                                                    "Kapitel\\Unter Ordner\\ZWEI.LUA"};
        std::map<std::string, std::string> tree = {
            {"Kapitel\\rein.lua", "print(1)\r\n"}, // nothing to convert
            {".git\\hooks\\alt.lua", c.from},      // in a hidden folder
            {"Papierkorb\\alt.lua", c.from},       // in a folder with the hidden attribute
            {"liesmich.txt", c.from},              // not a script
            {"Kapitel\\warnung.lua", "-- UMLAUTE\r\n" + c.from}, // holds the guard word
            {"bytecode.lua", "\x1BLuaS\0"s + c.from},            // a compiled chunk
        };
        for (const std::string& name : converted)
            tree[name] = c.from;
        WriteTree(dir.Path(), tree);
        SetFileAttributesW(Widen(dir / "Papierkorb").c_str(), FILE_ATTRIBUTE_HIDDEN);

        std::vector<std::string> arguments = c.command;
        arguments.push_back(dir.Path());
        // The same script once more, in another letter case: done once.
        arguments.push_back(dir / "KARTE.LUA");
        const Outcome run = RunUmlaute(arguments);
        EXPECT_EQ(run.status, 0u) << run.err;

        std::map<std::string, std::string> expected = tree;
        std::multiset<std::string> lines;
        for (const std::string& name : converted) {
            expected[name] = c.to;
            lines.insert(dir / name + ": " + std::to_string(kCharacters) + " Zeichen umgewandelt");
        }
        std::map<std::string, std::string> found = FilesBelow(dir.Path());
        const std::map<std::string, std::string> backups = TakeBackups(found);
        // Exactly the scripts changed, byte for byte; no temporary file left.
        EXPECT_EQ(found, expected);
        EXPECT_EQ(Lines(run.out), lines);
        EXPECT_TRUE(EndsWith(run.err, Summary(3, 1, 2, 0))) << run.err;

        // One backup beside each changed script, holding its old bytes.
        EXPECT_EQ(backups.size(), c.backup ? converted.size() : 0u);
        for (const auto& [name, bytes] : backups) {
            EXPECT_EQ(bytes, c.from) << name;
            // Named after its script, the dot turned into "_".
            EXPECT_TRUE(std::any_of(converted.begin(), converted.end(), [&](std::string script) {
                std::replace(script.begin(), script.end(), '.', '_');
                return name.rfind(script + "_", 0) == 0;
            })) << name;
        }
        if (!c.backup)
            continue;
        // rueckgaengig puts the run back: every script its old bytes, no backup left.
        const Outcome undo = RunUmlaute({"r\xC3\xBC"
                                         "ckg\xC3\xA4ngig",
                                         dir.Path()});
        EXPECT_EQ(undo.status, 0u) << undo.err;
        EXPECT_EQ(FilesBelow(dir.Path()), tree);
        EXPECT_TRUE(EndsWith(undo.err, "3 Dateien zur\xC3\xBC"
                                       "ckgeholt, 0 \xC3\xBC"
                                       "bersprungen, 0 Fehler\n"))
            << undo.err;
    }
}

// Scripts bigger than what is held whole go a piece at a time, a converted one
// in one pass; one of a refused kind or with the guard word is taken back
// after its pass, leaving no temporary file and no backup.
// On a case-sensitive folder (a Linux one seen through Wine) Karte.lua and
// karte.lua are two scripts: both are converted, each with its own backup.
TEST(Umlaute, NamesDifferingOnlyInCaseAreTwoScripts) {
    TempDir dir("cli-case");
    WriteRaw(dir / "Karte.lua", kSingle);
    if (!test::WriteExactName(dir / "karte.lua", kSingle))
        GTEST_SKIP() << "no case-sensitive folder here (only under Wine, on a Linux folder)";
    const Outcome r = RunUmlaute({"fuer-velmo", dir.Path()});
    EXPECT_EQ(r.status, 0u) << r.err;
    for (const char* name : {"Karte.lua", "karte.lua"}) {
        EXPECT_EQ(ReadRaw(dir / name), kPairs) << name;
        EXPECT_NE(
            r.out.find(dir / name + ": " + std::to_string(kCharacters) + " Zeichen umgewandelt"),
            std::string::npos)
            << r.out;
    }
    std::size_t backups = 0;
    for (const std::string& name : NamesIn(dir.Path()))
        if (EndsWith(name, ".bak")) {
            ++backups;
            EXPECT_EQ(ReadRaw(dir / name), kSingle) << name;
        }
    EXPECT_EQ(backups, 2u);
}

TEST(Umlaute, BigScriptsGoInPieces) {
    std::string single;
    while (single.size() < (3u << 20))
        single += kSingle;
    TempDir dir("cli-gross");
    const std::map<std::string, std::string> tree = {
        {"gross.lua", single},
        {"bytecode.lua", "\x1BLuaS\0"s + single},
        {"warnung.lua", single + "-- UMLAUTE\r\n"},
    };
    WriteTree(dir.Path(), tree);
    const Outcome run = RunUmlaute({"fuer-velmo", dir.Path()});
    EXPECT_EQ(run.status, 0u) << run.err;
    std::map<std::string, std::string> found = FilesBelow(dir.Path());
    const std::map<std::string, std::string> backups = TakeBackups(found);
    std::map<std::string, std::string> expected = tree;
    expected["gross.lua"] = UmlauteToTwoCharacterForm(single);
    EXPECT_TRUE(found == expected) << found.size() << " files";
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(backups.begin()->second == single);
    EXPECT_TRUE(EndsWith(run.err, Summary(1, 0, 2, 0))) << run.err;
}

// =====================================================================
// The backup's name, from the regional date and time of the run

TEST(Umlaute, BackupIsNamedFromTheRegionalDateAndTime) {
    const struct {
        const char* name;
        const wchar_t* date; // nullptr: as the system is set up
        const wchar_t* time;
    } cases[] = {
        {"system formats", nullptr, nullptr},
        {"German", L"dd.MM.yyyy", L"HH:mm:ss"},
        {"slashes and a 12-hour clock", L"yyyy/MM/dd", L"hh:mm:ss tt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<test::UserFormats> formats;
        if (c.date) {
            formats.emplace(c.date, c.time);
            if (!formats->Ok()) {
                std::cout << "[ SKIPPED  ] " << c.name << ": formats cannot be set here\n";
                continue;
            }
        }
        TempDir dir("cli-backup");
        const std::string script = dir / kGruesse;
        WriteRaw(script, kSingle);

        SYSTEMTIME before, after;
        GetLocalTime(&before);
        const Outcome run = RunUmlaute({"fuer-velmo", script});
        GetLocalTime(&after);
        EXPECT_EQ(run.status, 0u) << run.err;

        // The names the backup may have: one for each second the run lasted.
        constexpr std::uint64_t kSecond = 10'000'000; // in FILETIME's 100 ns
        const auto ticks = [](const SYSTEMTIME& when) {
            FILETIME at;
            SystemTimeToFileTime(&when, &at);
            return std::uint64_t{at.dwHighDateTime} << 32 | at.dwLowDateTime;
        };
        std::set<std::string> candidates;
        std::string listed;
        for (std::uint64_t t = ticks(before) / kSecond * kSecond; t <= ticks(after); t += kSecond) {
            const FILETIME at{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
            SYSTEMTIME when;
            FileTimeToSystemTime(&at, &when);
            const std::string name = BackupName(script, test::RegionalTexts(when));
            candidates.insert(name);
            listed += "\n" + name;
        }
        std::map<std::string, std::string> found = FilesBelow(dir.Path());
        const std::map<std::string, std::string> backups = TakeBackups(found);
        ASSERT_EQ(backups.size(), 1u);
        const std::string backup = dir / backups.begin()->first;
        EXPECT_EQ(candidates.count(backup), 1u) << backup << "\nexpected one of:" << listed;
        EXPECT_EQ(backups.begin()->second, kSingle);
        EXPECT_EQ(ReadRaw(script), kPairs);
    }
}

// =====================================================================
// Paths beyond Windows-1252 and beyond 260 characters, on the command line and
// in the output

TEST(Umlaute, UnicodePathsOnTheCommandLineAndInTheOutput) {
    TempDir dir("cli-paths");
    const std::string longDir = LongFolder(dir);
    const struct {
        const char* name;
        std::string folder;   // created below the test folder
        std::string argument; // the script as named on the command line
        bool fromFolder;      // run in the test folder, the argument relative to it
        bool toFile;          // stdout to a file rather than a pipe
    } cases[] = {
        {"umlauts", dir / kKaertchen, dir / kKaertchen + "\\" + kGruesse, false, false},
        {"umlauts, relative", dir / kKaertchen, kKaertchen + "\\" + kGruesse, true, false},
        {"umlauts, output to a file", dir / kKaertchen, dir / kKaertchen + "\\" + kGruesse, false,
         true},
        {"Greek and Japanese", dir / (kGreek + " " + kJapanese),
         dir / (kGreek + " " + kJapanese) + "\\" + kJapanese + ".lua", false, false},
        {"longer than 260", longDir, longDir + "\\" + kGruesse, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::MakeDirs(c.folder);
        const std::string script = c.fromFolder ? dir / c.argument : c.argument;
        WriteRaw(script, kSingle);
        RunOptions options;
        if (c.fromFolder)
            options.workingDir = dir.Path();
        if (c.toFile)
            options.outFile = dir / "ausgabe.txt";
        const Outcome run = RunUmlaute({"fuer-velmo", c.argument}, options);
        EXPECT_EQ(run.status, 0u) << run.err;
        EXPECT_EQ(run.out,
                  c.argument + ": " + std::to_string(kCharacters) + " Zeichen umgewandelt\n");
        EXPECT_EQ(run.err, Summary(1, 0, 0, 0));
        EXPECT_EQ(ReadRaw(script), kPairs);
        EXPECT_EQ(NamesIn(c.folder).size(), 2u) << "the script and its backup";
        test::RemoveTree(c.folder);
        DeleteFileW(Widen(options.outFile).c_str());
    }
}

// =====================================================================
// Scripts named as the system's devices (con, nul, aux, com1, prn, lpt1), as a
// git checkout or a copy off Linux leaves them: files like any other

TEST(Umlaute, ScriptsNamedAsDevicesAreFiles) {
    const std::vector<std::string> scripts = {"con.lua",  "nul.lua", "aux.lua",
                                              "com1.lua", "prn.lua", "lpt1.lua"};
    const struct {
        const char* name;
        std::string argument; // "{}" is the test folder
        bool fromFolder;      // run in the test folder
        std::vector<std::string> converted;
    } cases[] = {
        {"the folder", "{}", false, scripts},
        {"one named", "{}\\con.lua", false, {"con.lua"}},
        {"one named, relative", "com1.lua", true, {"com1.lua"}},
        {"one named, with \".\" and \"..\"", "{}\\.\\x\\..\\lpt1.lua", false, {"lpt1.lua"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("cli-devices");
        for (const std::string& script : scripts) {
            // Created in the "\\?\" form, where the name is no device.
            try {
                test::WriteFileBytes(test::Extended(Widen(dir / script)), kSingle);
            } catch (const test::HarnessError& e) {
                GTEST_SKIP() << script << " cannot be created here, not even in the \\\\?\\ form: "
                             << e.what();
            }
        }
        std::string argument = c.argument;
        if (argument.rfind("{}", 0) == 0)
            argument.replace(0, 2, dir.Path());
        RunOptions options;
        if (c.fromFolder)
            options.workingDir = dir.Path();
        const Outcome run = RunUmlaute({"fuer-velmo", argument}, options);
        EXPECT_EQ(run.status, 0u) << run.err;

        std::map<std::string, std::string> expected;
        for (const std::string& script : scripts)
            expected[script] = kSingle;
        std::multiset<std::string> lines;
        for (const std::string& script : c.converted) {
            expected[script] = kPairs;
            const std::string named = c.converted.size() == 1 ? argument : dir / script;
            lines.insert(named + ": " + std::to_string(kCharacters) + " Zeichen umgewandelt");
        }
        std::map<std::string, std::string> found = FilesBelow(dir.Path());
        const std::map<std::string, std::string> backups = TakeBackups(found);
        EXPECT_EQ(found, expected);
        EXPECT_EQ(Lines(run.out), lines);
        EXPECT_EQ(run.err, Summary(static_cast<int>(c.converted.size()), 0, 0, 0));

        // One backup beside each, holding its old bytes ("con_lua_....bak").
        EXPECT_EQ(backups.size(), c.converted.size());
        for (const std::string& script : c.converted) {
            std::string stem = script;
            std::replace(stem.begin(), stem.end(), '.', '_');
            EXPECT_TRUE(std::any_of(backups.begin(), backups.end(), [&](const auto& backup) {
                return backup.first.rfind(stem + "_", 0) == 0 && backup.second == kSingle;
            })) << script;
        }
    }
}

// =====================================================================
// Exit statuses

// Ctrl+Break in the console while a map folder is converted: the run stops at
// a safe point between two scripts, as Ctrl+C and SIGTERM do on Linux: the
// scripts already replaced stay converted, no temporary file and no backup of
// a script not replaced stays, a closing line says how far it got, and the
// status is 128 + 21 (SIGBREAK's number).
TEST(Umlaute, CtrlBreakStopsAtASafePoint) {
    // A console of the test's own to share with the program; the one it was
    // started with may be the host's terminal, where no events can be sent.
    FreeConsole();
    const bool allocated = AllocConsole();
    const DWORD allocError = allocated ? 0 : GetLastError();
    TempDir dir("abbruch");
    std::string big;
    while (big.size() < (2u << 20))
        big += "-- Gr\xFC\xDF"
               "e und mehr Text, damit das Skript gro\xDF wird\r\n";
    for (int i = 0; i < 60; ++i)
        test::WriteRaw(dir / ("s" + std::to_string(100 + i) + ".lua"), big);
    bool sent = false;
    DWORD sendError = 0;
    RunOptions options;
    options.meanwhile = [&](DWORD program) {
        // Once the first backup shows, the run is under way.
        for (int wait = 0; wait < 60000; wait += 5) {
            const auto names = NamesIn(dir.Path());
            if (std::any_of(names.begin(), names.end(),
                            [](const std::string& n) { return EndsWith(n, ".bak"); }))
                break;
            Sleep(5);
        }
        sent = GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, program);
        sendError = sent ? 0 : GetLastError();
    };
    const Outcome r = RunUmlaute({"fuer-velmo", dir.Path()}, options);
    // Wine (8.0) refuses to send console events (GenerateConsoleCtrlEvent fails
    // with error 6, the console made here or not); Windows sends them.
    if (!sent || r.status == 0)
        GTEST_SKIP() << "the console event did not reach the program (console made: " << allocated
                     << " " << allocError << ", sent: " << sent << " " << sendError << ", status "
                     << r.status << ")";
    EXPECT_EQ(r.status, 128u + 21u) << r.err;
    std::size_t converted = 0, backups = 0;
    for (const std::string& name : NamesIn(dir.Path())) {
        EXPECT_EQ(name.find("velmo-tmp"), std::string::npos) << name;
        backups += EndsWith(name, ".bak");
        if (EndsWith(name, ".lua"))
            converted += ReadRaw(dir / name) != big;
    }
    EXPECT_LT(converted, 60u);
    EXPECT_EQ(backups, converted) << "a backup of a script not replaced";
    EXPECT_NE(r.err.find("abgebrochen: " + std::to_string(converted) + " von 60 Dateien"),
              std::string::npos)
        << r.err;
}

TEST(Umlaute, ExitStatuses) {
    for (const cli::test::ExitScenario& c : cli::test::ExitScenarios()) {
        SCOPED_TRACE(c.name);
        TempDir dir("cli-status");
        const std::map<std::string, std::string> tree = {
            {"eins.lua", kSingle}, {"zwei.lua", kSingle}, {"rein.lua", "print(1)\r\n"}};
        WriteTree(dir.Path(), tree);
        if (!c.readOnly.empty())
            SetFileAttributesW(Widen(dir / c.readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
        std::vector<std::string> arguments;
        for (std::string argument : c.arguments) {
            if (argument.rfind("{}", 0) == 0)
                argument.replace(0, 2, dir.Path());
            std::replace(argument.begin(), argument.end(), '/', '\\');
            arguments.push_back(argument);
        }
        const Outcome run = RunUmlaute(arguments);
        EXPECT_EQ(run.status, static_cast<DWORD>(c.status)) << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        std::map<std::string, std::string> expected = tree;
        for (const std::string& name : c.changed)
            expected[name] = kPairs;
        std::map<std::string, std::string> found = FilesBelow(dir.Path());
        EXPECT_EQ(TakeBackups(found).size(), c.changed.size());
        EXPECT_EQ(found, expected);
    }
}

// --pruefen is the conversion's dry run: a script the conversion refuses (the
// read-only attribute, a file another program holds open without letting it
// be replaced) the check names with the conversion's own line and status, and
// changes nothing; what the conversion skips or converts, the check tells so.
TEST(Umlaute, TheCheckGivesTheConversionsVerdicts) {
    const std::string chunk = "\x1BLuaS\0\x19\x93\r\n\x1A\n\xE4\xF6"s;
    const struct {
        const char* name;
        std::string bytes;
        DWORD attributes; // given after writing; 0: none
        bool heldOpen;    // by this test, sharing reading and writing only
        DWORD checkStatus, status;
    } cases[] = {
        {"read-only", kSingle, FILE_ATTRIBUTE_READONLY, false, 2, 2},
        {"read-only and hidden", kSingle, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, false, 2,
         2},
        {"held open by another program", kSingle, 0, true, 2, 2},
        {"a compiled chunk, read-only", chunk, FILE_ATTRIBUTE_READONLY, false, 0, 0},
        {"hidden, writable", kSingle, FILE_ATTRIBUTE_HIDDEN, false, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("cli-verdicts");
        const std::string script = dir / "karte.lua";
        WriteRaw(script, c.bytes);
        if (c.attributes) {
            ASSERT_TRUE(SetFileAttributesW(Widen(script).c_str(), c.attributes));
        }
        AutoFile held;
        if (c.heldOpen) {
            held.Reset(CreateFileW(Widen(script).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held) << GetLastError();
        }
        const Outcome check = RunUmlaute({"fuer-velmo", "--pruefen", script});
        EXPECT_EQ(check.status, c.checkStatus) << check.err;
        EXPECT_EQ(FilesBelow(dir.Path()),
                  (std::map<std::string, std::string>{{"karte.lua", c.bytes}}));
        const Outcome real = RunUmlaute({"fuer-velmo", script});
        EXPECT_EQ(real.status, c.status) << real.err;
        if (c.status != 0 || c.checkStatus == 0) {
            const auto firstLine = [](const std::string& text) {
                return text.substr(0, text.find('\n'));
            };
            EXPECT_EQ(firstLine(check.err), firstLine(real.err));
            EXPECT_EQ(firstLine(check.err).rfind("velmo-umlaute: " + script + ": ", 0), 0u)
                << check.err;
            EXPECT_EQ(check.out, "");
            EXPECT_EQ(FilesBelow(dir.Path()),
                      (std::map<std::string, std::string>{{"karte.lua", c.bytes}}));
        }
        held.Reset();
        SetFileAttributesW(Widen(script).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// =====================================================================
// The filter: standard input to standard output, through pipes

TEST(Umlaute, FilterPassesEveryOtherByteUnchanged) {
    std::string everyOther; // every byte value but the seven umlauts, twice
    for (int round = 0; round < 2; ++round)
        for (int b = 0; b < 256; ++b)
            if (std::string("\xE4\xF6\xFC\xDF\xC4\xD6\xDC").find(static_cast<char>(b)) ==
                std::string::npos)
                everyOther.push_back(static_cast<char>(b));
    std::string large; // more than any pipe holds
    while (large.size() < (3u << 20))
        large += kSingle;
    std::string largePairs;
    while (largePairs.size() < large.size() / kSingle.size() * kPairs.size())
        largePairs += kPairs;
    const std::string chunk = "\x1BLuaS\0\x19\x93\r\n\x1A\n\xE4\xF6"s;
    // More than the filter holds in memory: the rest waits in a temporary file.
    const std::string spooled = large + large + large + large;
    const std::string spooledPairs = largePairs + largePairs + largePairs + largePairs;

    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string input;
        DWORD status;
        std::string output;
        std::string err; // in standard error; empty: nothing there
    } cases[] = {
        {"to pairs", {"fuer-velmo", "-"}, kSingle + everyOther, 0, kPairs + everyOther, ""},
        {"to single bytes",
         {"fuer-mich", "-"},
         kPairs + "\r\n\0\x1A"s,
         0,
         kSingle + "\r\n\0\x1A"s,
         ""},
        {"nothing to convert", {"fuer-velmo", "-"}, "\r\n\0\r"s, 0, "\r\n\0\r"s, ""},
        {"empty", {"fuer-velmo", "-"}, "", 0, "", ""},
        {"3 MiB", {"fuer-velmo", "-"}, large, 0, largePairs, ""},
        {"3 MiB, --trotzdem", {"fuer-velmo", "--trotzdem", "-"}, large, 0, largePairs, ""},
        {"12 MiB, spooled", {"fuer-velmo", "-"}, spooled, 0, spooledPairs, ""},
        {"12 MiB, the guard word last",
         {"fuer-velmo", "-"},
         spooled + "UMLAUTE",
         0,
         spooled + "UMLAUTE",
         "(Standardeingabe): unver\xC3\xA4ndert durchgereicht"},
        {"a compiled chunk passes",
         {"fuer-velmo", "-"},
         chunk,
         0,
         chunk,
         "(Standardeingabe): unver\xC3\xA4ndert durchgereicht"},
        {"--pruefen, would change", {"fuer-velmo", "--pruefen", "-"}, kSingle, 1, "", ""},
        {"--pruefen, nothing would change", {"fuer-mich", "--pruefen", "-"}, kSingle, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = RunUmlaute(c.arguments, {c.input, {}, {}, {}});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(run.out == c.output)
            << "output of " << run.out.size() << " bytes, expected " << c.output.size();
        if (c.err.empty())
            EXPECT_EQ(run.err, "");
        else
            EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    }
}

// =====================================================================
// Help and version, in UTF-8 when redirected

TEST(Umlaute, HelpAndVersionInUtf8) {
    const struct {
        std::vector<std::string> arguments;
        DWORD status;
        bool onStdout;
        std::vector<std::string> fragments;
    } cases[] = {
        {{"--help"},
         0,
         true,
         {"Aufruf: velmo-umlaute fuer-velmo [OPTIONEN] PFAD...",
          "\xE2\x80\x9EUmlaute f\xC3\xBCr Velmo umwandeln\xE2\x80\x9C",
          "\xC3\xA4 \xC3\xB6 \xC3\xBC \xC3\x9F \xC3\x84 \xC3\x96 \xC3\x9C",
          "au\xC3\x9F"
          "en vor",
          "\nR\xC3\xBC"
          "ckgabewert:\n"}},
        {{"fuer-velmo", "-h"}, 0, true, {"Aufruf:"}},
        {{"--version"}, 0, true, {"velmo-umlaute " VELMO_VERSION_STRING "\n"}},
        {{"--gibtsnicht"}, 2, false, {"Aufruf: velmo-umlaute fuer-velmo|fuer-mich"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        const Outcome run = RunUmlaute(c.arguments);
        EXPECT_EQ(run.status, c.status);
        const std::string& text = c.onStdout ? run.out : run.err;
        for (const std::string& fragment : c.fragments)
            EXPECT_NE(text.find(fragment), std::string::npos) << fragment << "\nin:\n" << text;
        // Line ends as written: no CR added by a text-mode stream.
        EXPECT_EQ(text.find('\r'), std::string::npos);
    }
}

} // namespace
} // namespace velmo
