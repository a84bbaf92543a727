// The built velmo-umlaute on real folders, run as a user runs it: folders in
// both directions, the skip rules, exit statuses, the filter on standard input
// (also against iconv, and as a git filter), permissions, owners and times.
#include "convert/Umlaute.h"
#include "tests/cli/ExitScenarios.h"
#include "tests/cli/ProgramRun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>

extern char** environ;

namespace velmo {
namespace {

using namespace std::string_literals;
using namespace test;
namespace fs = std::filesystem;

// A map folder with one of every kind of file the companion meets.
TEST_F(Folder, ConvertsAMapFolderBothWaysAndLeavesAloneWhatItMust) {
    const fs::path map = root_ / "karte";
    const std::string chunk = "\x1BLuaT\0\x19\x93\xE4\xC3\xA4"s;
    const std::string utf16 = "\xFF\xFE-\0\xE4\0"s;
    const std::string guarded = "Umlaute(\"\xE4\")\n";
    Write(map / "a.lua", kSingle);
    Write(map / "sub" / "b.LUA", kSingle + "--");
    Write(map / "sub" / "rein.lua", "print(1)\r\n");
    Write(map / ".git" / "c.lua", kSingle);
    Write(map / "notiz.txt", kSingle);
    Write(map / "chunk.lua", chunk);
    Write(map / "utf16.lua", utf16);
    Write(map / "guard.lua", guarded);
    fs::create_symlink("a.lua", map / "link.lua");
    chmod((map / "a.lua").c_str(), 0640);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown((map / "a.lua").c_str(), 65534, 65534), 0);
    }
    struct stat rein {};
    stat((map / "sub" / "rein.lua").c_str(), &rein);
    sleep(1); // a rewrite would show in the modification time

    const Result forward = Umlaute({"fuer-velmo", "karte"}, root_);
    EXPECT_EQ(forward.status, 0) << forward.err;
    EXPECT_EQ(Read(map / "a.lua"), kPairs);
    EXPECT_EQ(Read(map / "sub" / "b.LUA"), kPairs + "--");
    for (const char* name : {".git/c.lua", "notiz.txt"})
        EXPECT_EQ(Read(map / name), kSingle) << name;
    EXPECT_EQ(Read(map / "chunk.lua"), chunk);
    EXPECT_EQ(Read(map / "utf16.lua"), utf16);
    EXPECT_EQ(Read(map / "guard.lua"), guarded);
    EXPECT_TRUE(fs::is_symlink(map / "link.lua"));
    EXPECT_EQ(forward.out,
              "karte/a.lua: 7 Zeichen umgewandelt\nkarte/sub/b.LUA: 7 Zeichen umgewandelt\n");
    for (const char* why : {"link.lua: übersprungen, symbolische Verknüpfung",
                            "chunk.lua: übersprungen, kompiliertes Lua-Skript (Bytecode)",
                            "utf16.lua: übersprungen, in UTF-16 gespeichert",
                            "guard.lua: übersprungen, enthält das Wort „UMLAUTE“"})
        EXPECT_NE(forward.err.find(why), std::string::npos) << why << "\n" << forward.err;
    EXPECT_NE(forward.err.find("2 Dateien umgewandelt, 1 unverändert, 4 übersprungen, 0 Fehler"),
              std::string::npos)
        << forward.err;

    // Backups beside each changed script, holding its old bytes; none elsewhere.
    const auto backups = Backups(map);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].rfind("a_lua_", 0), 0u) << backups[0];
    EXPECT_EQ(Read(map / backups[0]), kSingle);
    EXPECT_EQ(Backups(map / "sub").size(), 1u);
    EXPECT_TRUE(Backups(map / ".git").empty());

    // Mode and owner kept; a file with nothing to do never rewritten.
    struct stat a {
    }, after{};
    stat((map / "a.lua").c_str(), &a);
    EXPECT_EQ(a.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(a.st_uid, 65534u);
    }
    stat((map / "sub" / "rein.lua").c_str(), &after);
    EXPECT_EQ(after.st_ino, rein.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, rein.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, rein.st_mtim.tv_nsec);

    // Back again, without backups this time: the old bytes, and no new backup.
    const Result back = Umlaute({"fuer-mich", "--ohne-sicherung", "-q", "karte"}, root_);
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, "");
    EXPECT_EQ(back.err, "");
    EXPECT_EQ(Read(map / "a.lua"), kSingle);
    EXPECT_EQ(Read(map / "sub" / "b.LUA"), kSingle + "--");
    EXPECT_EQ(Backups(map).size(), 1u);
    for (const auto& entry : fs::recursive_directory_iterator(map))
        EXPECT_EQ(entry.path().string().find("velmo-tmp"), std::string::npos) << entry.path();
}

TEST_F(Folder, ExitStatuses) {
    for (const cli::test::ExitScenario& c : cli::test::ExitScenarios()) {
        SCOPED_TRACE(c.name);
        const fs::path dir = root_ / "karten";
        fs::remove_all(dir);
        Write(dir / "eins.lua", kSingle);
        Write(dir / "zwei.lua", kSingle);
        Write(dir / "rein.lua", "print(1)\r\n");
        if (!c.readOnly.empty())
            fs::permissions(dir / c.readOnly, fs::perms::owner_write, fs::perm_options::remove);
        std::vector<std::string> arguments;
        for (std::string argument : c.arguments) {
            if (argument.rfind("{}", 0) == 0)
                argument.replace(0, 2, dir.string());
            arguments.push_back(argument);
        }
        const Result r = Umlaute(arguments, root_);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        for (const char* name : {"eins.lua", "zwei.lua"}) {
            const bool changed =
                std::find(c.changed.begin(), c.changed.end(), name) != c.changed.end();
            EXPECT_EQ(Read(dir / name), changed ? kPairs : kSingle) << name;
        }
        EXPECT_EQ(Backups(dir).size(), c.changed.size());
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        if (!c.readOnly.empty())
            fs::permissions(dir / c.readOnly, fs::perms::owner_write, fs::perm_options::add);
    }
    EXPECT_NE(Umlaute({"--help"}, root_).out.find("Aufruf: velmo-umlaute fuer-velmo"),
              std::string::npos);
}

// rueckgaengig over real folders: --pruefen first, then a run put back with
// one script edited since (left and named, with its backup); each script put
// back is its very file again (its number and times), its backup gone. Two
// runs in one folder are listed and nothing changes until --lauf picks one.
// No run at all is an error.
TEST_F(Folder, TakesARunBack) {
    const fs::path map = root_ / "karte";
    const std::string other = "-- anderes \xE4\xF6\n";
    Write(map / "a.lua", kSingle);
    Write(map / "b.lua", other);
    Write(map / "leer.lua", "print(1)\n");
    Write(map / "sub" / "d.lua", kSingle);
    struct stat a {};
    ASSERT_EQ(stat((map / "a.lua").c_str(), &a), 0);
    ASSERT_EQ(Umlaute({"fuer-velmo", "karte"}, root_).status, 0);
    ASSERT_EQ(Backups(map).size(), 2u);

    struct Step {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::vector<std::string> out, err; // found in the output
    };
    const Step steps[] = {
        {"checked",
         {"rueckgaengig", "--pruefen", "karte"},
         1,
         {"karte/a.lua: würde aus der Sicherung zurückgeholt",
          "karte/sub/d.lua: würde aus der Sicherung zurückgeholt"},
         {"3 Dateien würden zurückgeholt, 0 übersprungen, 0 Fehler"}},
        {"put back, b.lua edited since",
         {"rückgängig", "karte"},
         0,
         {"karte/a.lua: aus der Sicherung zurückgeholt",
          "karte/sub/d.lua: aus der Sicherung zurückgeholt"},
         {"karte/b.lua: übersprungen, seit der Umwandlung geändert",
          "2 Dateien zurückgeholt, 1 übersprungen, 0 Fehler"}},
        {"nothing left to take back but b.lua",
         {"rueckgaengig", "karte/a.lua"},
         2,
         {},
         {"keine Sicherung eines Laufs gefunden"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (std::string(step.name).find("edited") != std::string::npos) {
            EXPECT_EQ(Read(map / "a.lua"), kPairs) << "the check changed nothing";
            Write(map / "b.lua", "-- von Hand\n");
        }
        const Result r = Umlaute(step.arguments, root_);
        EXPECT_EQ(r.status, step.status) << r.out << r.err;
        for (const std::string& line : step.out)
            EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
        for (const std::string& line : step.err)
            EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    }
    EXPECT_EQ(Read(map / "a.lua"), kSingle);
    EXPECT_EQ(Read(map / "sub" / "d.lua"), kSingle);
    EXPECT_EQ(Read(map / "b.lua"), "-- von Hand\n");
    EXPECT_EQ(Backups(map).size(), 1u) << "b.lua's backup stays";
    EXPECT_TRUE(Backups(map / "sub").empty());
    EXPECT_TRUE(Temporaries(map).empty());
    struct stat back {};
    ASSERT_EQ(stat((map / "a.lua").c_str(), &back), 0);
    EXPECT_EQ(back.st_ino, a.st_ino);
    EXPECT_EQ(back.st_mtim.tv_sec, a.st_mtim.tv_sec);
    EXPECT_EQ(back.st_mtim.tv_nsec, a.st_mtim.tv_nsec);

    // Two runs: the first one's backup renamed to an earlier stamp.
    const fs::path two = root_ / "zwei";
    Write(two / "x.lua", kSingle);
    Write(two / "y.lua", other);
    ASSERT_EQ(Umlaute({"fuer-velmo", "zwei/x.lua"}, root_).status, 0);
    const std::string earlier = "01_01_2020_10_00_00";
    fs::rename(two / Backups(two).at(0), two / ("x_lua_" + earlier + ".bak"));
    ASSERT_EQ(Umlaute({"fuer-velmo", "zwei"}, root_).status, 0);
    const std::string made = Backups(two).at(1);                   // y.lua's
    const std::string stamp = made.substr(6, made.size() - 6 - 4); // "y_lua_" … ".bak"
    const Result listed = Umlaute({"rueckgaengig", "zwei"}, root_);
    EXPECT_EQ(listed.status, 2);
    EXPECT_EQ(listed.out, earlier + ": 1 Sicherung\n" + stamp + ": 1 Sicherung\n") << listed.err;
    EXPECT_NE(listed.err.find("--lauf"), std::string::npos) << listed.err;
    EXPECT_EQ(Read(two / "x.lua"), kPairs);
    EXPECT_EQ(Backups(two).size(), 2u);
    const Result picked = Umlaute({"rueckgaengig", "--lauf", earlier, "zwei"}, root_);
    EXPECT_EQ(picked.status, 0) << picked.err;
    EXPECT_EQ(Read(two / "x.lua"), kSingle);
    EXPECT_EQ(Read(two / "y.lua"), UmlauteToTwoCharacterForm(other));
    EXPECT_EQ(Umlaute({"rueckgaengig", "--lauf=" + stamp, "zwei"}, root_).status, 0);
    EXPECT_EQ(Read(two / "y.lua"), other);
    EXPECT_TRUE(Backups(two).empty());

    const Result usage = Umlaute({"fuer-velmo", "--lauf", stamp, "zwei"}, root_);
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("geht nur mit rueckgaengig"), std::string::npos) << usage.err;
    const Result help = Umlaute({"--help"}, root_);
    EXPECT_NE(help.out.find("velmo-umlaute rueckgaengig [--lauf STEMPEL]"), std::string::npos);
    EXPECT_NE(help.out.find("  --lauf STEMPEL"), std::string::npos) << help.out;
}

// An undo stopped by a signal, or killed, in the middle: every script holds
// its old bytes without its backup or the run's with it, and nothing else is
// left in the folder.
TEST_F(Folder, UndoStoppedOrKilledInTheMiddleLeavesEveryScriptWhole) {
    std::string big;
    while (big.size() < (1u << 20))
        big += "-- Gr\xFC\xDF"
               "e und mehr Text, damit das Skript gro\xDF wird\r\n";
    const std::string pairs = UmlauteToTwoCharacterForm(big);
    for (const char* how : {"VELMO_INTERRUPT_AFTER=12:2 velmo-umlaute rueckgaengig karte",
                            "velmo-umlaute rueckgaengig karte & sleep 0.3; kill -9 $!; wait"}) {
        SCOPED_TRACE(how);
        const fs::path map = root_ / "karte";
        fs::remove_all(map);
        for (int i = 0; i < 30; ++i)
            Write(map / ("s" + std::to_string(100 + i) + ".lua"), big);
        ASSERT_EQ(Umlaute({"fuer-velmo", "karte"}, root_).status, 0);
        const bool stopped = std::string(how).starts_with("VELMO");
        const Result r = Shell(how, root_);
        if (stopped) {
            EXPECT_EQ(r.status, 130) << r.err;
        }
        std::size_t putBack = 0, names = 0;
        for (const auto& entry : fs::directory_iterator(map)) {
            ++names;
            if (entry.path().extension() != ".lua")
                continue;
            const std::string bytes = Read(entry.path());
            EXPECT_TRUE(bytes == big || bytes == pairs) << entry.path();
            putBack += bytes == big;
        }
        EXPECT_EQ(Backups(map).size(), 30 - putBack);
        EXPECT_EQ(names, 30 + Backups(map).size()) << "no other name";
        for (const std::string& backup : Backups(map))
            EXPECT_EQ(Read(map / backup), big);
        if (stopped) {
            EXPECT_NE(r.err.find("abgebrochen: " + std::to_string(putBack) + " von 30 Dateien zur"),
                      std::string::npos)
                << r.err;
        }
    }
}

// Text already in UTF-8 is left byte for byte and not even rewritten; beside
// Windows-1252 umlauts only those convert. A notice names what stayed where
// both forms meet; a script that is UTF-8 throughout is merely unchanged, with
// no word. The count tells only what converted, and --pruefen does not ask
// for the UTF-8 file.
TEST_F(Folder, Utf8TextStaysAndIsNamed) {
    const std::string utf8 = "x = \"\xE4\xB8\xAD \xC4\x85\"\n";
    const std::string mixed = "-- \xE4\n" + utf8;
    Write(root_ / "a.lua", utf8);
    Write(root_ / "b.lua", mixed);
    struct stat before {};
    ASSERT_EQ(stat((root_ / "a.lua").c_str(), &before), 0);

    EXPECT_EQ(Umlaute({"fuer-velmo", "--pruefen", "a.lua"}, root_).status, 0);
    const Result r = Umlaute({"fuer-velmo", "--ohne-sicherung", "a.lua", "b.lua"}, root_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(root_ / "a.lua"), utf8);
    EXPECT_EQ(Read(root_ / "b.lua"), "-- \xC3\xA4\n" + utf8);
    struct stat after {};
    ASSERT_EQ(stat((root_ / "a.lua").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(r.err.find("a.lua"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("b.lua: 2 Zeichen geh\xC3\xB6ren schon zu UTF-8-Text und bleiben, wie sie "
                         "sind; das erste: \xE2\x80\x9E\xE4\xB8\xAD\xE2\x80\x9C in Zeile 2."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "b.lua: 1 Zeichen umgewandelt\n");
}

// In the C locale, as in CI, cron and hooks run by GUIs, a backup is named with
// day, month and four-digit year, as the window names it on a German Windows.
TEST_F(Folder, BackupNamesInTheCLocale) {
    Write(root_ / "karte.lua", kSingle);
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    setenv("LC_ALL", "C", 1);
    const Result r = Umlaute({"fuer-velmo", "karte.lua"}, root_);
    if (before)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> backups = Backups(root_);
    ASSERT_EQ(backups.size(), 1u);
    // karte_lua_10_12_2026_18_37_27.bak
    const std::string& name = backups[0];
    ASSERT_EQ(name.size(), std::string("karte_lua_10_12_2026_18_37_27.bak").size()) << name;
    EXPECT_EQ(name.substr(0, 10), "karte_lua_");
    for (std::size_t at : {12u, 15u, 20u, 23u, 26u})
        EXPECT_EQ(name[at], '_') << name;
    EXPECT_TRUE(name.substr(16, 2) == "20") << name; // the year's first two digits
}

// What a Linux user reads when something fails: the path the user knows (never
// an internal temporary), the cause in German words where the system's text
// alone would not say it, the system's own text, and no Windows numbers.
TEST_F(Folder, MessagesNameTheCauseWithoutWindowsNumbers) {
    const std::string longName(240, 'n');
    Write(root_ / "datei.lua", kSingle);
    Write(root_ / (longName + ".lua"), kSingle);
    struct Case {
        const char* name;
        std::string command;
        std::string line; // in standard error
    } cases[] = {
        {"standard input closed", "velmo-umlaute fuer-velmo - <&-", "(Standardeingabe): "},
        {"a file named as a folder", "velmo-umlaute fuer-velmo datei.lua/",
         "datei.lua/: kein Ordner: "},
        {"a name too long for its backup", "velmo-umlaute fuer-velmo " + longName + ".lua",
         longName + ".lua: Name zu lang f\xC3\xBCr Sicherung oder Zwischendatei: "},
    };
    for (const Case& c : cases) {
        const Result r = Shell(c.command, root_);
        EXPECT_EQ(r.status, 2) << c.name;
        EXPECT_NE(r.err.find("velmo-umlaute: " + c.line), std::string::npos) << c.name << r.err;
        EXPECT_FALSE(std::regex_search(r.err, std::regex("Fehler [0-9]"))) << c.name << r.err;
        EXPECT_EQ(r.err.find("velmo-tmp"), std::string::npos) << c.name << r.err;
    }
    EXPECT_EQ(Read(root_ / (longName + ".lua")), kSingle);
    EXPECT_TRUE(Backups(root_).empty());
}

// Names with control characters: escaped on a terminal, as ls shows them;
// unchanged into a pipe, where a script reads them.
TEST_F(Folder, ControlCharactersInNamesOnATerminal) {
    Write(root_ / "a\nb.lua", kSingle);
    Write(root_ / "\x1B[31mrot.lua", kSingle);
    const Result piped = Umlaute({"fuer-velmo", "--pruefen", "."}, root_);
    EXPECT_NE(piped.out.find("./a\nb.lua: "), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find("./\x1B[31mrot.lua: "), std::string::npos) << piped.out;
    // script(1) gives the program a terminal and copies what it shows.
    const Result shown =
        Shell("script -qec 'velmo-umlaute fuer-velmo --pruefen .' /dev/null", root_);
    EXPECT_NE(shown.out.find("./a\\nb.lua: "), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("./\\e[31mrot.lua: "), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find('\x1B'), std::string::npos) << shown.out;
}

// Ctrl+C, SIGTERM and SIGHUP in the middle of a map folder: the scripts of the
// rounds already replaced stay converted; the round being staged is taken back:
// no temporary file and no backup of a script that was not replaced; a closing
// line says how far it got, and the status is 128 + the signal. The signal is
// raised by the program itself after 35 of 40 scripts (its test hook), so the
// place is the same in every run; 40 scripts of 2 MiB fill one round of
// 64 MiB after 30.
TEST_F(Folder, SignalsStopAtASafePointAndLeaveNothingHalfDone) {
    std::string big;
    while (big.size() < (2u << 20))
        big += "-- Gr\xFC\xDF"
               "e und mehr Text, damit das Skript gro\xDF wird\r\n";
    for (const auto& [name, signal] : {std::pair{"SIGINT", SIGINT}, std::pair{"SIGTERM", SIGTERM},
                                       std::pair{"SIGHUP", SIGHUP}}) {
        SCOPED_TRACE(name);
        const fs::path map = root_ / name;
        for (int i = 0; i < 40; ++i)
            Write(map / ("s" + std::to_string(100 + i) + ".lua"), big);
        const Result r = Shell("VELMO_INTERRUPT_AFTER=35:" + std::to_string(signal) +
                                   " velmo-umlaute fuer-velmo " + map.string(),
                               root_);
        EXPECT_EQ(r.status, 128 + signal) << r.err;
        std::size_t converted = 0, temporaries = 0;
        for (const auto& entry : fs::directory_iterator(map)) {
            const std::string file = entry.path().filename();
            temporaries += file.find("velmo-tmp") != std::string::npos;
            if (entry.path().extension() == ".lua")
                converted += Read(entry.path()) != big;
        }
        EXPECT_EQ(temporaries, 0u);
        EXPECT_GT(converted, 0u);
        EXPECT_LT(converted, 35u);
        EXPECT_EQ(Backups(map).size(), converted) << "a backup of a script not replaced";
        EXPECT_NE(r.err.find("abgebrochen: " + std::to_string(converted) + " von 40 Dateien"),
                  std::string::npos)
            << r.err;
    }
}

// Standard output that cannot take the lines: a full disk behind it costs no
// script its conversion (every script is done, the error is said once on
// stderr, status 2); a reader that has gone (with SIGPIPE ignored) stops the
// run at its next safe point, as a signal does. Either way every script has
// its old or its new bytes, with a backup exactly when new, and no temporary
// file stays. More scripts than one commit round holds.
TEST_F(Folder, StandardOutputThatCannotBeWrittenLeavesNothingHalfDone) {
    struct Case {
        const char* name;
        const char* command;
        int status;
        bool allConverted;
    };
    const Case cases[] = {
        {"full disk", "velmo-umlaute fuer-velmo karte >/dev/full", 2, true},
        {"full disk, check", "velmo-umlaute fuer-velmo --pruefen karte >/dev/full", 2, false},
        {"reader gone",
         "trap '' PIPE; { velmo-umlaute fuer-velmo karte; echo $? >status; } | head -c 1", 141,
         false},
    };
    constexpr int kScripts = 1200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path map = root_ / "karte";
        fs::remove_all(map);
        for (int i = 0; i < kScripts; ++i)
            Write(map / ("s" + std::to_string(10000 + i) + ".lua"), kSingle);
        const Result r = Shell(c.command, root_);
        const int status =
            fs::exists(root_ / "status") ? std::stoi(Read(root_ / "status")) : r.status;
        fs::remove(root_ / "status");
        EXPECT_EQ(status, c.status) << r.err;
        std::size_t converted = 0, temporaries = 0;
        for (const auto& entry : fs::directory_iterator(map)) {
            const std::string file = entry.path().filename();
            temporaries += file.find("velmo-tmp") != std::string::npos;
            if (entry.path().extension() == ".lua") {
                const std::string bytes = Read(entry.path());
                EXPECT_TRUE(bytes == kSingle || bytes == kPairs) << file;
                converted += bytes == kPairs;
            }
        }
        EXPECT_EQ(temporaries, 0u);
        EXPECT_EQ(Backups(map).size(), converted) << "a backup of a script not replaced";
        if (c.allConverted) {
            EXPECT_EQ(converted, std::size_t{kScripts});
        }
        if (c.status == 2) {
            // Said once, and the summary still comes.
            const std::string said = "velmo-umlaute: (Ausgabe): ";
            EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find(said), r.err.rfind(said)) << r.err;
            EXPECT_NE(r.err.find(std::to_string(kScripts) + " Dateien"), std::string::npos)
                << r.err;
        }
    }
}

// A check's lines into a file or pipe go out some at a time, yet with its
// notices in one file (2>&1) every line stands where its script comes, also
// when a signal stops the run, and through a pipe all arrive. A reader that
// goes away ends the run as it ends a filter, also where SIGPIPE is ignored.
// (More lines than a pipe holds, so that the writer meets the closed end.)
TEST_F(Folder, CheckLinesKeepTheirOrderWithTheNotices) {
    const fs::path map = root_ / "karte";
    std::vector<std::string> lines;
    for (int i = 0; i < 2400; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%04d.lua", i);
        const bool chunk = i % 100 == 50;
        Write(map / name, chunk ? "\x1BLua\x54\xE4"s : kSingle);
        lines.push_back(chunk ? "velmo-umlaute: karte/"s + name +
                                    ": übersprungen, kompiliertes Lua-Skript (Bytecode)"
                              : "karte/"s + name + ": 7 Zeichen würden umgewandelt");
    }
    const auto joined = [&](std::size_t count, const std::string& last) {
        std::string all;
        for (std::size_t i = 0; i < count; ++i)
            all += lines[i] + "\n";
        return all + last + "\n";
    };
    const std::string summary = "2376 Dateien würden umgewandelt, 0 unverändert, "
                                "24 übersprungen, 0 Fehler";
    Result r = Shell("velmo-umlaute fuer-velmo --pruefen karte 2>&1", root_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, joined(lines.size(), summary));
    r = Shell("VELMO_INTERRUPT_AFTER=1000 velmo-umlaute fuer-velmo --pruefen karte 2>&1", root_);
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_EQ(r.out, joined(1000, "abgebrochen: 990 von 2400 Dateien würden umgewandelt, "
                                  "die übrigen unverändert (0 Fehler)"));
    r = Shell("velmo-umlaute fuer-velmo --pruefen karte 2>/dev/null | cat", root_);
    std::string out;
    for (const std::string& line : lines)
        if (line.rfind("velmo-umlaute: ", 0) != 0)
            out += line + "\n";
    EXPECT_EQ(r.out, out);
    r = Shell("trap '' PIPE; { velmo-umlaute fuer-velmo --pruefen karte 2>/dev/null; "
              "echo $? >status; } | true; cat status",
              root_);
    EXPECT_EQ(r.out, "141\n");
}

// Scripts are read, decided on and staged on two threads at once; what is
// told comes in walk order all the same. A folder of many scripts of every
// kind, failures and notices among them: one thread and two give the same
// lines, the same status and the same files, converting and checking. A file
// with several names is converted under the one found first.
TEST_F(Folder, TwoThreadsTellWhatOneTells) {
    const std::string chunk = "\x1BLuaT\0\x19\x93\xE4"s;
    const std::string mixed = "-- \xE4\nx = \"\xE4\xB8\xAD \xC4\x85\"\n";
    auto build = [&](const fs::path& map) {
        for (int i = 0; i < 160; ++i) {
            const fs::path dir = map / ("teil" + std::to_string(i / 40));
            const fs::path script = dir / ("s" + std::to_string(100 + i) + ".lua");
            const std::string text = kSingle + std::string(static_cast<std::size_t>(i) * 211, '-');
            switch (i % 8) {
            case 0: // converted; the next is a second name of it
            case 6: // converted, a leftover of a killed run beside it
                Write(script, text);
                if (i % 8 == 6)
                    Write(dir / ("~s" + std::to_string(100 + i) + ".lua.1.velmo-tmp"), "rest");
                break;
            case 1: { // a second name of a script 1, 9 or 17 before: read at about
                      // the same time, or before it, on the other thread
                const int first = i - 1 - 8 * ((i / 8) % 3);
                fs::create_hard_link(map / ("teil" + std::to_string(first / 40)) /
                                         ("s" + std::to_string(100 + first) + ".lua"),
                                     script);
                break;
            }
            case 2:
                Write(script, kPairs); // nothing to do
                break;
            case 3: // read-only: an error
                Write(script, text);
                chmod(script.c_str(), 0444);
                break;
            case 4:
                Write(script, "-- UMLAUTE\r\n" + text);
                break;
            case 5:
                Write(script, mixed);
                break;
            default:
                Write(script, chunk);
            }
        }
    };
    for (const bool check : {false, true}) {
        SCOPED_TRACE(check ? "--pruefen" : "converting");
        Result runs[2];
        for (int threads : {1, 2}) {
            const fs::path dir = root_ / (std::to_string(threads) + (check ? "-pruefen" : ""));
            build(dir / "karte");
            runs[threads - 1] =
                Shell("VELMO_THREADS=" + std::to_string(threads) + " velmo-umlaute fuer-velmo " +
                          (check ? "--pruefen " : "") + "karte",
                      dir);
        }
        const Result& one = runs[0];
        const Result& two = runs[1];
        // Checking, a read-only script is one that would change.
        EXPECT_EQ(one.status, check ? 1 : 2) << one.err;
        EXPECT_EQ(two.status, one.status);
        EXPECT_EQ(two.out, one.out);
        EXPECT_EQ(two.err, one.err);
        EXPECT_EQ(std::count(one.out.begin(), one.out.end(), '\n'), check ? 80 : 60) << one.out;
        EXPECT_NE(one.err.find("karte/teil0/s101.lua: übersprungen, dieselbe Datei wie "
                               "karte/teil0/s100.lua"),
                  std::string::npos)
            << one.err;
        if (check)
            continue;
        EXPECT_NE(
            one.err.find("60 Dateien umgewandelt, 20 unverändert, 60 übersprungen, 20 Fehler"),
            std::string::npos)
            << one.err;
        for (int part = 0; part < 4; ++part) {
            const std::string teil = "karte/teil" + std::to_string(part);
            const fs::path a = root_ / "1" / teil, b = root_ / "2" / teil;
            EXPECT_EQ(Backups(b).size(), Backups(a).size());
            std::size_t scripts = 0;
            for (const auto& entry : fs::directory_iterator(a)) {
                const fs::path name = entry.path().filename();
                EXPECT_EQ(name.string().find("velmo-tmp"), std::string::npos) << name;
                if (name.extension() == ".lua") {
                    ++scripts;
                    EXPECT_EQ(Read(b / name), Read(a / name)) << teil << "/" << name;
                }
            }
            EXPECT_EQ(scripts, 40u);
        }
    }
}

TEST_F(Folder, ReadOnlyAndUnreadableFilesFailAloneWhileTheOthersConvert) {
    const fs::path map = root_ / "karte";
    for (const char* name : {"1.lua", "2-nurlesen.lua", "3-gesperrt.lua", "4.lua"})
        Write(map / name, kSingle);
    // Without a write permission for its owner a script is read-only, also for root.
    chmod((map / "2-nurlesen.lua").c_str(), 0444);
    chmod((map / "3-gesperrt.lua").c_str(), 0000);
    std::vector<std::string> command = {VELMO_UMLAUTE_PROGRAM, "fuer-velmo", "karte"};
    if (geteuid() == 0) {
        // Root reads every file: run as nobody, who owns the folder, to meet a file it cannot read.
        Spawn({"chown", "-R", "65534:65534", root_.string()}, "/");
        command.insert(command.begin(),
                       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        chmod(root_.c_str(), 0755);
    }
    const Result r = Spawn(command, root_);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(Read(map / "1.lua"), kPairs);
    EXPECT_EQ(Read(map / "4.lua"), kPairs);
    EXPECT_EQ(Read(map / "2-nurlesen.lua"), kSingle);
    // The path the user knows and the system's text; no Windows numbers.
    EXPECT_NE(r.err.find("karte/2-nurlesen.lua: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("karte/3-gesperrt.lua: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Fehler 5"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 Dateien umgewandelt, 0 unverändert, 0 übersprungen, 2 Fehler"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Backups(map).size(), 2u);
}

TEST_F(Folder, UnicodeFolderAndFileNames) {
    const fs::path dir = root_ / "Kärtchen" / "Ελληνικά" / "日本語";
    Write(dir / "Grüße.lua", kSingle);
    const Result r = Umlaute({"fuer-velmo", "Kärtchen"}, root_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(dir / "Grüße.lua"), kPairs);
    EXPECT_EQ(r.out, "Kärtchen/Ελληνικά/日本語/Grüße.lua: 7 Zeichen umgewandelt\n");
    ASSERT_EQ(Backups(dir).size(), 1u);
    EXPECT_EQ(Backups(dir)[0].rfind("Grüße_lua_", 0), 0u);
}

TEST_F(Folder, FilterPassesEveryOtherByteThrough) {
    const std::string input = "a\0\r\n\xE4\x81\x8D\x8F\x90\x9D\xFF\r\xDC"s;
    const Result r = Umlaute({"fuer-velmo", "-"}, root_, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UmlauteToTwoCharacterForm(input));
    EXPECT_EQ(Umlaute({"fuer-mich", "-"}, root_, r.out).out, input);
    EXPECT_EQ(Umlaute({"fuer-velmo", "--pruefen", "-"}, root_, input).status, 1);
    // A compiled chunk goes through unchanged, with a notice; never an error.
    const std::string chunk = "\x1BLua\xE4"s;
    const Result passed = Umlaute({"fuer-velmo", "-"}, root_, chunk);
    EXPECT_EQ(passed.status, 0);
    EXPECT_EQ(passed.out, chunk);
    EXPECT_NE(passed.err.find("Bytecode"), std::string::npos);
}

// An input that never ends, read by a reader that stops: with --trotzdem the
// filter converts as the bytes come, and the closed pipe ends it at once and
// quietly, also where SIGPIPE is ignored (then by the failed write, with the
// status a shell gives a program SIGPIPE ended).
TEST_F(Folder, FilterOnEndlessInputEndsWithItsReader) {
    const std::string line = "Gr\xFC\xDF"
                             "e \xC4\x85\n";
    std::string expected;
    while (expected.size() < 300000)
        expected += UmlauteToTwoCharacterForm(line);
    expected.resize(300000);
    for (const char* sigpipe : {"", "trap '' PIPE; "}) {
        SCOPED_TRACE(sigpipe);
        const Result r = Shell(std::string(sigpipe) + "yes '" + line.substr(0, line.size() - 1) +
                                   "' 2>/dev/null | "
                                   "{ velmo-umlaute fuer-velmo --trotzdem -; echo $? >status; } | "
                                   "head -c 300000 >out",
                               root_);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(Read(root_ / "out") == expected) << Read(root_ / "out").size() << " bytes";
        EXPECT_EQ(Read(root_ / "status"), "141\n");
    }
}

// The program's peak resident memory (KiB) with `times` copies of `piece` on
// its standard input through a pipe and its output thrown away; -1 when it
// failed (or ended with another status than `expectedStatus`, where given).
long PeakMemory(const std::vector<std::string>& arguments, const std::string& piece,
                std::size_t times, const fs::path& dir, int expectedStatus = -1) {
    std::signal(SIGPIPE, SIG_IGN); // a program that ends early fails the test, not ends it
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    const fs::path err = dir / "peak.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv = {VELMO_PEAK_MEMORY, VELMO_UMLAUTE_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[0]);
    bool written = spawned == 0;
    for (std::size_t i = 0; written && i < times; ++i)
        written =
            write(pipeEnds[1], piece.data(), piece.size()) == static_cast<ssize_t>(piece.size());
    close(pipeEnds[1]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !written || !WIFEXITED(status) ||
        (expectedStatus < 0 ? WEXITSTATUS(status) > 1 : WEXITSTATUS(status) != expectedStatus))
        return -1;
    const std::string told = Read(err);
    const std::size_t lastLine = told.rfind('\n', told.size() - 2);
    return lastLine == std::string::npos ? -1 : std::stol(told.substr(lastLine + 1));
}

// 64 MiB through the filter, each way it reads: its memory stays far below
// the input's size (reading all of it would need twice that and more). The
// bound leaves room for the sanitizers' own memory.
TEST_F(Folder, FilterMemoryDoesNotGrowWithTheInput) {
    std::string single = kSingle;
    while (single.size() < (1u << 20))
        single += kSingle;
    single.resize(1u << 20);
    std::string utf8 = "\xDF\x80"; // well-formed UTF-8 whose NKo pair waits for its answer
    while (utf8.size() < (1u << 20))
        utf8 += "\xC4\x85 \xE4\xB8\xAD\n";
    utf8.resize(1u << 20);
    const std::string pairs = UmlauteToTwoCharacterForm(single).substr(0, 1u << 20);
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const std::string& piece;
    } cases[] = {
        {"--trotzdem", {"fuer-velmo", "--trotzdem", "-"}, single},
        {"--trotzdem, held back as UTF-8", {"fuer-velmo", "--trotzdem", "-"}, utf8},
        {"--trotzdem, back", {"fuer-mich", "--trotzdem", "-"}, pairs},
        {"--pruefen", {"fuer-velmo", "--pruefen", "-"}, single},
        {"spooled", {"fuer-velmo", "-"}, single},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const long peak = PeakMemory(c.arguments, c.piece, 64, root_);
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, 64 * 1024) << peak << " KiB";
    }
}

// A script far bigger than what is held whole is converted a piece at a time:
// exactly as a small one, the backup holding its old bytes, and in memory far
// below its size (holding it whole would take twice that). A guard word in
// its very last bytes still leaves it alone.
TEST_F(Folder, BigScriptsConvertInLittleMemory) {
    // The sanitizers keep freed memory for a while to find late uses; here
    // that would be counted as the program's.
    struct QuarantineSmall {
        std::string before = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
        QuarantineSmall() {
            setenv("ASAN_OPTIONS",
                   (before + (before.empty() ? "" : ":") + "quarantine_size_mb=1").c_str(), 1);
        }
        ~QuarantineSmall() {
            if (before.empty())
                unsetenv("ASAN_OPTIONS");
            else
                setenv("ASAN_OPTIONS", before.c_str(), 1);
        }
    } quarantineSmall;
    std::string single;
    while (single.size() < (40u << 20))
        single += kSingle + "-- za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xE4\xB8\xAD\r\n";
    const std::string pairs = UmlauteToTwoCharacterForm(single);
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string before, after;
        bool backup;
        int status = 0;
    } cases[] = {
        {"fuer-velmo", {"fuer-velmo"}, single, pairs, true},
        {"fuer-mich", {"fuer-mich"}, pairs, UmlauteToSingleCharacter(pairs), true},
        {"guard word last", {"fuer-velmo"}, single + "-- UMLAUTE", single + "-- UMLAUTE", false},
        {"already converted", {"fuer-velmo"}, pairs, pairs, false},
        {"compiled chunk", {"fuer-velmo"}, "\x1BLua\x54"s + single, "\x1BLua\x54"s + single, false},
        {"--pruefen", {"fuer-velmo", "--pruefen"}, single, single, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = root_ / "gross";
        fs::remove_all(dir);
        fs::create_directories(dir);
        Write(dir / "karte.lua", c.before);
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back((dir / "karte.lua").string());
        const long peak = PeakMemory(arguments, "", 0, root_, c.status);
        EXPECT_GT(peak, 0);
        EXPECT_LT(peak, 32 * 1024) << peak << " KiB";
        EXPECT_TRUE(Read(dir / "karte.lua") == c.after);
        std::size_t backups = 0;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".bak") {
                ++backups;
                EXPECT_TRUE(Read(entry.path()) == c.before);
            } else {
                EXPECT_EQ(entry.path().filename(), "karte.lua");
            }
        EXPECT_EQ(backups, c.backup ? 1u : 0u);
    }
}

// Without --trotzdem nothing goes out before the end: a guard word in the
// last bytes, long after what is held in memory, leaves all of it unchanged;
// without it all of it is converted.
TEST_F(Folder, FilterSpoolsAnInputItMustSeeWhole) {
    std::string text;
    while (text.size() < (20u << 20))
        text += kSingle;
    const Result guarded = Umlaute({"fuer-velmo", "-"}, root_, text + "-- UMLAUTE");
    EXPECT_EQ(guarded.status, 0);
    EXPECT_TRUE(guarded.out == text + "-- UMLAUTE") << guarded.out.size() << " bytes";
    EXPECT_NE(guarded.err.find("unverändert durchgereicht"), std::string::npos) << guarded.err;
    const Result converted = Umlaute({"fuer-velmo", "-"}, root_, text + "-- Ende");
    EXPECT_EQ(converted.status, 0);
    EXPECT_TRUE(converted.out == UmlauteToTwoCharacterForm(text + "-- Ende"))
        << converted.out.size() << " bytes";
    EXPECT_EQ(converted.err, "");
}

// For text made only of ASCII and the seven umlauts, the two directions are
// exactly iconv's conversions between Windows-1252 and UTF-8.
TEST_F(Folder, AgreesWithIconvOnAsciiAndUmlauts) {
    const std::string umlauts = "\xE4\xF6\xFC\xDF\xC4\xD6\xDC";
    std::mt19937 random(20261210);
    for (std::size_t length : {1u, 31u, 32u, 33u, 65u, 70000u}) {
        for (int density : {2, 50, 100}) {
            std::string text;
            for (std::size_t i = 0; i < length; ++i)
                text += static_cast<int>(random() % 100) < density
                            ? umlauts[random() % umlauts.size()]
                            : static_cast<char>(9 + random() % 118);
            SCOPED_TRACE(std::to_string(length) + " bytes, " + std::to_string(density) + " %");
            Write(root_ / "in.txt", text);
            const std::string utf8 =
                Spawn({"iconv", "-f", "CP1252", "-t", "UTF-8", "in.txt"}, root_).out;
            EXPECT_EQ(Umlaute({"fuer-velmo", "-"}, root_, text).out, utf8);
            Write(root_ / "in.txt", utf8);
            EXPECT_EQ(Spawn({"iconv", "-f", "UTF-8", "-t", "CP1252", "in.txt"}, root_).out, text);
            EXPECT_EQ(Umlaute({"fuer-mich", "-"}, root_, utf8).out, text);
        }
    }
}

// The README's git examples, as written there: the filter keeps the scripts in
// the repository in Velmo's form and in the working folder in the scripter's,
// and the pre-commit hook refuses a commit of a script still to be converted.
TEST_F(Folder, GitFilterAndPreCommitHookFromTheReadme) {
    const auto git = [&](const std::string& command) {
        const Result r = Shell("git -c user.name=Test -c user.email=t@example.org "
                               "-c init.defaultBranch=main " +
                                   command,
                               root_ / "repo");
        EXPECT_EQ(r.status, 0) << command << "\n" << r.out << r.err;
        return r.out;
    };
    fs::create_directories(root_ / "repo");
    git("init -q");
    git("config filter.velmo.clean 'velmo-umlaute fuer-velmo --trotzdem -'");
    git("config filter.velmo.smudge 'velmo-umlaute fuer-mich --trotzdem -'");
    git("config filter.velmo.required true");
    EXPECT_EQ(Shell("echo '*.lua filter=velmo' >> .gitattributes", root_ / "repo").status, 0);
    // --help shows the same clean filter.
    EXPECT_NE(
        Umlaute({"--help"}, root_)
            .out.find("git config filter.velmo.clean \"velmo-umlaute fuer-velmo --trotzdem -\""),
        std::string::npos);
    Write(root_ / "repo" / "karte.lua", kSingle);
    git("add .gitattributes karte.lua");
    git("commit -q -m Karte");
    EXPECT_EQ(git("show HEAD:karte.lua"), kPairs);
    fs::remove(root_ / "repo" / "karte.lua");
    git("checkout -- karte.lua");
    EXPECT_EQ(Read(root_ / "repo" / "karte.lua"), kSingle);

    // The hook from the README, in a repository without the filter.
    fs::create_directories(root_ / "hooked");
    Write(root_ / "hooked" / "x", "");
    const auto inHooked = [&](const std::string& command) {
        return Shell("git -c user.name=Test -c user.email=t@example.org " + command,
                     root_ / "hooked");
    };
    inHooked("init -q");
    Write(root_ / "hooked" / ".git" / "hooks" / "pre-commit",
          "#!/bin/sh\n"
          "git diff --cached --name-only --diff-filter=ACM -z -- '*.lua' |\n"
          "  xargs -0 -r velmo-umlaute fuer-velmo --pruefen --\n");
    chmod((root_ / "hooked" / ".git" / "hooks" / "pre-commit").c_str(), 0755);
    Write(root_ / "hooked" / "karte.lua", kSingle);
    inHooked("add karte.lua");
    const Result refused = inHooked("commit -q -m roh");
    EXPECT_NE(refused.status, 0);
    // git hands a hook's output to its own stderr.
    EXPECT_NE((refused.out + refused.err).find("karte.lua: 7 Zeichen würden umgewandelt"),
              std::string::npos)
        << refused.out << refused.err;
    EXPECT_EQ(Umlaute({"fuer-velmo", "karte.lua"}, root_ / "hooked").status, 0);
    inHooked("add karte.lua");
    EXPECT_EQ(inHooked("commit -q -m fertig").status, 0);
}

} // namespace
} // namespace velmo
