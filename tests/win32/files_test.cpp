// The file and folder services the command-line companion adds, against the
// real thing: flushing, hard links as backups, the kind of a path (links
// included), folder listings with any name and length, and the regional date
// and time. Every test works in its own temporary folder.
#include "TestSupport.h"

#include "batch/Batch.h"
#include "convert/ScriptFile.h"
#include "platform/Handle.h"
#include "platform/Win32Error.h"
#include "platform/Win32Files.h"
#include "platform/Win32Text.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <iostream>
#include <optional>
#include <thread>

namespace velmo {
namespace {

using namespace std::string_literals;
using test::ErrorOf;
using test::kGreek;
using test::kJapanese;
using test::LongFolder;
using test::NamesIn;
using test::ReadRaw;
using test::TempDir;
using test::WriteRaw;

const std::string kUmlauts = "Gr\xC3\xBC\xC3\x9F"
                             "e \xC3\x84rger"; // Grüße Ärger

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// The number of names the file has, read through a handle of its own.
DWORD LinkCount(const std::string& path) {
    AutoFile file(CreateFileW(test::Extended(Widen(path)).c_str(), 0,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.Get(), &info))
        return 0;
    return info.nNumberOfLinks;
}

// =====================================================================
// FlushFiles

TEST(Win32FilesFlush, FlushesWrittenFilesAndLeavesThemAsTheyWere) {
    TempDir dir("flush");
    Win32Files files;
    const struct {
        std::string path;
        std::string bytes;
        DWORD attributes;
    } written[] = {
        {dir / "karte.lua", "print(1)\r\n", FILE_ATTRIBUTE_NORMAL},
        {dir / "leer.lua", "", FILE_ATTRIBUTE_NORMAL},
        {dir / (kGreek + " " + kJapanese + " " + kUmlauts + ".lua"), "\xE4\0\xF6"s,
         FILE_ATTRIBUTE_NORMAL},
        {LongFolder(dir) + "\\tief.lua", std::string(70000, '\xFC'), FILE_ATTRIBUTE_NORMAL},
        {dir / "versteckt.lua", "x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
    };
    std::vector<std::string> paths;
    for (const auto& w : written) {
        files.WriteNewFile(w.path, w.bytes, w.attributes);
        paths.push_back(w.path);
    }
    files.FlushFiles(paths);
    files.FlushFiles({}); // nothing to do
    for (const auto& w : written) {
        EXPECT_EQ(ReadRaw(w.path), w.bytes) << w.path;
        EXPECT_EQ(test::AttributesOf(w.path) & FILE_ATTRIBUTE_HIDDEN,
                  w.attributes & FILE_ATTRIBUTE_HIDDEN)
            << w.path;
    }
}

TEST(Win32FilesFlush, FailureNamesTheFile) {
    TempDir dir("flushfail");
    Win32Files files;
    const std::string written = dir / "geschrieben.lua";
    const std::string missing = dir / "fehlt.lua";
    const std::string locked = dir / "gesperrt.lua";
    files.WriteNewFile(written, "neu", file_attr::Normal);
    WriteRaw(locked, "alt");
    AutoFile holder(
        CreateFileW(Widen(locked).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const struct {
        std::string path;
        std::uint32_t code;
    } cases[] = {
        {missing, win_error::FileNotFound},
        {locked, win_error::SharingViolation},
    };
    for (const auto& c : cases) {
        // The failing file among good ones: the error names it.
        const PlatformError e = ErrorOf([&] { files.FlushFiles({written, c.path}); });
        EXPECT_EQ(e.Code(), c.code) << c.path;
        EXPECT_EQ(e.Subject(), c.path);
        EXPECT_FALSE(e.Text().empty()) << c.path;
    }
    EXPECT_EQ(ReadRaw(written), "neu");
    holder.Reset();
    EXPECT_EQ(ReadRaw(locked), "alt");
}

// The renames of a round are made durable by one flush after them, of the file
// renamed last; one gone or held by another program meanwhile hands the flush
// on to the one before it, and only where none is left to flush and one of
// them could not be opened is that an error.
TEST(Win32FilesFlush, RenamesDurableWithTheRoundsLastFile) {
    TempDir dir("round");
    const std::string scripts[] = {dir / "a.lua", dir / "b.lua", dir / "c.lua"};
    const struct {
        const char* name;
        std::vector<int> gone, locked; // of the three, after their renames
        std::optional<std::uint32_t> code;
    } cases[] = {
        {"all there", {}, {}, std::nullopt},
        {"the last one gone", {2}, {}, std::nullopt},
        {"the last one held by another program", {}, {2}, std::nullopt},
        {"all gone", {0, 1, 2}, {}, std::nullopt},
        {"gone or held", {0, 2}, {1}, win_error::SharingViolation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Win32Files files;
        for (const std::string& script : scripts) {
            WriteRaw(script, "alt");
            files.WriteNewFile(script + ".neu", "neu", file_attr::Normal);
            files.FlushFiles({script + ".neu"});
            files.MoveFile(script + ".neu", script, true);
            EXPECT_EQ(ReadRaw(script), "neu");
        }
        for (const int i : c.gone)
            ASSERT_TRUE(DeleteFileW(Widen(scripts[i]).c_str()));
        std::vector<AutoFile> holders;
        for (const int i : c.locked)
            holders.emplace_back(CreateFileW(Widen(scripts[i]).c_str(), GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        if (c.code) {
            EXPECT_EQ(ErrorOf([&] { files.SyncDirectories({dir.Path()}); }).Code(), *c.code);
        } else {
            files.SyncDirectories({dir.Path()});
        }
        // Once made durable, the names are not flushed again.
        holders.clear();
        for (const std::string& script : scripts)
            DeleteFileW(Widen(script).c_str());
        files.SyncDirectories({dir.Path()});
    }
}

// =====================================================================
// LinkFile: the backup as a second name for the script's file

TEST(Win32FilesLink, SecondNameKeepsTheOldBytesWhenTheFirstIsReplaced) {
    TempDir dir("link");
    const std::string unicodeDir = dir / (kGreek + " " + kJapanese);
    test::MakeDirs(unicodeDir);
    const std::string folders[] = {dir.Path(), unicodeDir, LongFolder(dir)};
    Win32Files files;
    for (const std::string& folder : folders) {
        const std::string script = folder + "\\" + kUmlauts + ".lua";
        const std::string backup = folder + "\\" + kUmlauts + ".lua_sicherung.bak";
        const std::string temporary = folder + "\\~neu.velmo-tmp";
        const std::string oldBytes = "-- Gr\xFC\xDF"
                                     "e\r\n\0alt"s;
        WriteRaw(script, oldBytes);

        files.LinkFile(script, backup);
        EXPECT_EQ(ReadRaw(backup), oldBytes) << folder;
        // A second name for the same file, not a copy.
        EXPECT_EQ(LinkCount(script), 2u) << folder;

        files.WriteNewFile(temporary, "neu", file_attr::Normal);
        files.MoveFile(temporary, script, true);
        EXPECT_EQ(ReadRaw(script), "neu") << folder;
        EXPECT_EQ(ReadRaw(backup), oldBytes) << folder;
        EXPECT_EQ(LinkCount(backup), 1u) << folder;
    }
}

TEST(Win32FilesLink, FailureCases) {
    TempDir dir("linkfail");
    Win32Files files;
    const std::string script = dir / "karte.lua";
    const std::string taken = dir / "karte.lua_sicherung.bak";
    WriteRaw(script, "alt");
    WriteRaw(taken, "fr\xFCher");
    test::MakeDirs(dir / "Ordner");
    const struct {
        const char* name;
        std::string existing;
        std::string newName;
        std::vector<std::uint32_t> codes; // the first is what Windows documents
    } cases[] = {
        // MakeBackup takes the next counter on either code; CreateHardLinkW documents 183.
        {"new name taken", script, taken, {win_error::AlreadyExists, win_error::FileExists}},
        {"missing file", dir / "fehlt.lua", dir / "neu.bak", {win_error::FileNotFound}},
        {"into a missing folder", script, dir / "fehlt\\neu.bak", {ERROR_PATH_NOT_FOUND}},
        {"a folder", dir / "Ordner", dir / "Ordner.bak", {win_error::AccessDenied}},
    };
    for (const auto& c : cases) {
        const PlatformError e = ErrorOf([&] { files.LinkFile(c.existing, c.newName); });
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), e.Code()), c.codes.end())
            << c.name << ": " << e.Code();
        if (e.Code() != c.codes.front())
            std::cout << "[ NOTE     ] " << c.name << ": error " << e.Code()
                      << " where Windows gives " << c.codes.front() << "\n";
        EXPECT_EQ(e.Subject(), c.newName) << c.name;
        EXPECT_FALSE(e.Text().empty()) << c.name;
    }
    EXPECT_EQ(ReadRaw(script), "alt");
    EXPECT_EQ(ReadRaw(taken), "fr\xFCher");
    EXPECT_EQ(LinkCount(script), 1u);
    EXPECT_EQ(NamesIn(dir.Path()),
              (std::vector<std::string>{"Ordner", "karte.lua", "karte.lua_sicherung.bak"}));
}

// =====================================================================
// KindOf

TEST(Win32FilesKind, FilesFoldersAndMissingPaths) {
    TempDir dir("kind");
    const std::string unicodeDir = dir / ("K\xC3\xA4rtchen " + kGreek);
    test::MakeDirs(unicodeDir);
    WriteRaw(unicodeDir + "\\" + kJapanese + ".lua", "x");
    test::MakeDirs(dir / ".git");
    WriteRaw(dir / "versteckt.lua", "x");
    SetFileAttributesW(Widen(dir / "versteckt.lua").c_str(), FILE_ATTRIBUTE_HIDDEN);
    WriteRaw(dir / "schreibgeschuetzt.lua", "x");
    SetFileAttributesW(Widen(dir / "schreibgeschuetzt.lua").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string longDir = LongFolder(dir);
    WriteRaw(longDir + "\\tief.lua", "x");

    const struct {
        std::string path;
        PathKind kind;
    } cases[] = {
        {dir.Path(), PathKind::Directory},
        {dir.Path() + "\\", PathKind::Directory},
        {unicodeDir, PathKind::Directory},
        {unicodeDir + "\\" + kJapanese + ".lua", PathKind::File},
        {dir / ".git", PathKind::Directory},
        {dir / "versteckt.lua", PathKind::File},
        {dir / "schreibgeschuetzt.lua", PathKind::File},
        {longDir, PathKind::Directory},
        {longDir + "\\tief.lua", PathKind::File},
        {longDir + "\\fehlt.lua", PathKind::Missing},
        {dir / "fehlt.lua", PathKind::Missing},
        {dir / "fehlt\\auch\\karte.lua", PathKind::Missing},
    };
    Win32Files files;
    for (const auto& c : cases)
        EXPECT_EQ(files.KindOf(c.path), c.kind) << c.path;
}

// The platform's own check of what a listing entry or a path is, by its
// attributes and reparse tag: what the batch leaves out as a link, where the
// system here cannot make the reparse point itself (Wine 8 makes none).
TEST(Win32FilesKind, ByAttributesAndReparseTag) {
    constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
    constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
    const struct {
        const char* name;
        DWORD attributes, tag;
        PathKind kind;
    } cases[] = {
        {"a script", FILE_ATTRIBUTE_ARCHIVE, 0, PathKind::File},
        {"a folder", kFolder, 0, PathKind::Directory},
        {"a device", FILE_ATTRIBUTE_DEVICE, 0, PathKind::Other},
        {"a script that is a symbolic link", kReparse | FILE_ATTRIBUTE_ARCHIVE,
         IO_REPARSE_TAG_SYMLINK, PathKind::Link},
        {"a folder that is a symbolic link", kReparse | kFolder, IO_REPARSE_TAG_SYMLINK,
         PathKind::Link},
        {"a junction", kReparse | kFolder, IO_REPARSE_TAG_MOUNT_POINT, PathKind::Link},
        {"a reparse point whose tag is unknown", kReparse, 0, PathKind::Link},
        {"a OneDrive placeholder", kReparse | FILE_ATTRIBUTE_ARCHIVE, IO_REPARSE_TAG_CLOUD_6,
         PathKind::File},
        {"a deduplicated folder", kReparse | kFolder, IO_REPARSE_TAG_DEDUP, PathKind::Directory},
        {"a tag without its attribute", FILE_ATTRIBUTE_ARCHIVE, IO_REPARSE_TAG_SYMLINK,
         PathKind::File},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathKindOf(c.attributes, c.tag), c.kind) << c.name;
}

// ---- reparse points: each kind is made as Windows makes it; a kind the
// system here cannot make is skipped with the reason.

// Opens a file or folder to give it a reparse point.
AutoFile OpenForReparsePoint(const std::string& path) {
    return AutoFile(CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
}

DWORD SetReparsePoint(const AutoFile& file, const void* data, std::size_t size) {
    DWORD returned = 0;
    if (!file)
        return GetLastError();
    if (!DeviceIoControl(file.Get(), FSCTL_SET_REPARSE_POINT, const_cast<void*>(data),
                         static_cast<DWORD>(size), nullptr, 0, &returned, nullptr))
        return GetLastError();
    return ERROR_SUCCESS;
}

// The reparse data of a junction (a mount point), as FSCTL_SET_REPARSE_POINT
// takes it; the SDK keeps this structure in the driver headers.
struct MountPointReparseData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    wchar_t paths[512];
};

// Makes `link` a junction to the folder `target`; the error number on failure.
DWORD MakeJunction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryW(Widen(link).c_str(), nullptr))
        return GetLastError();
    const std::wstring substitute = L"\\??\\" + Widen(target);
    const std::wstring print = Widen(target);
    MountPointReparseData data{};
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    data.printOffset = static_cast<WORD>(data.substituteLength + sizeof(wchar_t));
    data.printLength = static_cast<WORD>(print.size() * sizeof(wchar_t));
    std::copy(substitute.begin(), substitute.end(), data.paths);
    std::copy(print.begin(), print.end(), data.paths + substitute.size() + 1);
    data.dataLength =
        static_cast<WORD>(4 * sizeof(WORD) + data.printOffset + data.printLength + sizeof(wchar_t));
    return SetReparsePoint(OpenForReparsePoint(link), &data,
                           offsetof(MountPointReparseData, substituteOffset) + data.dataLength);
}

// Gives the file or folder at `path` a reparse point of another vendor's kind
// that leads nowhere else, as OneDrive's placeholders are.
DWORD MakeOtherReparsePoint(const std::string& path) {
    REPARSE_GUID_DATA_BUFFER data{};
    data.ReparseTag = 0x00004C56; // neither Microsoft's nor a name surrogate
    data.ReparseGuid = {
        0x6c1b4f3e, 0x1d2a, 0x4b7c, {0x9e, 0x10, 0x5a, 0x2f, 0x77, 0x31, 0x08, 0xd4}};
    return SetReparsePoint(OpenForReparsePoint(path), &data, REPARSE_GUID_DATA_BUFFER_HEADER_SIZE);
}

DWORD MakeSymbolicLink(const std::string& link, const std::string& target, DWORD flags) {
    // Without developer mode Windows wants a privilege for the unprivileged flag too.
    if (CreateSymbolicLinkW(Widen(link).c_str(), Widen(target).c_str(),
                            flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return ERROR_SUCCESS;
    return GetLastError();
}

struct ReparseCase {
    const char* name;
    // Makes the thing at the first path, perhaps to the second; the error number on failure.
    std::function<DWORD(const std::string&, const std::string&)> make;
    bool folder;   // the thing made, and the target, are folders
    PathKind kind; // what KindOf says of it
};

const ReparseCase kReparseCases[] = {
    {"SymbolicLinkToAFile",
     [](const std::string& l, const std::string& t) { return MakeSymbolicLink(l, t, 0); }, false,
     PathKind::Link},
    {"SymbolicLinkToAFolder",
     [](const std::string& l, const std::string& t) {
         return MakeSymbolicLink(l, t, SYMBOLIC_LINK_FLAG_DIRECTORY);
     },
     true, PathKind::Link},
    {"Junction", MakeJunction, true, PathKind::Link},
    {"FileThatLeadsNowhereElse",
     [](const std::string& at, const std::string&) {
         WriteRaw(at, "x");
         return MakeOtherReparsePoint(at);
     },
     false, PathKind::File},
    {"FolderThatLeadsNowhereElse",
     [](const std::string& at, const std::string&) {
         test::MakeDirs(at);
         return MakeOtherReparsePoint(at);
     },
     true, PathKind::Directory},
};

// For ctest's list: the case's name rather than its bytes.
void PrintTo(const ReparseCase& c, std::ostream* out) {
    *out << c.name;
}

class Win32FilesReparsePoint : public testing::TestWithParam<ReparseCase> {};

// Links are links whatever they point to; other reparse points are what they hold.
TEST_P(Win32FilesReparsePoint, KindOf) {
    const ReparseCase& c = GetParam();
    TempDir dir("reparse");
    const std::string target = dir / (c.folder ? "Ziel" : "ziel.lua");
    if (c.folder)
        test::MakeDirs(target);
    else
        WriteRaw(target, "x");
    const std::string made = dir / ("Verkn\xC3\xBCpfung " + kGreek + (c.folder ? "" : ".lua"));
    if (const DWORD error = c.make(made, target); error != ERROR_SUCCESS)
        GTEST_SKIP() << c.name << " cannot be made here: error " << error << " ("
                     << SystemErrorText(error) << ")";
    // Whether the case can be tried at all is decided by the system's own
    // answer about what was made, never by the code under test: Wine reports
    // links as made that are not there, or are there without a reparse point.
    const DWORD attributes = GetFileAttributesW(Widen(made).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << c.name << ": reported as made, but nothing is there (Wine's stub)";
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << c.name << ": made without a reparse point here";
    Win32Files files;
    const PathKind kind = files.KindOf(made);
    EXPECT_EQ(kind, c.kind);
    if (c.kind == PathKind::Directory) { // as a user may name a folder
        EXPECT_EQ(files.KindOf(made + "\\"), c.kind);
    }
    EXPECT_EQ(files.KindOf(target), c.folder ? PathKind::Directory : PathKind::File);
    // The folder holding it lists it by its name.
    EXPECT_EQ(Sorted(files.ListDirectory(dir.Path())).size(), 2u);
    if (c.kind != PathKind::Link)
        return;
    // A batch over the folder leaves the link as it is and converts what it
    // leads to once, under its own name: a script named as a link is skipped
    // as one, a folder link is not entered.
    const std::string script = c.folder ? target + "\\tief.lua" : target;
    WriteRaw(script, "-- \xE4\r\n");
    struct Told final : batch::BatchEvents {
        void Converted(const std::string& path, std::size_t) override { converted.push_back(path); }
        void Skipped(const std::string& path, const batch::Skip& why) override {
            if (why.reason == batch::SkipReason::Link)
                links.push_back(path);
        }
        std::vector<std::string> converted, links;
    } told;
    batch::BatchRequest request;
    request.paths = {dir.Path()};
    batch::RunBatch(files, files, request, told);
    EXPECT_EQ(told.converted, std::vector<std::string>{script});
    EXPECT_EQ(told.links, c.folder ? std::vector<std::string>{} : std::vector<std::string>{made});
    EXPECT_EQ(ReadRaw(script), "-- \xC3\xA4\r\n");
    EXPECT_TRUE(test::AttributesOf(made) & FILE_ATTRIBUTE_REPARSE_POINT);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Win32FilesReparsePoint, testing::ValuesIn(kReparseCases),
                         [](const testing::TestParamInfo<ReparseCase>& info) {
                             return std::string(info.param.name);
                         });

// =====================================================================
// ListDirectory

TEST(Win32FilesList, ListsEveryNameInUtf8) {
    TempDir dir("list");
    const std::vector<std::string> names = {
        kGreek + ".lua", kJapanese + ".lua", kUmlauts + ".lua", "K\xC3\xA4rtchen",
        ".git",          "Leer zeichen.LUA", "liesmich.txt",    "~karte.lua.1.velmo-tmp",
    };
    const std::string longDir = LongFolder(dir);
    const std::string full = dir / "voll";
    test::MakeDirs(full);
    std::vector<std::string> many;
    for (int i = 0; i < 600; ++i) // more than one batch of a large fetch
        many.push_back("skript-" + std::to_string(i) + "-" + kJapanese + ".lua");

    const struct {
        std::string folder;
        std::vector<std::string> names;
    } cases[] = {
        {dir / "namen", names},
        {dir / "leer", {}},
        {longDir + "\\unten", names},
        {full, many},
    };
    Win32Files files;
    for (const auto& c : cases) {
        test::MakeDirs(c.folder);
        for (const std::string& name : c.names) {
            if (name.find('.') == std::string::npos || name == ".git")
                test::MakeDirs(c.folder + "\\" + name);
            else
                WriteRaw(c.folder + "\\" + name, "x");
        }
        const std::vector<std::string> expected = Sorted(c.names);
        EXPECT_EQ(Sorted(files.ListDirectory(c.folder)), expected) << c.folder;
        EXPECT_EQ(Sorted(files.ListDirectory(c.folder + "\\")), expected) << c.folder;
    }
}

TEST(Win32FilesList, FailureNamesTheFolder) {
    TempDir dir("listfail");
    WriteRaw(dir / "karte.lua", "x");
    const struct {
        std::string folder;
        std::vector<std::uint32_t> codes;
    } cases[] = {
        {dir / "fehlt", {ERROR_PATH_NOT_FOUND}},
        {dir / "fehlt\\auch", {ERROR_PATH_NOT_FOUND}},
        // A file where a folder should be: Windows says the path is not found or
        // not a folder, Wine that the name is bad.
        {dir / "karte.lua", {ERROR_PATH_NOT_FOUND, ERROR_DIRECTORY, ERROR_INVALID_NAME}},
    };
    Win32Files files;
    for (const auto& c : cases) {
        const PlatformError e = ErrorOf([&] { files.ListDirectory(c.folder); });
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), e.Code()), c.codes.end())
            << c.folder << ": " << e.Code();
        EXPECT_EQ(e.Subject(), c.folder);
    }
}

// =====================================================================
// Relative paths, as a folder walk started at "." builds them

// Makes `folder` the working folder for the object's lifetime.
class WorkingFolder {
  public:
    explicit WorkingFolder(const std::string& folder) {
        wchar_t old[MAX_PATH + 1] = {};
        GetCurrentDirectoryW(MAX_PATH + 1, old);
        old_ = old;
        EXPECT_TRUE(SetCurrentDirectoryW(Widen(folder).c_str()))
            << folder << ": " << GetLastError();
    }
    ~WorkingFolder() { SetCurrentDirectoryW(old_.c_str()); }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    std::wstring old_;
};

// Windows' 260-character limit is on the full path, so a short relative path
// in a deep working folder needs the long form too.
TEST(Win32FilesPaths, RelativePathsBeyond260Characters) {
    TempDir dir("relative");
    std::string deep = dir.Path();
    for (int level = 0; deep.size() < 200; ++level)
        deep += "\\Arbeitsordner-" + std::to_string(level);
    const std::string folder = "Karten-mit-einem-recht-langen-Namen\\" + kUmlauts;
    const std::string script = folder + "\\karte.lua";
    test::MakeDirs(deep + "\\" + folder);
    ASSERT_GT(deep.size() + 1 + script.size(), 260u);
    WorkingFolder working(deep);

    EXPECT_EQ(FilePath(script).rfind(L"\\\\?\\", 0), 0u) << Narrow(FilePath(script));
    Win32Files files;
    // Through a temporary file, flushed and moved: WriteNewFile, FlushFiles, MoveFile.
    WriteFileSafely(files, script, "alt", file_attr::Normal, false);
    files.LinkFile(script, folder + "\\karte.bak");
    files.MoveFile(folder + "\\karte.bak", folder + "\\karte2.bak", false);
    EXPECT_EQ(files.ReadWholeFile(script), "alt");
    EXPECT_EQ(files.KindOf(script), PathKind::File);
    EXPECT_EQ(files.KindOf(folder), PathKind::Directory);
    EXPECT_EQ(Sorted(files.ListDirectory(folder)),
              (std::vector<std::string>{"karte.lua", "karte2.bak"}));
    EXPECT_EQ(ReadRaw(deep + "\\" + folder + "\\karte2.bak"), "alt");
}

// Every way of naming a file reaches it, device names too: the working
// folder's, the drive's own working folder, the current drive's root, and "/",
// "." and "..".
TEST(Win32FilesPaths, EveryFormReachesTheFileNamedAsADevice) {
    TempDir dir("device-names");
    test::MakeDirs(dir / "Unter");
    const std::string drive = dir.Path().substr(0, 2); // "C:"
    const std::string rootRelative = dir.Path().substr(2);
    WorkingFolder working(dir.Path());
    const struct {
        std::string path;
        std::string file; // in the test folder
    } cases[] = {
        {"con.lua", "con.lua"},
        {".\\Unter\\..\\nul.lua", "nul.lua"},
        {drive + "aux.lua", "aux.lua"},
        {rootRelative + "\\com1.lua", "com1.lua"},
        {dir.Path() + "/Unter//../prn.lua", "prn.lua"},
        {dir.Path() + "\\Unter\\lpt1.lua", "Unter\\lpt1.lua"},
    };
    Win32Files files;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(files.KindOf(c.path), PathKind::Missing);
        files.WriteNewFile(c.path, "x = 1\r\n", file_attr::Normal);
        EXPECT_EQ(ReadRaw(dir / c.file), "x = 1\r\n");
        EXPECT_TRUE(files.FileExists(c.path));
        EXPECT_EQ(files.KindOf(c.path), PathKind::File);
        files.LinkFile(c.path, c.path + ".bak");
        files.DeleteFile(c.path);
        files.MoveFile(c.path + ".bak", c.path, false);
        EXPECT_EQ(files.ReadWholeFile(c.path), "x = 1\r\n");
        files.DeleteFile(c.path);
        EXPECT_EQ(files.KindOf(c.path), PathKind::Missing);
    }
    EXPECT_EQ(Sorted(files.ListDirectory(".")), (std::vector<std::string>{"Unter"}));
}

// =====================================================================
// Now: the user's own short date and long time formats

TEST(Win32FilesNow, FollowsTheUsersFormats) {
    const struct {
        const wchar_t* date;
        const wchar_t* time;
        char dateSeparator; // proves the format took effect
        char timeSeparator;
    } cases[] = {
        {L"dd.MM.yyyy", L"HH:mm:ss", '.', ':'},
        {L"yyyy/MM/dd", L"h:mm:ss tt", '/', ':'},
        {L"d-M-yy", L"HH.mm.ss", '-', '.'},
    };
    Win32Files files;
    for (const auto& c : cases) {
        test::UserFormats formats(c.date, c.time);
        if (!formats.Ok())
            GTEST_SKIP() << "the user's formats cannot be set here: " << GetLastError();
        for (int attempt = 0;; ++attempt) {
            ASSERT_LT(attempt, 5) << "the clock did not stay within one second";
            SYSTEMTIME before, after;
            GetLocalTime(&before);
            const DateTimeTexts now = files.Now();
            GetLocalTime(&after);
            const DateTimeTexts expected = test::RegionalTexts(before);
            const DateTimeTexts later = test::RegionalTexts(after);
            if (expected.date != later.date || expected.time != later.time)
                continue; // a second went by: try again
            EXPECT_EQ(now.date, expected.date);
            EXPECT_EQ(now.time, expected.time);
            EXPECT_NE(now.date.find(c.dateSeparator), std::string::npos) << now.date;
            EXPECT_NE(now.time.find(c.timeSeparator), std::string::npos) << now.time;
            break;
        }
    }
}

// =====================================================================
// Two threads

// The companion stages scripts on two threads at once, and one thread commits
// them: one Win32Files serves both, its files held open (each thread's its
// own, the list of them shared). Each thread stages its scripts and takes
// every other one back again; then the rest are committed. Every script ends
// with its new bytes and its backup, or its old ones and none, and no
// temporary file stays.
TEST(Win32FilesThreads, TwoThreadsStageAndTakeBackScriptsAtOnce) {
    TempDir dir("threads");
    Win32Files files;
    constexpr std::size_t kEach = 150;
    const std::string oldBytes = "-- Gr\xFC\xDF"
                                 "e\r\n";
    const std::string newBytes = "-- Gr\xC3\xBC\xC3\x9F"
                                 "e\r\n";
    std::vector<StagedScript> kept[2];
    std::string failure[2];
    const auto stage = [&](std::size_t thread) {
        try {
            for (std::size_t i = 0; i < kEach; ++i) {
                const std::string script =
                    dir / ("s" + std::to_string(thread) + "_" + std::to_string(i) + ".lua");
                const StampedBytes read = files.ReadStampedFile(script);
                StagedScript staged = StageScript(files, script, read.bytes, newBytes, true,
                                                  BackupBy::LinkOrCopy, read.stamp);
                if (i % 2)
                    DiscardStagedScript(files, staged);
                else
                    kept[thread].push_back(std::move(staged));
            }
        } catch (const PlatformError& error) {
            failure[thread] = error.Subject() + ": " + error.Text();
        }
    };
    for (std::size_t thread = 0; thread < 2; ++thread)
        for (std::size_t i = 0; i < kEach; ++i)
            WriteRaw(dir / ("s" + std::to_string(thread) + "_" + std::to_string(i) + ".lua"),
                     oldBytes);
    std::thread other(stage, 1);
    stage(0);
    other.join();
    EXPECT_EQ(failure[0], "");
    EXPECT_EQ(failure[1], "");
    std::vector<StagedScript> all = kept[0];
    all.insert(all.end(), kept[1].begin(), kept[1].end());
    EXPECT_TRUE(CommitScripts(files, all).empty());
    std::size_t scripts = 0, backups = 0;
    for (const std::string& name : NamesIn(dir.Path())) {
        EXPECT_EQ(name.find("velmo-tmp"), std::string::npos) << name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0) {
            ++backups;
            EXPECT_EQ(ReadRaw(dir / name), oldBytes) << name;
            continue;
        }
        ++scripts;
        const std::size_t i = std::stoul(name.substr(name.find('_') + 1));
        EXPECT_EQ(ReadRaw(dir / name), i % 2 ? oldBytes : newBytes) << name;
    }
    EXPECT_EQ(scripts, 2 * kEach);
    EXPECT_EQ(backups, kEach);
}

// ---- what the batch keeps of a script

// The script's DACL as text (SDDL), empty where it cannot be read.
std::string DaclOf(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    std::string text;
    if (GetNamedSecurityInfoW(Widen(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return text;
    wchar_t* sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        text = Narrow(sddl);
        LocalFree(sddl);
    }
    LocalFree(descriptor);
    return text;
}

// A script given a DACL of its own (protected from its folder's, and one
// inheriting besides its own entries) has the same DACL after the batch has
// replaced it, with its backup made by a second name.
TEST(Win32FilesBatch, AConvertedScriptKeepsItsDacl) {
    const struct {
        const char* dacl;
        const char* entry; // one of its own entries, as read back
    } kDacls[] = {{"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)", "(A;;FR;;;WD)"},
                  {"D:(A;;FA;;;SY)(A;;0x1200a9;;;BU)", "(A;;0x1200a9;;;BU)"}};
    for (const auto& [wanted, entry] : kDacls) {
        SCOPED_TRACE(wanted);
        TempDir dir("dacl");
        const std::string script = dir / "karte.lua";
        WriteRaw(script, "-- \xE4\r\n");
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            Widen(wanted).c_str(), SDDL_REVISION_1, &descriptor, nullptr));
        BOOL present = FALSE, defaulted = FALSE;
        PACL dacl = nullptr;
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        const DWORD set = SetNamedSecurityInfoW(Widen(script).data(), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION |
                                                    ((control & SE_DACL_PROTECTED)
                                                         ? PROTECTED_DACL_SECURITY_INFORMATION
                                                         : UNPROTECTED_DACL_SECURITY_INFORMATION),
                                                nullptr, nullptr, dacl, nullptr);
        LocalFree(descriptor);
        const std::string before = DaclOf(script);
        if (set != ERROR_SUCCESS || before.find(entry) == std::string::npos)
            GTEST_SKIP() << "this system keeps no ACL entries of a file of its own (Wine makes "
                            "them from the Unix mode; set "
                         << set << ", read " << before << ")";
        Win32Files files;
        batch::BatchEvents quiet;
        batch::BatchRequest request;
        request.paths = {dir.Path()};
        const batch::BatchResult result = batch::RunBatch(files, files, request, quiet);
        EXPECT_EQ(result.tally.changed, 1u);
        EXPECT_EQ(ReadRaw(script), "-- \xC3\xA4\r\n");
        EXPECT_EQ(DaclOf(script), before);
    }
}

} // namespace
} // namespace velmo
