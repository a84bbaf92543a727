// The POSIX file services against a real file system.
#include "platform/PosixFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>

namespace velmo {
namespace {

namespace fs = std::filesystem;

class PosixFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/velmo-files-XXXXXX";
        dir_ = mkdtemp(name);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string At(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
    PosixFiles files_;
};

std::uint32_t CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const PlatformError& e) {
        return e.Code();
    }
    return 0;
}

TEST_F(PosixFilesTest, WriteFlushLinkMoveAndDelete) {
    const std::string bytes("a\0\r\n\xE4", 5);
    files_.WriteNewFile(At("a"), bytes, file_attr::Normal);
    EXPECT_EQ(files_.ReadWholeFile(At("a")), bytes);
    EXPECT_EQ(CodeOf([&] { files_.WriteNewFile(At("a"), "x", file_attr::Normal); }), 183u);
    // A large file, read into a buffer asked to be backed by huge pages.
    std::string large(5u << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 131 + i / 4099);
    files_.WriteNewFile(At("gross"), large, file_attr::Normal);
    EXPECT_EQ(files_.ReadWholeFile(At("gross")), large);

    // Enough files for one flush of the whole file system, and one on its own.
    std::vector<std::string> many;
    for (int i = 0; i < 9; ++i) {
        many.push_back(At("m" + std::to_string(i)));
        files_.WriteNewFile(many.back(), "m", file_attr::Normal);
    }
    files_.FlushFiles(many);
    files_.FlushFiles({At("a")});
    files_.SyncDirectories({dir_.string()});
    EXPECT_EQ(CodeOf([&] { files_.FlushFiles({At("fehlt")}); }), 2u);
    // Enough directories for one flush of the whole file system; a missing one is named.
    for (const char* name : {"d1", "d2", "d3"})
        fs::create_directory(dir_ / name);
    files_.SyncDirectories({At("d1"), At("d2"), At("d3"), dir_.string()});
    EXPECT_EQ(CodeOf([&] { files_.SyncDirectories({At("d1"), At("d2"), At("fehlt")}); }), 2u);

    // A link keeps the old bytes when the first name is replaced.
    files_.LinkFile(At("a"), At("a.bak"));
    EXPECT_EQ(CodeOf([&] { files_.LinkFile(At("a"), At("a.bak")); }), 183u);
    files_.WriteNewFile(At("neu"), "neu", file_attr::Normal);
    EXPECT_EQ(CodeOf([&] { files_.MoveFile(At("neu"), At("a"), false); }), 183u);
    EXPECT_EQ(files_.ReadWholeFile(At("a")), bytes);
    files_.MoveFile(At("neu"), At("a"), true);
    EXPECT_EQ(files_.ReadWholeFile(At("a")), "neu");
    EXPECT_EQ(files_.ReadWholeFile(At("a.bak")), bytes);
    files_.MoveFile(At("a.bak"), At("b"), false);
    EXPECT_FALSE(files_.FileExists(At("a.bak")));
    files_.DeleteFile(At("b"));
    EXPECT_EQ(CodeOf([&] { files_.DeleteFile(At("b")); }), 2u);
    EXPECT_EQ(CodeOf([&] { files_.ReadWholeFile(At("b")); }), 2u);
}

TEST_F(PosixFilesTest, PermissionsAttributesAndKinds) {
    files_.WriteNewFile(At("alt"), "alt", file_attr::Normal);
    files_.WriteNewFile(At("neu"), "neu", file_attr::Normal);
    struct stat info {};
    stat(At("neu").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "private until it gets the old file's permissions";
    chmod(At("alt").c_str(), 0754);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(At("alt").c_str(), 65534, 65534), 0);
    }
    files_.KeepPermissions(At("alt"), At("neu"));
    stat(At("neu").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0754u);
    if (geteuid() == 0) {
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    EXPECT_EQ(files_.FileAttributes(At("alt")), file_attr::Normal);
    chmod(At("alt").c_str(), 0444);
    EXPECT_EQ(files_.FileAttributes(At("alt")), file_attr::ReadOnly);

    fs::create_directory(dir_ / "sub");
    fs::create_symlink("alt", dir_ / "link");
    EXPECT_EQ(files_.KindOf(At("alt")), PathKind::File);
    EXPECT_EQ(files_.KindOf(At("sub")), PathKind::Directory);
    EXPECT_EQ(files_.KindOf(At("link")), PathKind::Link);
    EXPECT_EQ(files_.KindOf(At("fehlt")), PathKind::Missing);
    // Below a file: no folder, said as such ("datei.lua/" on the command line).
    try {
        files_.KindOf(At("alt/x"));
        ADD_FAILURE() << "no error below a file";
    } catch (const PlatformError& e) {
        EXPECT_EQ(e.Cause(), ErrorCause::NotAFolder);
    }
    EXPECT_FALSE(files_.FileExists(At("sub")));
    auto names = files_.ListDirectory(dir_.string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alt", "link", "neu", "sub"}));
}

// The locales that name no date order of their own (C, POSIX, C.UTF-8) give
// day, month and four-digit year, as the window writes them on a German
// Windows: 10.12.2026 and 16:40:12, so backup names are never ambiguous.
TEST_F(PosixFilesTest, DateAndTimeFollowTheRegionalSettings) {
    const std::string before = std::setlocale(LC_TIME, nullptr);
    for (const char* locale : {"C", "POSIX", "C.UTF-8"}) {
        if (!std::setlocale(LC_TIME, locale))
            continue;
        const DateTimeTexts now = files_.Now();
        EXPECT_EQ(now.date.size(), 10u) << locale << ": " << now.date;
        EXPECT_EQ(now.date[2], '.') << locale;
        EXPECT_EQ(now.date[5], '.') << locale;
        EXPECT_EQ(now.time.size(), 8u) << locale << ": " << now.time;
        EXPECT_EQ(now.time[2], ':') << locale;
    }
    // A locale with an order of its own keeps it (where one is installed).
    if (std::setlocale(LC_TIME, "en_US.UTF-8")) {
        const DateTimeTexts now = files_.Now();
        EXPECT_EQ(now.date[2], '/') << now.date;
    }
    std::setlocale(LC_TIME, before.c_str());
}

} // namespace
} // namespace velmo
