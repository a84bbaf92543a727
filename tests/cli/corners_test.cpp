// The companion in the world's corners: standard streams closed or full, file
// systems without links, renames without replacing or owners (USB sticks,
// Windows partitions, memory disks, read-only mounts), another user's script,
// names as long as a file name may be. The real program on real mounts the test
// makes itself; what this machine cannot mount is skipped with the reason.
#include "convert/Umlaute.h"
#include "platform/PosixFiles.h"
#include "tests/cli/ProgramRun.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace velmo {
namespace {

using namespace test;
namespace fs = std::filesystem;

bool Has(const std::string& program) {
    return Shell("command -v " + program + " >/dev/null", "/").status == 0;
}

// ---- standard streams closed or full

// A compiled chunk beside a script: the chunk's notice goes to stderr while
// the script's temporary file is open.
class Streams : public Folder {
  protected:
    void SetUp() override {
        Folder::SetUp();
        Write(root_ / "karte" / "a.lua", "\x1BLua\x54\0\x19\x93\r\n\x1A\n\xE4"s);
        Write(root_ / "karte" / "b.lua", kSingle);
    }
};

// Standard error closed: no notice of ours may land in a file the program
// opens afterwards, neither the script's temporary file nor the filter's spool.
TEST_F(Streams, ClosedStandardErrorNeverBecomesAFile) {
    const Result run = Shell("velmo-umlaute fuer-velmo karte 2>&-", root_);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(Read(root_ / "karte" / "b.lua"), kPairs);
    EXPECT_EQ(Read(root_ / "karte" / "a.lua"), "\x1BLua\x54\0\x19\x93\r\n\x1A\n\xE4"s);
    EXPECT_TRUE(Temporaries(root_ / "karte").empty());
    // A filter's input past 8 MiB waits in a spool file.
    std::string big(9'000'000, 'x');
    big += "\xE4\xF6\xFC";
    Write(root_ / "gross.lua", big);
    const Result filter =
        Shell("velmo-umlaute fuer-velmo - <gross.lua >gross.out 2>&-; echo $?", root_);
    EXPECT_EQ(filter.out, "0\n");
    EXPECT_EQ(Read(root_ / "gross.out"), UmlauteToTwoCharacterForm(big));
}

// What --help, --version and a run print, into a closed or full stdout: an
// error on stderr and status 2, never an exception out of main; a closed
// stdin is an error of the filter. None of them touches the script.
TEST_F(Streams, ClosedOrFullStandardOutputIsAnError) {
    const struct {
        const char* command;
        int status;
        const char* err; // part of stderr; empty: stderr stays empty
    } cases[] = {
        {"velmo-umlaute --help >&-", 2, "velmo-umlaute: (Ausgabe): "},
        {"velmo-umlaute --help >/dev/full", 2, "velmo-umlaute: (Ausgabe): "},
        {"velmo-umlaute --version >&-", 2, "velmo-umlaute: (Ausgabe): "},
        {"velmo-umlaute --version >/dev/full", 2, "velmo-umlaute: (Ausgabe): "},
        {"velmo-umlaute --help >&- 2>&-", 2, ""},
        {"velmo-umlaute fuer-velmo - <&-", 2, "velmo-umlaute: (Standardeingabe): "},
        {"velmo-umlaute fuer-velmo - <karte/b.lua >/dev/full", 2,
         "velmo-umlaute: (Standardausgabe): "},
        {"velmo-umlaute --pruefen fuer-velmo karte >&-", 2, "velmo-umlaute: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const Result r = Shell(c.command, root_);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.find("terminate"), std::string::npos) << r.err;
        if (*c.err)
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
        EXPECT_EQ(Read(root_ / "karte" / "b.lua"), kSingle);
    }
}

// ---- file systems a scripter keeps maps on

// A file system mounted at `at` by the test, and taken away again.
struct Mount {
    const char* name;
    // Shell commands run in the test's folder, with $m the mount point and
    // $img an image file: making and mounting the file system.
    const char* needs; // programs it needs
    const char* mount;
};

const Mount kMounts[] = {
    {"tmpfs", "", "mount -t tmpfs velmo \"$m\""},
    {"exFAT (exfat-fuse)", "mkfs.exfat mount.exfat-fuse losetup",
     "truncate -s 16M \"$img\" && mkfs.exfat \"$img\" >/dev/null && "
     "dev=$(losetup -f --show \"$img\") && echo \"$dev\" >\"$img.loop\" && "
     "mount.exfat-fuse \"$dev\" \"$m\" >/dev/null"},
    {"FAT32 (fusefat)", "mkfs.vfat fusefat",
     "truncate -s 40M \"$img\" && mkfs.vfat -F 32 \"$img\" >/dev/null && "
     "fusefat -o rw+ \"$img\" \"$m\" >/dev/null 2>&1"},
    {"NTFS (ntfs-3g)", "mkntfs ntfs-3g",
     "truncate -s 16M \"$img\" && mkntfs -F -q -f \"$img\" >/dev/null 2>&1 && "
     "ntfs-3g \"$img\" \"$m\""},
};

class FileSystems : public Folder {
  protected:
    // Mounts `how` at root_/<n>; empty on success, else why it could not.
    std::string Make(const Mount& how, int n) {
        if (geteuid() != 0)
            return "needs root to mount";
        if (access("/dev/fuse", R_OK | W_OK) != 0 && std::string(how.name) != "tmpfs")
            return "no /dev/fuse here";
        std::istringstream needs(how.needs);
        for (std::string program; needs >> program;)
            if (!Has(program))
                return program + " is not installed";
        const fs::path at = root_ / std::to_string(n);
        fs::create_directories(at);
        const std::string vars = "m='" + at.string() + "' img='" + at.string() + ".img'; ";
        if (Shell(vars + how.mount, root_).status != 0)
            return std::string("mounting failed: ") + how.mount;
        mounted_.push_back(at);
        return {};
    }
    void TearDown() override {
        for (const fs::path& at : mounted_) {
            umount2(at.c_str(), MNT_DETACH);
            Shell("[ -f '" + at.string() + ".img.loop' ] && losetup -d $(cat '" + at.string() +
                      ".img.loop')",
                  "/");
        }
        Folder::TearDown();
    }
    std::vector<fs::path> mounted_;
};

// On each: every script converted, with exactly one complete backup when one
// is asked for; no temporary file stays; a second run changes nothing.
TEST_F(FileSystems, EveryScriptConvertedWithOneCompleteBackup) {
    int n = 0;
    std::vector<std::string> skipped;
    for (const Mount& how : kMounts) {
        SCOPED_TRACE(how.name);
        if (const std::string why = Make(how, ++n); !why.empty()) {
            skipped.push_back(std::string(how.name) + ": " + why);
            continue;
        }
        const fs::path map = root_ / std::to_string(n);
        const std::string other = "-- anderer Text \xE4\r\n";
        Write(map / "mit" / "a.lua", kSingle);
        Write(map / "mit" / "b.lua", other);
        Write(map / "ohne" / "c.lua", kSingle);
        const Result with = Umlaute({"fuer-velmo", map / "mit"}, root_);
        EXPECT_EQ(with.status, 0) << with.err;
        EXPECT_EQ(with.err.find("harte"), std::string::npos) << with.err;
        EXPECT_EQ(Read(map / "mit" / "a.lua"), kPairs);
        EXPECT_EQ(Read(map / "mit" / "b.lua"), UmlauteToTwoCharacterForm(other));
        const std::vector<std::string> backups = Backups(map / "mit");
        ASSERT_EQ(backups.size(), 2u) << with.err;
        EXPECT_EQ(Read(map / "mit" / backups[0]), kSingle);
        EXPECT_EQ(Read(map / "mit" / backups[1]), other);
        const Result without = Umlaute({"fuer-velmo", "--ohne-sicherung", map / "ohne"}, root_);
        EXPECT_EQ(without.status, 0) << without.err;
        EXPECT_EQ(Read(map / "ohne" / "c.lua"), kPairs);
        EXPECT_TRUE(Backups(map / "ohne").empty());
        EXPECT_TRUE(Temporaries(map / "mit").empty());
        EXPECT_TRUE(Temporaries(map / "ohne").empty());
        const Result again = Umlaute({"fuer-velmo", map / "mit"}, root_);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(Backups(map / "mit").size(), 2u);
    }
    for (const std::string& why : skipped)
        std::cout << "[ SKIPPED  ] " << why << "\n";
}

// On each, a run is taken back: every script holds its old bytes again and
// no backup or temporary file stays (where there are no links, from copies).
TEST_F(FileSystems, RunTakenBackFromItsBackups) {
    int n = 0;
    for (const Mount& how : kMounts) {
        SCOPED_TRACE(how.name);
        if (const std::string why = Make(how, ++n); !why.empty()) {
            std::cout << "[ SKIPPED  ] " << how.name << ": " << why << "\n";
            continue;
        }
        const fs::path map = root_ / std::to_string(n) / "karte";
        const std::string other = "-- anderer Text \xE4\r\n";
        Write(map / "a.lua", kSingle);
        Write(map / "sub" / "b.lua", other);
        ASSERT_EQ(Umlaute({"fuer-velmo", map}, root_).status, 0);
        ASSERT_EQ(Read(map / "a.lua"), kPairs);
        const Result back = Umlaute({"rueckgaengig", map}, root_);
        EXPECT_EQ(back.status, 0) << back.err;
        EXPECT_NE(back.err.find("2 Dateien zurückgeholt, 0 übersprungen, 0 Fehler"),
                  std::string::npos)
            << back.err;
        EXPECT_EQ(Read(map / "a.lua"), kSingle);
        EXPECT_EQ(Read(map / "sub" / "b.lua"), other);
        EXPECT_TRUE(Backups(map).empty());
        EXPECT_TRUE(Backups(map / "sub").empty());
        EXPECT_TRUE(Temporaries(map).empty());
    }
}

// The file services' own steps on each: a new file moved to a name that is
// taken fails and changes neither file (where there is neither a rename that
// refuses to replace nor a link, the name is claimed first: a claim that finds
// the name taken leaves nothing); moved to a free name it arrives whole; a
// replace puts it in the place of the old file; the permissions of an
// original are kept where they can be and nothing fails where they cannot.
TEST_F(FileSystems, MovesAndPermissionsOfTheFileServices) {
    int n = 0;
    for (const Mount& how : kMounts) {
        SCOPED_TRACE(how.name);
        if (const std::string why = Make(how, ++n); !why.empty()) {
            std::cout << "[ SKIPPED  ] " << how.name << ": " << why << "\n";
            continue;
        }
        const std::string dir = (root_ / std::to_string(n)).string() + "/";
        PosixFiles files;
        Write(dir + "alt.lua", "alt");
        files.WriteNewFile(dir + "neu.tmp", "neu", file_attr::Normal);
        files.KeepPermissions(dir + "alt.lua", dir + "neu.tmp");
        try {
            files.MoveFile(dir + "neu.tmp", dir + "alt.lua", false);
            ADD_FAILURE() << "moved onto a taken name";
        } catch (const PlatformError& e) {
            EXPECT_EQ(e.Code(), win_error::AlreadyExists) << e.Text();
        }
        EXPECT_EQ(Read(dir + "alt.lua"), "alt");
        EXPECT_EQ(Read(dir + "neu.tmp"), "neu");
        files.MoveFile(dir + "neu.tmp", dir + "frei.lua", false);
        EXPECT_EQ(Read(dir + "frei.lua"), "neu");
        EXPECT_FALSE(fs::exists(dir + "neu.tmp"));
        files.WriteNewFile(dir + "ersatz.tmp", "ersatz", file_attr::Normal);
        files.KeepPermissions(dir + "alt.lua", dir + "ersatz.tmp");
        files.MoveFile(dir + "ersatz.tmp", dir + "alt.lua", true);
        EXPECT_EQ(Read(dir + "alt.lua"), "ersatz");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    }
}

// A read-only mount: the script stays, and the message names the cause.
TEST_F(FileSystems, ReadOnlyMountIsToldAsSuch) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a bind mount";
    const fs::path map = root_ / "karte";
    Write(map / "a.lua", kSingle);
    const fs::path view = root_ / "nurlesen";
    fs::create_directories(view);
    if (mount(map.c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts are refused here";
    mounted_.push_back(view);
    ASSERT_EQ(mount(nullptr, view.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    const Result r = Umlaute({"fuer-velmo", "nurlesen"}, root_);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("nurlesen/a.lua: Dateisystem nur lesbar: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Keine Berechtigung"), std::string::npos) << r.err;
    EXPECT_EQ(Read(map / "a.lua"), kSingle);
    // The check says what the conversion says, and fails as it does.
    const Result check = Umlaute({"fuer-velmo", "--pruefen", "nurlesen"}, root_);
    EXPECT_EQ(check.status, 2);
    EXPECT_NE(check.err.find("nurlesen/a.lua: Dateisystem nur lesbar: "), std::string::npos)
        << check.err;
    EXPECT_EQ(check.out, "");
}

// ---- another user's script

// In a folder everybody may write, nobody converts scripts that are not
// wholly theirs: a new file of nobody's would take the script's owner or
// group away, so the script is refused, unchanged, with a German message.
TEST_F(Folder, AnotherUsersScriptIsRefusedNotTakenOver) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the program as another user and give files owners";
    chmod(root_.c_str(), 0777);
    const struct {
        const char* name;
        uid_t uid;
        gid_t gid;
        mode_t mode;
    } cases[] = {
        {"root's, writable for all", 0, 0, 0666},
        {"root's, set-user-ID", 0, 0, 04666},
        {"nobody's, in root's group", kNobody, 0, 0666},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path script = root_ / "fremd.lua";
        Write(script, kSingle);
        ASSERT_EQ(chown(script.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(chmod(script.c_str(), c.mode), 0);
        struct stat before {};
        lstat(script.c_str(), &before);
        for (const bool backup : {true, false}) {
            std::vector<std::string> argv = {
                "setpriv",        "--reuid=65534",       "--regid=65534",
                "--clear-groups", VELMO_UMLAUTE_PROGRAM, "fuer-velmo",
                "fremd.lua"};
            if (!backup)
                argv.push_back("--ohne-sicherung");
            const Result r = Spawn(argv, root_);
            EXPECT_EQ(r.status, 2) << r.err;
            EXPECT_NE(r.err.find("fremd.lua: gehört einem anderen Benutzer"), std::string::npos)
                << r.err;
            struct stat after {};
            lstat(script.c_str(), &after);
            EXPECT_EQ(Read(script), kSingle);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_uid, c.uid);
            EXPECT_EQ(after.st_gid, c.gid);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_TRUE(Backups(root_).empty());
            EXPECT_TRUE(Temporaries(root_).empty());
        }
        fs::remove(script);
    }
}

// ---- long names

// Scripts whose names are as long as a file name may be: the temporary
// file's name never stops them; a backup whose name would be too long is
// told so, and its script stays as it is.
TEST_F(Folder, LongNamesAreConvertedUpToTheLongestName) {
    // "_08_12_2026_21_59_53.bak": the backup's name is 24 bytes longer.
    for (const std::size_t length : {200u, 232u, 240u, 250u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name = std::string(length - 4, 'k') + ".lua";
        const std::string umlauts = "\xC3\xA4" + std::string(length - 6, 'u') + ".lua";
        for (const std::string& script : {name, umlauts}) {
            Write(root_ / script, kSingle);
            const Result without = Umlaute({"fuer-velmo", "--ohne-sicherung", script}, root_);
            EXPECT_EQ(without.status, 0) << without.err;
            EXPECT_EQ(Read(root_ / script), kPairs);
            Write(root_ / script, kSingle);
            const Result with = Umlaute({"fuer-velmo", script}, root_);
            if (length + 24 <= 255) {
                EXPECT_EQ(with.status, 0) << with.err;
                EXPECT_EQ(Read(root_ / script), kPairs);
                EXPECT_EQ(Backups(root_).size(), 1u);
            } else {
                EXPECT_EQ(with.status, 2) << with.err;
                EXPECT_NE(with.err.find(": Name zu lang"), std::string::npos) << with.err;
                EXPECT_EQ(Read(root_ / script), kSingle);
                EXPECT_TRUE(Backups(root_).empty());
            }
            EXPECT_TRUE(Temporaries(root_).empty());
            fs::remove_all(root_);
            fs::create_directories(root_);
        }
    }
}

// ---- the notice of other names

// A script with a second name hears that the other name keeps the old text,
// but not when that name is one of its own backups (left by a run that ended
// before replacing the script): that one goes, with a notice of its own.
TEST_F(Folder, OtherNamesAreToldOnlyWhenTheyAreNotBackups) {
    const struct {
        const char* other;
        bool told;
    } cases[] = {
        {"karte_lua_01_01_2026_00_00_00.bak", false},
        {"karte_lua_01_01_2026_00_00_00_2.bak", false},
        {"kopie.txt", true},
        {"karte_lua_kopie.txt", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.other);
        Write(root_ / "karte.lua", kSingle);
        fs::create_hard_link(root_ / "karte.lua", root_ / c.other);
        const Result r = Umlaute({"fuer-velmo", "karte.lua"}, root_);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("harte Verknüpfung") != std::string::npos, c.told) << r.err;
        EXPECT_EQ(Read(root_ / "karte.lua"), kPairs);
        if (c.told) {
            EXPECT_EQ(Read(root_ / c.other), kSingle);
        } else {
            // A backup by link of the very file the script still is: one a
            // killed run left. It goes, told, and this run's backup keeps
            // the same bytes.
            EXPECT_FALSE(fs::exists(root_ / c.other));
            EXPECT_NE(r.err.find("karte.lua: 1 Sicherung eines abgebrochenen Laufs entfernt"),
                      std::string::npos)
                << r.err;
            EXPECT_EQ(Backups(root_).size(), 1u);
        }
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
}

} // namespace
} // namespace velmo
