// The companion against what other programs and other users do meanwhile:
// killed runs' leftovers, two runs at once, a full and a read-only disk, a
// script written while it is converted, names swapped after the walk or while
// the temporary file lives, permissions the user does not have, ACL entries and
// extended attributes, one file under two names. The real program or the real
// file services on real file systems.
#include "cli/Batch.h"
#include "convert/ScriptFile.h"
#include "platform/PosixFiles.h"
#include "tests/cli/ProgramRun.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <set>
#include <sstream>

namespace velmo {
namespace {

using namespace test;
namespace fs = std::filesystem;

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The program as the user nobody, who may write the folder but not what root owns.
std::vector<std::string> AsNobody(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {VELMO_UMLAUTE_PROGRAM});
    arguments.insert(arguments.begin(),
                     {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return arguments;
}

struct stat StatOf(const fs::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
}

std::string Acl(const fs::path& path) {
    return Spawn({"getfacl", "-cp", path.string()}, "/").out;
}

// ---- leftovers and two runs at once

// A run killed with SIGKILL (no chance to clean up) leaves the temporary files
// of the round it was staging; the next run removes each script's own, says
// so, and converts every script.
TEST_F(Folder, KilledRunsLeftoversGoWithTheNextRun) {
    const struct {
        const char* name;
        std::size_t size; // of each script
        int scripts;
        const char* killAfter;
    } cases[] = {
        {"held whole", 1u << 20, 40, "35"},
        {"in pieces", 6u << 20, 14, "12"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string big;
        while (big.size() < c.size)
            big += "-- Gr\xFC\xDF"
                   "e, gro\xDF genug f\xFCr zwei Runden\r\n";
        const fs::path map = root_ / c.name;
        for (int i = 0; i < c.scripts; ++i)
            Write(map / ("s" + std::to_string(100 + i) + ".lua"), big);
        // Killed twice: the second run removes the first one's stray backups
        // of what it stages and leaves its own.
        for (int kill = 0; kill < 2; ++kill) {
            const Result killed = Shell("VELMO_INTERRUPT_AFTER="s + c.killAfter +
                                            ":9 velmo-umlaute fuer-velmo '" + c.name + "'",
                                        root_);
            EXPECT_EQ(killed.status, 128 + SIGKILL);
        }
        const std::size_t left = Temporaries(map).size();
        EXPECT_GT(left, 0u) << "the kill came too late to show anything";
        // Backups by link of scripts the killed runs never replaced: names of
        // the file the script still is.
        std::size_t strays = 0;
        for (const std::string& backup : Backups(map)) {
            const std::string script = backup.substr(0, backup.find('_')) + ".lua";
            strays += fs::equivalent(map / backup, map / script);
        }
        EXPECT_GT(strays, 0u);

        const Result next = Umlaute({"fuer-velmo", c.name}, root_);
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_TRUE(Temporaries(map).empty());
        EXPECT_EQ(Count(next.err, ": 1 Zwischendatei eines abgebrochenen Laufs entfernt"), left)
            << next.err;
        EXPECT_EQ(Count(next.err, ": 1 Sicherung eines abgebrochenen Laufs entfernt"), strays)
            << next.err;
        // One backup a script, holding its old text.
        EXPECT_EQ(Backups(map).size(), static_cast<std::size_t>(c.scripts));
        for (const std::string& backup : Backups(map))
            EXPECT_TRUE(Read(map / backup) == big) << backup;
        for (int i = 0; i < c.scripts; ++i)
            EXPECT_TRUE(Read(map / ("s" + std::to_string(100 + i) + ".lua")) ==
                        UmlauteToTwoCharacterForm(big));
    }
}

// A backup by link that a killed run left (a name of the very file the script
// still is) goes with the next conversion that makes a backup of its own;
// what could be anything else stays.
TEST_F(Folder, StrayBackupsOfKilledRunsGoOnlyWhereProven) {
    const std::string stray = "a_lua_01_02_2026_03_04_05.bak";
    const struct {
        const char* name;
        std::vector<std::string> options;
        bool copy;     // the old backup is a copy: a file of its own
        bool liveTemp; // another running program holds a temporary file of a.lua
        bool strayGoes;
    } cases[] = {
        {"a link, the next run makes a backup", {}, false, false, true},
        {"a link, the next run makes none: it is the only old text",
         {"--ohne-sicherung"},
         false,
         false,
         false},
        {"a copy", {}, true, false, false},
        {"a link while another run converts the script", {}, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ / "k");
        Write(root_ / "k" / "a.lua", kSingle);
        if (c.copy)
            Write(root_ / "k" / stray, kSingle);
        else
            fs::create_hard_link(root_ / "k" / "a.lua", root_ / "k" / stray);
        int live = -1;
        if (c.liveTemp) {
            Write(root_ / "k" / "~a.lua.1.velmo-tmp", "lebt");
            live = open((root_ / "k" / "~a.lua.1.velmo-tmp").c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(flock(live, LOCK_EX), 0);
        }
        std::vector<std::string> arguments = {"fuer-velmo"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back("k");
        const Result r = Umlaute(arguments, root_);
        if (live >= 0)
            close(live);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Read(root_ / "k" / "a.lua"), kPairs);
        EXPECT_EQ(fs::exists(root_ / "k" / stray), !c.strayGoes);
        if (!c.strayGoes) {
            EXPECT_EQ(Read(root_ / "k" / stray), kSingle);
        }
        EXPECT_EQ(Count(r.err, "k/a.lua: 1 Sicherung eines abgebrochenen Laufs entfernt"),
                  c.strayGoes ? 1u : 0u)
            << r.err;
        const bool ownBackup = c.options.empty();
        EXPECT_EQ(Backups(root_ / "k").size(), (ownBackup ? 1u : 0u) + (c.strayGoes ? 0u : 1u));
    }
}

// A temporary file another running program holds (its lock) stays, with its
// bytes; leftovers beside it go; the script is converted.
TEST_F(Folder, ALiveTemporaryOfAnotherRunStays) {
    Write(root_ / "a.lua", kSingle);
    Write(root_ / "~a.lua.1.velmo-tmp", "lebt");
    Write(root_ / "~a.lua.2.velmo-tmp", "rest");
    Write(root_ / "~a.lua.3.velmo-tmp", "rest");
    const int live = open((root_ / "~a.lua.1.velmo-tmp").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    const Result r = Umlaute({"fuer-velmo", "a.lua"}, root_);
    close(live);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(root_ / "a.lua"), kPairs);
    EXPECT_EQ(Temporaries(root_), std::vector<std::string>{"~a.lua.1.velmo-tmp"});
    EXPECT_EQ(Read(root_ / "~a.lua.1.velmo-tmp"), "lebt");
    EXPECT_NE(r.err.find("a.lua: 2 Zwischendateien abgebrochener Läufe entfernt"),
              std::string::npos)
        << r.err;
}

// Two runs on one tree at once, started together: every script ends converted
// once, no temporary file stays, every backup holds a script's old text, and a
// run that lost a race for a script says so (status 2) instead of converting
// what the other one wrote.
TEST_F(Folder, TwoRunsAtOnceOnOneTree) {
    const fs::path map = root_ / "karte";
    std::vector<std::string> texts;
    for (int i = 0; i < 300; ++i) {
        texts.push_back(kSingle + std::string(static_cast<std::size_t>(i) * 97, 'x') + "\xE4\n");
        Write(map / ("s" + std::to_string(i) + ".lua"), texts.back());
    }
    const std::string both = "velmo-umlaute fuer-velmo karte >/dev/null 2>err1 & p1=$!; "
                             "velmo-umlaute fuer-velmo karte >/dev/null 2>err2 & p2=$!; "
                             "wait $p1; s1=$?; wait $p2; s2=$?; echo $s1 $s2";
    const Result r = Shell(both, root_);
    std::istringstream statuses(r.out);
    for (const std::string& err : {Read(root_ / "err1"), Read(root_ / "err2")}) {
        int status = -1;
        statuses >> status;
        std::istringstream lines(err);
        std::size_t lost = 0;
        for (std::string line; std::getline(lines, line);) {
            // The other run's backup is a second name of the script for a while.
            if (line.find("wurde während des Umwandelns") != std::string::npos) {
                ++lost;
            } else if (line.find("weiteren Namen") == std::string::npos) {
                EXPECT_NE(line.find(" umgewandelt, "), std::string::npos) << line;
            }
        }
        EXPECT_EQ(status, lost ? 2 : 0) << r.out << err;
    }
    EXPECT_TRUE(Temporaries(map).empty());
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(Read(map / ("s" + std::to_string(i) + ".lua")),
                  UmlauteToTwoCharacterForm(texts[static_cast<std::size_t>(i)]));
    for (const std::string& backup : Backups(map)) {
        const std::string script = backup.substr(0, backup.find("_lua_")) + ".lua";
        EXPECT_EQ(Read(map / backup), texts[std::stoul(script.substr(1))]) << backup;
    }
}

// ---- full and read-only disks (a small tmpfs, mounted where root may)

// A file system of the test's own at root_/disk, unmounted again at the end.
class MountedDisk : public Folder {
  protected:
    void SetUp() override {
        Folder::SetUp();
        disk_ = root_ / "disk";
        fs::create_directories(disk_);
    }
    void TearDown() override {
        if (mounted_)
            umount2(disk_.c_str(), MNT_DETACH);
        Folder::TearDown();
    }
    fs::path disk_;
    bool mounted_ = false;
};

class SmallDisk : public MountedDisk {
  protected:
    void SetUp() override {
        MountedDisk::SetUp();
        if (geteuid() != 0 || mount("velmo", disk_.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "needs root and a tmpfs mount";
        mounted_ = true;
    }
};

TEST_F(SmallDisk, FullDiskAndReadOnlyDiskLeaveNothingBehind) {
    // 40 KiB of umlauts become 80 KiB: more than the disk holds.
    const std::string script(40u << 10, '\xE4');
    Write(disk_ / "voll.lua", script);
    const Result full = Umlaute({"fuer-velmo", "disk"}, root_);
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("disk/voll.lua: Datenträger voll: "), std::string::npos) << full.err;
    EXPECT_EQ(Read(disk_ / "voll.lua"), script);
    EXPECT_EQ(fs::directory_iterator(disk_)->path().filename(), "voll.lua");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk_), fs::directory_iterator()), 1);

    fs::remove(disk_ / "voll.lua");
    Write(disk_ / "nurlesen.lua", kSingle);
    ASSERT_EQ(mount(nullptr, disk_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const Result readOnly = Umlaute({"fuer-velmo", "disk"}, root_);
    EXPECT_EQ(readOnly.status, 2);
    EXPECT_NE(readOnly.err.find("disk/nurlesen.lua: "), std::string::npos) << readOnly.err;
    EXPECT_EQ(Read(disk_ / "nurlesen.lua"), kSingle);
    EXPECT_EQ(std::distance(fs::directory_iterator(disk_), fs::directory_iterator()), 1);
}

// ---- permissions as the user has them; what the replaced script keeps

class AsRoot : public Folder {
  protected:
    void SetUp() override {
        Folder::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root, to run the program as another user and give files owners";
        chmod(root_.c_str(), 0777); // a folder nobody may write
    }
};

// Scripts the running user may not write are refused like read-only ones,
// whatever grants or takes the permission; nothing of theirs changes.
TEST_F(AsRoot, NotWritableForTheRunningUserIsRefused) {
    struct Case {
        const char* name;
        const char* setup; // shell, on the file "$f"
    } cases[] = {
        {"owned by root, 0644", "chmod 0644 \"$f\""},
        {"writable for all but denied by an ACL entry",
         "chmod 0666 \"$f\" && setfacl -m u:nobody:r-- \"$f\""},
        {"writable for its group only, nobody not in it", "chmod 0664 \"$f\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path script = root_ / "fremd.lua";
        Write(script, kSingle);
        ASSERT_EQ(Shell(std::string("f=fremd.lua; ") + c.setup, root_).status, 0);
        const struct stat before = StatOf(script);
        const std::string acl = Acl(script);
        const Result r = Spawn(AsNobody({"fuer-velmo", "fremd.lua"}), root_);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("fremd.lua: "), std::string::npos) << r.err;
        const struct stat after = StatOf(script);
        EXPECT_EQ(Read(script), kSingle);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, 0u);
        EXPECT_EQ(Acl(script), acl);
        EXPECT_TRUE(Backups(root_).empty());
        EXPECT_TRUE(Temporaries(root_).empty());
        fs::remove(script);
    }
}

// --pruefen is the conversion's dry run: a script the conversion refuses is
// named by the check with the conversion's own line and status, and the check
// changes nothing; what the conversion converts or skips, the check tells so.
TEST_F(AsRoot, TheCheckGivesTheConversionsVerdicts) {
    const struct {
        const char* name;
        const char* setup; // shell in the script's folder, on the file "$f"
        bool asNobody;
        int checkStatus, status;
    } cases[] = {
        {"read-only", "chmod 0444 \"$f\"", false, 2, 2},
        {"not writable for nobody", "chmod 0644 \"$f\"", true, 2, 2},
        {"denied by an ACL entry", "chmod 0666 \"$f\" && setfacl -m u:nobody:r-- \"$f\"", true, 2,
         2},
        {"root's, writable for all", "chmod 0666 \"$f\"", true, 2, 2},
        {"nobody's, in root's group", "chmod 0666 \"$f\" && chown 65534:0 \"$f\"", true, 2, 2},
        {"in a folder nobody may not write", "chown 65534:65534 \"$f\" && chmod 0755 .", true, 2,
         2},
        {"a compiled chunk", "printf '\\033Lua\\124\\000\\344' > \"$f\"", false, 0, 0},
        {"nobody's own", "chown 65534:65534 \"$f\"", true, 1, 0},
        {"root's own", "chmod 0600 \"$f\"", false, 1, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = root_ / std::to_string(++n);
        Write(dir / "karte.lua", kSingle);
        ASSERT_EQ(Shell(std::string("chmod 0777 . && f=karte.lua && ") + c.setup, dir).status, 0);
        const std::string before = Read(dir / "karte.lua");
        const auto run = [&](bool check) {
            std::vector<std::string> arguments = {"fuer-velmo", "karte.lua"};
            if (check)
                arguments.insert(arguments.begin() + 1, "--pruefen");
            if (c.asNobody)
                return Spawn(AsNobody(arguments), dir);
            arguments.insert(arguments.begin(), VELMO_UMLAUTE_PROGRAM);
            return Spawn(arguments, dir);
        };
        const Result check = run(true);
        EXPECT_EQ(check.status, c.checkStatus) << check.err;
        EXPECT_EQ(Read(dir / "karte.lua"), before);
        EXPECT_TRUE(Backups(dir).empty());
        EXPECT_TRUE(Temporaries(dir).empty());
        const Result real = run(false);
        EXPECT_EQ(real.status, c.status) << real.err;
        if (c.status != 0 || c.checkStatus == 0) {
            // Refused or skipped: the same line on standard error, nothing on
            // standard output.
            const auto firstLine = [](const std::string& text) {
                return text.substr(0, text.find('\n'));
            };
            EXPECT_EQ(firstLine(check.err), firstLine(real.err));
            EXPECT_EQ(firstLine(check.err).rfind("velmo-umlaute: karte.lua: ", 0), 0u) << check.err;
            EXPECT_EQ(check.out, "");
        }
    }
}

// What the replaced script keeps: its ACL entries (the group bits, being the
// ACL's mask, not widened), its extended attributes, owner and group; set-id
// bits only with the owner they were set for.
TEST_F(AsRoot, TheReplacedScriptKeepsItsPermissionsAndNeverGainsOne) {
    const fs::path script = root_ / "acl.lua";
    Write(script, kSingle);
    ASSERT_EQ(Shell("chown 65534:65534 acl.lua && chmod 0640 acl.lua && "
                    "setfacl -m u:daemon:rw-,g:adm:r--,m::r-- acl.lua && "
                    "setfattr -n user.velmo.karte -v insel acl.lua",
                    root_)
                  .status,
              0);
    const struct stat before = StatOf(script);
    const std::string acl = Acl(script);
    const Result r = Umlaute({"fuer-velmo", "acl.lua"}, root_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(script), kPairs);
    const struct stat after = StatOf(script);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, kNobody);
    EXPECT_EQ(after.st_gid, kNobody);
    EXPECT_EQ(Acl(script), acl);
    char value[16] = {};
    EXPECT_EQ(getxattr(script.c_str(), "user.velmo.karte", value, sizeof value), 5);
    EXPECT_STREQ(value, "insel");

    // Writable for all and set-user-ID for root: converted by nobody, it would
    // belong to nobody, so it is refused and keeps owner, bit and bytes.
    const fs::path setuid = root_ / "setuid.lua";
    Write(setuid, kSingle);
    chmod(setuid.c_str(), 04666);
    const Result asNobody = Spawn(AsNobody({"fuer-velmo", "setuid.lua"}), root_);
    EXPECT_EQ(asNobody.status, 2) << asNobody.err;
    EXPECT_EQ(Read(setuid), kSingle);
    EXPECT_EQ(StatOf(setuid).st_uid, 0u);
    EXPECT_EQ(StatOf(setuid).st_mode & 07777, 04666u);
}

// The temporary-file race: while root converts scripts in a folder another
// user may write, that user renames a symbolic link over each temporary file
// the moment it appears (inotify), pointing at a root-owned private file. That
// file never changes owner, mode or bytes, and no script ends up as the link.
TEST_F(AsRoot, ALinkSwappedOverTheTemporaryFileChangesNothingOutside) {
    const fs::path victim = root_ / "geheim";
    Write(victim, "nur root");
    chmod(victim.c_str(), 0600);
    const fs::path map = root_ / "karte";
    fs::create_directories(map);
    chmod(map.c_str(), 0777);
    for (int i = 0; i < 20; ++i)
        Write(map / ("s" + std::to_string(i) + ".lua"), kSingle);
    chown(root_.c_str(), 0, 0);

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t attacker = fork();
    if (attacker == 0) {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(1);
        const int watch = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(watch, map.c_str(), IN_CREATE);
        if (write(ready[1], "x", 1) != 1)
            _exit(1);
        alignas(inotify_event) char events[4096];
        for (int swapped = 0;;) {
            const ssize_t got = read(watch, events, sizeof events);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const std::string name = event->len ? event->name : "";
                if (name.find(".velmo-tmp") == std::string::npos)
                    continue;
                const std::string link = map / ("x" + std::to_string(++swapped));
                if (symlink(victim.c_str(), link.c_str()) == 0)
                    rename(link.c_str(), (map / name).c_str());
            }
        }
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const Result r = Umlaute({"fuer-velmo", "--ohne-sicherung", "karte"}, root_);
    kill(attacker, SIGKILL);
    waitpid(attacker, nullptr, 0);
    close(ready[0]);
    close(ready[1]);

    const struct stat secret = StatOf(victim);
    EXPECT_EQ(secret.st_uid, 0u);
    EXPECT_EQ(secret.st_mode & 07777, 0600u);
    EXPECT_EQ(Read(victim), "nur root");
    std::size_t converted = 0;
    for (int i = 0; i < 20; ++i) {
        const fs::path script = map / ("s" + std::to_string(i) + ".lua");
        ASSERT_TRUE(S_ISREG(StatOf(script).st_mode)) << script;
        const std::string text = Read(script);
        EXPECT_TRUE(text == kSingle || text == kPairs) << script;
        converted += text == kPairs;
    }
    // Every script not converted is an error of the run, told of the script.
    EXPECT_EQ(Count(r.err, ".lua: wurde während des Umwandelns"), 20 - converted)
        << r.err << r.out << Spawn({"ls", "-la", map.string()}, "/").out;
    EXPECT_EQ(r.status, converted == 20 ? 0 : 2) << r.err;
}

// ---- one file, two names

TEST_F(Folder, OneFileUnderTwoNamesIsConvertedOnce) {
    Write(root_ / "sub" / "a.lua", kSingle);
    fs::create_hard_link(root_ / "sub" / "a.lua", root_ / "sub" / "b.lua");
    const Result r = Umlaute({"fuer-velmo", "sub/a.lua", "."}, root_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read(root_ / "sub" / "a.lua"), kPairs);
    EXPECT_EQ(Read(root_ / "sub" / "b.lua"), kSingle);
    EXPECT_EQ(Backups(root_ / "sub").size(), 1u);
    EXPECT_EQ(r.out, "sub/a.lua: 7 Zeichen umgewandelt\n");
    EXPECT_NE(r.err.find("sub/a.lua: hat 1 weiteren Namen (harte Verknüpfung), der den alten "
                         "Text behält"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("./sub/b.lua: übersprungen, dieselbe Datei wie sub/a.lua"),
              std::string::npos)
        << r.err;
}

// ---- names swapped after the walk, files written while converted

// A reporter that lets a test act between two scripts: after the walk has
// found them all and before the next one is opened.
class Between final : public cli::Reporter {
  public:
    explicit Between(std::function<void(std::size_t done)> act) : act_(std::move(act)) {}
    void Changed(const std::string& line) override { out += line + "\n"; }
    void Notice(const std::string& line) override { err += line + "\n"; }
    void Failure(const std::string& line) override { err += line + "\n"; }
    void Progress(std::size_t done, std::size_t) override { act_(done); }
    void Summary(const std::string& line) override { err += line + "\n"; }
    std::string out, err;

  private:
    std::function<void(std::size_t)> act_;
};

TEST_F(Folder, AFifoOrLinkSwappedInAfterTheWalkIsSkipped) {
    for (const char* name : {"1.lua", "2-fifo.lua", "3-link.lua", "4.lua"})
        Write(root_ / name, kSingle);
    Between reporter([&](std::size_t done) {
        if (done != 1)
            return;
        fs::remove(root_ / "2-fifo.lua");
        mkfifo((root_ / "2-fifo.lua").c_str(), 0644);
        fs::remove(root_ / "3-link.lua");
        fs::create_symlink("1.lua", root_ / "3-link.lua");
    });
    PosixFiles files;
    cli::Options options;
    options.paths = {root_.string()};
    // A FIFO opened to read would wait for a writer for ever: the run must end.
    EXPECT_EQ(cli::RunBatch(files, files, options, reporter), cli::kDone) << reporter.err;
    EXPECT_NE(reporter.err.find("2-fifo.lua: übersprungen, keine gewöhnliche Datei"),
              std::string::npos)
        << reporter.err;
    EXPECT_NE(reporter.err.find("3-link.lua: übersprungen, symbolische Verknüpfung"),
              std::string::npos)
        << reporter.err;
    EXPECT_TRUE(fs::is_symlink(root_ / "3-link.lua"));
    EXPECT_EQ(Read(root_ / "4.lua"), kPairs);
}

// Another program saves scripts atomically (a new file renamed over the old)
// while a run goes, and its new file gets an inode number a file the run read
// had: freed by this run's own commit round (without backups), or by that
// program's save of the script read first. Only while a number cannot have
// gone to another file may two names be "the same file": the saved script is
// converted like any other, never skipped as another name of the first. The
// reuse is made, not waited for: the helper process makes files until the
// file system gives it one of the freed numbers.
//
// On a small ext4 file system of its own, loop-mounted: with a journal, ext4
// gives a new file the lowest free inode number of its group, so the reuse
// comes at once (the root file system may hold freed numbers back a while).
class Ext4Disk : public MountedDisk {
  protected:
    void SetUp() override {
        MountedDisk::SetUp();
        const std::string image = (root_ / "disk.img").string();
        if (geteuid() != 0 || Spawn({"truncate", "-s", "32M", image}, "/").status != 0 ||
            Spawn({"mkfs.ext4", "-q", "-F", "-N", "8192", image}, "/").status != 0 ||
            Spawn({"mount", "-o", "loop", image, disk_.string()}, "/").status != 0)
            GTEST_SKIP() << "needs root and a loop-mounted ext4 file system";
        mounted_ = true;
    }
};

TEST_F(Ext4Disk, AnotherProgramsSaveWithAFreedNumberIsAScriptOfItsOwn) {
    struct Case {
        const char* name;
        std::size_t scripts;
        std::size_t actAfter;    // scripts told when the other program saves
        std::size_t saved;       // the script it saves with a freed number
        bool freesFirst;         // it saved script 0 first, freeing its number
        std::size_t numbersFrom; // the scripts whose old numbers are free by then
        int status;
    };
    const Case cases[] = {
        {"a number this run's commit round freed", 1030, 1025, 1027, false, 1024, cli::kDone},
        {"a number the other program's first save freed", 6, 2, 4, true, 1, cli::kFailed},
    };
    const auto name = [](std::size_t i) {
        std::string number = std::to_string(i);
        return "s" + std::string(4 - number.size(), '0') + number + ".lua";
    };
    const std::string savedText = kSingle + "-- gespeichert\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& entry : fs::directory_iterator(disk_))
            fs::remove_all(entry.path());
        std::set<ino_t> freed;
        for (std::size_t i = 0; i < c.scripts; ++i) {
            Write(disk_ / name(i), kSingle + "-- " + std::to_string(i) + "\n");
            if (i < c.numbersFrom)
                freed.insert(StatOf(disk_ / name(i)).st_ino);
        }
        bool reused = false;
        Between reporter([&](std::size_t done) {
            if (done != c.actAfter)
                return;
            const pid_t helper = fork();
            if (helper == 0) {
                // The other program: atomic saves through files of its own.
                const auto save = [&](const fs::path& target, const std::string& text,
                                      bool wanted) {
                    std::vector<fs::path> misses;
                    for (int attempt = 0; attempt < 4000; ++attempt) {
                        const fs::path file = disk_ / (".speichern-" + std::to_string(attempt));
                        Write(file, text);
                        if (!wanted || freed.count(StatOf(file).st_ino)) {
                            fs::rename(file, target);
                            for (const fs::path& miss : misses)
                                fs::remove(miss);
                            return true;
                        }
                        misses.push_back(file);
                    }
                    for (const fs::path& miss : misses)
                        fs::remove(miss);
                    return false;
                };
                if (c.freesFirst)
                    save(disk_ / name(0), kSingle + "-- von nebenan\n", false);
                _exit(save(disk_ / name(c.saved), savedText, true) ? 0 : 1);
            }
            int status = 0;
            waitpid(helper, &status, 0);
            reused = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        });
        PosixFiles files;
        cli::Options options;
        options.paths = {disk_.string()};
        options.backup = false;
        const int status = cli::RunBatch(files, files, options, reporter);
        if (!reused)
            GTEST_SKIP() << "the file system gave no freed inode number back";
        EXPECT_EQ(reporter.err.find("dieselbe Datei"), std::string::npos) << reporter.err;
        EXPECT_EQ(Read(disk_ / name(c.saved)), UmlauteToTwoCharacterForm(savedText));
        EXPECT_EQ(status, c.status) << reporter.err;
        if (c.freesFirst) {
            // The script the other program saved while it was converted keeps what it wrote.
            EXPECT_EQ(Read(disk_ / name(0)), kSingle + "-- von nebenan\n");
            EXPECT_NE(reporter.err.find(name(0) + ": wurde während des Umwandelns"),
                      std::string::npos)
                << reporter.err;
        }
        EXPECT_TRUE(Temporaries(disk_).empty());
    }
}

// The real file services with a hook that runs just before one operation on
// the script: another program writes it at each step of the save.
class WriterAt final : public FileServices {
  public:
    WriterAt(PosixFiles& files, std::string operation, std::function<void()> write)
        : files_(files), operation_(std::move(operation)), write_(std::move(write)) {}
    bool FileExists(const std::string& p) override { return files_.FileExists(p); }
    FileStamp ReadStampedPiece(const std::string& p, std::uint64_t o, std::size_t m,
                               std::string& b) override {
        return files_.ReadStampedPiece(p, o, m, b);
    }
    FileStamp StampOf(const std::string& p) override {
        At("StampOf");
        return files_.StampOf(p);
    }
    std::uint32_t FileAttributes(const std::string& p) override {
        At("FileAttributes");
        return files_.FileAttributes(p);
    }
    void WriteNewFileFrom(const std::string& p, const ByteSource& b, std::uint32_t a) override {
        At("WriteNewFile");
        files_.WriteNewFileFrom(p, b, a);
    }
    void KeepPermissions(const std::string& o, const std::string& c) override {
        At("KeepPermissions");
        files_.KeepPermissions(o, c);
    }
    Leftover RemoveLeftover(const std::string& p) override { return files_.RemoveLeftover(p); }
    void FlushFiles(const std::vector<std::string>& p) override {
        At("FlushFiles");
        files_.FlushFiles(p);
    }
    void LinkFile(const std::string& e, const std::string& n) override {
        At("LinkFile");
        files_.LinkFile(e, n);
    }
    void MoveFile(const std::string& f, const std::string& t, bool r) override {
        files_.MoveFile(f, t, r);
        At("AfterMove");
    }
    void DeleteFile(const std::string& p) override { files_.DeleteFile(p); }
    void SyncDirectories(const std::vector<std::string>& d) override {
        At("SyncDirectories");
        files_.SyncDirectories(d);
    }
    DateTimeTexts Now() override { return files_.Now(); }
    PlatformError Error(std::uint32_t c, const std::string& s) override {
        return files_.Error(c, s);
    }

  private:
    void At(const std::string& operation) {
        if (operation == operation_ && write_) {
            write_();
            write_ = nullptr; // once
        }
    }
    PosixFiles& files_;
    std::string operation_;
    std::function<void()> write_;
};

// Another program appends to the script at each step between reading it and
// replacing it (with a link or a copy for the backup, and without one): the
// script is not replaced and keeps every appended line, its new backup goes,
// no temporary file stays, and the error names the script. Appended after the
// replace, the line lands in the converted script. (Between the last look at
// the script and the rename, two system calls apart, a write still slips
// through: tools/race measures how often.)
TEST_F(Folder, AScriptWrittenWhileConvertedKeepsWhatWasWritten) {
    const std::string script = (root_ / "a.lua").string();
    auto append = [&] {
        std::ofstream(script, std::ios::binary | std::ios::app) << "-- von nebenan\n";
    };
    struct Case {
        const char* step;
        BackupBy backup;
        bool withBackup;
    } cases[] = {
        {"FileAttributes", BackupBy::LinkOrCopy, true},
        {"LinkFile", BackupBy::LinkOrCopy, true},
        {"WriteNewFile", BackupBy::LinkOrCopy, true},
        {"KeepPermissions", BackupBy::Copy, true},
        {"FlushFiles", BackupBy::LinkOrCopy, true},
        {"SyncDirectories", BackupBy::Copy, true},
        {"StampOf", BackupBy::Copy, true},
        {"StampOf", BackupBy::LinkOrCopy, false},
        {"FlushFiles", BackupBy::Copy, false},
        {"AfterMove", BackupBy::LinkOrCopy, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.step) + (c.withBackup ? " with backup" : " without"));
        fs::remove_all(root_);
        Write(script, kSingle);
        PosixFiles posix;
        WriterAt files(posix, c.step, append);
        const StampedBytes read = files.ReadStampedFile(script);
        std::optional<PlatformError> error;
        try {
            const StagedScript staged =
                StageScript(files, script, read.bytes, UmlauteToTwoCharacterForm(read.bytes),
                            c.withBackup, c.backup, read.stamp);
            const auto failures = CommitScripts(files, {staged});
            if (!failures.empty())
                error = failures.front().error;
        } catch (const PlatformError& e) {
            error = e;
        }
        EXPECT_TRUE(Temporaries(root_).empty());
        if (std::string(c.step) == "AfterMove") {
            EXPECT_FALSE(error);
            EXPECT_EQ(Read(script), kPairs + "-- von nebenan\n");
            EXPECT_EQ(Backups(root_).size(), 1u);
            continue;
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(error->Cause(), ErrorCause::ChangedMeanwhile);
        EXPECT_EQ(error->Subject(), script);
        EXPECT_EQ(Read(script), kSingle + "-- von nebenan\n");
        EXPECT_TRUE(Backups(root_).empty());
    }
}

// ---- names that differ only in letter case

// A walk that compares names as Windows does (as the Windows programs see
// Linux folders through Wine), over the real file services.
class CaseBlindDirectories final : public DirectoryServices {
  public:
    explicit CaseBlindDirectories(PosixFiles& files) : files_(files) {}
    std::vector<DirectoryEntry> ListEntries(const std::string& d) override {
        return files_.ListEntries(d);
    }
    PathKind KindOf(const std::string& p) override { return files_.KindOf(p); }
    std::vector<std::string> ListDirectory(const std::string& d) override {
        return files_.ListDirectory(d);
    }
    char Separator() const override { return files_.Separator(); }
    std::string Canonical(const std::string& path) const override {
        std::string lower = path;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower;
    }

  private:
    PosixFiles& files_;
};

// Karte.lua and karte.lua in one folder are two scripts, both converted, by
// the Linux build and by a walk that compares names without letter case; two
// such names of one file are one script whose other name is told.
TEST_F(Folder, NamesDifferingOnlyInCaseAreTwoScripts) {
    const struct {
        const char* name;
        bool program;  // the real Linux program; else the engine with a case-blind walk
        bool hardLink; // karte.lua is a second name of Karte.lua
        std::vector<std::string> expected; // in the output and the notices
    } cases[] = {
        {"the Linux build",
         true,
         false,
         {"Karte.lua: 7 Zeichen umgewandelt", "karte.lua: 7 Zeichen umgewandelt"}},
        {"names compared as Windows does",
         false,
         false,
         {"Karte.lua: 7 Zeichen umgewandelt", "karte.lua: 7 Zeichen umgewandelt"}},
        {"one file under both names",
         false,
         true,
         {"Karte.lua: 7 Zeichen umgewandelt", "Karte.lua: hat 1 weiteren Namen"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path map = root_ / "zwillinge";
        fs::remove_all(map);
        Write(map / "Karte.lua", kSingle);
        if (c.hardLink)
            fs::create_hard_link(map / "Karte.lua", map / "karte.lua");
        else
            Write(map / "karte.lua", kSingle);
        std::string said;
        if (c.program) {
            const Result r = Umlaute({"fuer-velmo", "."}, map);
            EXPECT_EQ(r.status, 0) << r.err;
            said = r.out + r.err;
        } else {
            PosixFiles files;
            CaseBlindDirectories directories(files);
            Between reporter([](std::size_t) {});
            cli::Options options;
            options.paths = {map.string()};
            EXPECT_EQ(cli::RunBatch(files, directories, options, reporter), cli::kDone)
                << reporter.err;
            said = reporter.out + reporter.err;
        }
        for (const std::string& words : c.expected)
            EXPECT_NE(said.find(words), std::string::npos) << words << " not in " << said;
        EXPECT_EQ(Read(map / "Karte.lua"), kPairs);
        EXPECT_EQ(Read(map / "karte.lua"), c.hardLink ? kSingle : kPairs);
    }
}

} // namespace
} // namespace velmo
