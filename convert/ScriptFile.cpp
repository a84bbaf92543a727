#include "convert/ScriptFile.h"

#include <algorithm>
#include <string_view>

namespace velmo {
namespace {

constexpr int kMaxNameTries = 1000;

bool FitsInFileName(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32)
        return false;
    switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '/':
    case '\\':
    case '|':
    case '?':
    case '*':
    case '.':
        return false;
    default:
        return true;
    }
}

// The longest file name most file systems take (ext4, NTFS, FAT's long names,
// exFAT), in bytes of UTF-8, which never has fewer bytes than UTF-16 units.
constexpr std::size_t kMostNameBytes = 255;
// What a temporary file's name adds after its stem: ".<n>.velmo-tmp", n below
// 100000.
constexpr std::size_t kTemporarySuffixRoom = 16;

// The start of the temporary files' names of `target`: "~" and the script's
// name. Where that would make them longer than a file name may be, the
// script's name is cut short at a character's start and a number reckoned
// from the whole name follows, so that the temporary's name never limits the
// script's, and two long names that begin alike still get temporaries of
// their own.
std::string TemporaryStem(const std::string& target) {
    const std::size_t nameStart = FileNameStart(target);
    const std::string name = target.substr(nameStart);
    if (1 + name.size() + kTemporarySuffixRoom <= kMostNameBytes)
        return target.substr(0, nameStart) + "~" + name;
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string mark = "-";
    for (int shift = 28; shift >= 0; shift -= 4)
        mark += kHex[(hash >> shift) & 0xF];
    std::size_t keep = kMostNameBytes - 1 - mark.size() - kTemporarySuffixRoom;
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep; // never half a character
    return target.substr(0, nameStart) + "~" + name.substr(0, keep) + mark;
}

bool NameTaken(const PlatformError& error) {
    return error.Code() == win_error::FileExists || error.Code() == win_error::AlreadyExists;
}

// Why a new file beside a script could not be made, where the number alone does
// not say it.
ErrorCause CauseOfNewFile(const PlatformError& error) {
    if (error.Cause() != ErrorCause::Unknown)
        return error.Cause(); // the platform knew it better
    switch (error.Code()) {
    case win_error::AccessDenied:
        return ErrorCause::FolderNotWritable;
    case win_error::FilenameTooLong:
        return ErrorCause::NameTooLong;
    default:
        return error.Cause();
    }
}

// Removes a temporary file after a failure; false when it could not be removed.
bool Discard(FileServices& files, const std::string& temporary) {
    try {
        files.DeleteFile(temporary);
        return true;
    } catch (const PlatformError&) {
        return false; // the first error is the one to report
    }
}

// Makes the backup of `oldText` under the first free backup name and returns
// that name; `shared` tells whether it is a second name for the script's file.
// A copy gets the script's permissions, so it is as private as the script it
// keeps, and is written through one of the script's temporary files.
std::string MakeBackup(FileServices& files, const std::string& path, const ByteSource& oldText,
                       BackupBy method, bool& shared, const std::optional<DateTimeTexts>& at) {
    const DateTimeTexts now = at ? *at : files.Now();
    for (int counter = 1;; ++counter) {
        if (counter > kMaxNameTries)
            throw files.Error(win_error::FileExists, BackupName(path, now));
        const std::string name = BackupName(path, now, counter);
        if (method == BackupBy::LinkOrCopy) {
            // The link itself says when the name is taken: no look beforehand.
            try {
                files.LinkFile(path, name);
                shared = true;
                return name;
            } catch (const PlatformError& error) {
                if (NameTaken(error))
                    continue;
                // No links on this file system (or not allowed): a copy instead.
            }
        }
        if (files.FileExists(name))
            continue;
        try {
            WriteFileSafely(files, name, oldText, file_attr::Normal, false, path);
        } catch (const PlatformError& e) {
            // The backup is the script's: told of the script.
            throw e.About(path, CauseOfNewFile(e));
        }
        return name;
    }
}

} // namespace

std::size_t FileNameStart(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? 0 : slash + 1;
}

std::optional<FileStamp> StampIfThere(FileServices& files, const std::string& path) {
    try {
        return files.StampOf(path);
    } catch (const PlatformError& e) {
        if (e.Code() == win_error::FileNotFound)
            return std::nullopt;
        throw;
    }
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t nameStart = FileNameStart(path);
    if (nameStart == 0)
        return ".";
    if (nameStart == 1)
        return path.substr(0, 1); // "/" itself
    // "C:\" keeps its separator: "C:" alone would mean that drive's current directory.
    if (nameStart == 3 && path[1] == ':')
        return path.substr(0, 3);
    return path.substr(0, nameStart - 1);
}

void LoadScript(FileServices& files, const std::string& path, ScriptTexts& texts,
                const ScriptLimits& limits) {
    FileStamp stamp;
    ScriptContent content = ReadScriptContent(files, path, limits, stamp);
    texts.ScriptText = content;
    texts.OriginalText = std::move(content);
    texts.Stamp = stamp;
}

namespace {

// Every character a file name cannot hold (the dots among them, so that only
// the final ".bak" is one) made "_".
std::string CleanedForFileName(std::string text) {
    for (char& c : text)
        if (!FitsInFileName(c))
            c = '_';
    return text;
}

// How every backup's name of the script begins: the script's name, cleaned,
// and "_".
std::string BackupNameStart(const std::string& scriptPath) {
    return CleanedForFileName(scriptPath.substr(FileNameStart(scriptPath)) + "_");
}

} // namespace

std::size_t NamesBesidesBackups(FileServices& files, DirectoryServices& directories,
                                const std::string& path, const FileStamp& stamp) {
    if (stamp.links <= 1)
        return 0;
    // Counted now, with the backup this run has just linked among them.
    std::size_t others = stamp.links - 1;
    try {
        if (const FileStamp now = files.StampOf(path); now.SameFile(stamp) && now.links >= 1)
            others = now.links - 1;
    } catch (const PlatformError&) {
        return others;
    }
    const std::size_t nameStart = FileNameStart(path);
    try {
        for (const std::string& name :
             directories.ListDirectoryStarting(DirectoryOf(path), BackupNameStart(path))) {
            if (others == 0)
                break;
            if (!IsBackupNameOf(path, name))
                continue;
            try {
                if (files.StampOf(path.substr(0, nameStart) + name).SameFile(stamp))
                    --others;
            } catch (const PlatformError&) {
                // gone meanwhile: not one of its names
            }
        }
    } catch (const PlatformError&) {
        return stamp.links - 1;
    }
    return std::min<std::size_t>(others, stamp.links - 1);
}

std::string BackupName(const std::string& scriptPath, const DateTimeTexts& now, int counter) {
    std::string name = scriptPath.substr(0, FileNameStart(scriptPath))
                           .append(BackupNameStart(scriptPath))
                           .append(BackupStamp(now));
    if (counter > 1)
        name.append("_").append(std::to_string(counter));
    return name.append(".bak");
}

std::string BackupStamp(const DateTimeTexts& now) {
    return CleanedForFileName(now.date + "_" + now.time);
}

std::size_t StampParts(std::string_view stamp) {
    return static_cast<std::size_t>(std::count(stamp.begin(), stamp.end(), '_')) + 1;
}

std::optional<BackupNameParts> ParseBackupName(const std::string& scriptPath,
                                               std::string_view fileName, std::size_t stampParts) {
    const std::string script = BackupNameStart(scriptPath);
    constexpr std::string_view kEnd = ".bak";
    if (fileName.size() <= script.size() + kEnd.size() || !fileName.starts_with(script) ||
        !fileName.ends_with(kEnd))
        return std::nullopt;
    const std::string_view rest =
        fileName.substr(script.size(), fileName.size() - script.size() - kEnd.size());
    if (rest.find_first_of(".\\/:") != std::string_view::npos)
        return std::nullopt;
    BackupNameParts parts;
    if (stampParts == 0 || StampParts(rest) == stampParts) {
        parts.stamp = rest;
        return parts;
    }
    // One part more: a counter, 2 to the most names tried.
    const std::size_t last = rest.rfind('_');
    if (StampParts(rest) != stampParts + 1)
        return std::nullopt;
    const std::string_view counter = rest.substr(last + 1);
    if (counter.empty() || counter.size() > 4 || counter.front() == '0' ||
        counter.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    parts.counter = std::stoi(std::string(counter));
    if (parts.counter < 2 || parts.counter > kMaxNameTries)
        return std::nullopt;
    parts.stamp = rest.substr(0, last);
    return parts;
}

bool IsBackupNameOf(const std::string& scriptPath, const std::string& name) {
    // Date and time follow the script's name, "_" between them.
    const auto parts = ParseBackupName(scriptPath, name, 0);
    return parts && parts->stamp.find('_') != std::string::npos;
}

std::size_t RemoveStrayBackups(FileServices& files, DirectoryServices& directories,
                               const StagedScript& staged) {
    // Only where this run keeps the old bytes in a backup of its own: without
    // one, a stray name is the only copy of the old text once the script is
    // replaced, and stays as its backup.
    if (staged.backup.empty() || staged.otherRunSeen || !staged.expected)
        return 0;
    // Its own name and this run's backup by link are names it has anyway: a
    // file with no more (as good as every script) is not looked at again.
    if (staged.expected->links <= (staged.backupShared ? 2u : 1u))
        return 0;
    const std::string& path = staged.path;
    const std::size_t nameStart = FileNameStart(path);
    const std::string own = staged.backup.substr(FileNameStart(staged.backup));
    std::size_t removed = 0;
    try {
        // Still the file staged: the names of a file another program has
        // put in its place meanwhile may be the only ones of its old text.
        const FileStamp script = files.StampOf(path);
        if (!script.SameFile(*staged.expected))
            return 0;
        for (const std::string& name :
             directories.ListDirectoryStarting(DirectoryOf(path), BackupNameStart(path))) {
            if (name == own || !IsBackupNameOf(path, name))
                continue;
            const std::string backup = path.substr(0, nameStart) + name;
            try {
                if (!files.StampOf(backup).SameFile(script))
                    continue; // a backup of an earlier text: a file of its own
                files.DeleteFile(backup);
                ++removed;
            } catch (const PlatformError&) {
                // gone meanwhile, or not removable: it stays
            }
        }
    } catch (const PlatformError&) {
        // the script or its folder cannot be looked at: nothing more goes
    }
    return removed;
}

std::string WriteTemporary(FileServices& files, const std::string& target, const ByteSource& bytes,
                           std::uint32_t attributes, std::size_t* leftoversRemoved,
                           bool* inUseSeen) {
    const std::string stem = TemporaryStem(target);
    auto nameOf = [&stem](int n) { return stem + "." + std::to_string(n) + ".velmo-tmp"; };
    std::size_t removed = 0;
    bool inUse = false;
    int n = 1;
    std::string temporary;
    for (int tries = 1;; ++tries) {
        temporary = nameOf(n);
        try {
            files.WriteNewFileFrom(temporary, bytes, attributes & ~file_attr::ReadOnly);
            break;
        } catch (const PlatformError& e) {
            // Told of the file the user knows, never of the temporary one.
            if (!NameTaken(e) || tries >= kMaxNameTries)
                throw e.About(target, CauseOfNewFile(e));
        }
        // The name is taken: by a leftover of a run that could not clean up
        // (killed, a power failure), which goes and frees it, or by the
        // temporary file of another running program, which stays.
        switch (files.RemoveLeftover(temporary)) {
        case Leftover::Removed:
            ++removed;
            break;
        case Leftover::None: // gone meanwhile: the name is free again
            break;
        case Leftover::InUse:
            ++n;
            inUse = true;
            break;
        }
    }
    // Leftovers of further runs follow on the next numbers: swept up to the
    // first free one.
    for (int next = n + 1; next < n + kMaxNameTries; ++next) {
        const Leftover found = files.RemoveLeftover(nameOf(next));
        if (found == Leftover::None)
            break;
        removed += found == Leftover::Removed;
        inUse = inUse || found == Leftover::InUse;
    }
    if (leftoversRemoved)
        *leftoversRemoved = removed;
    if (inUseSeen)
        *inUseSeen = inUse;
    return temporary;
}

void WriteFileSafely(FileServices& files, const std::string& target, const ByteSource& bytes,
                     std::uint32_t attributes, bool replaceExisting, const std::string& forScript) {
    const std::string temporary =
        WriteTemporary(files, forScript.empty() ? target : forScript, bytes, attributes);
    try {
        if (!forScript.empty() && files.FileExists(forScript))
            files.KeepPermissions(forScript, temporary);
        files.FlushFiles({temporary});
        files.MoveFile(temporary, target, replaceExisting);
    } catch (const PlatformError& e) {
        // The report names the file the user knows, or the temporary one left behind.
        const bool removed = Discard(files, temporary);
        throw e.About(removed ? target : temporary, e.Cause());
    }
    try {
        files.SyncDirectories({DirectoryOf(target)});
    } catch (const PlatformError&) {
        // A new file whose name may not survive a power failure is taken back:
        // the call leaves nothing it was not sure to make.
        if (!replaceExisting)
            Discard(files, target);
        throw;
    }
}

namespace {

// The script's attributes, for its new text; `exists` tells whether there is
// a script to replace at all.
std::uint32_t ScriptAttributes(FileServices& files, const std::string& path, bool& exists) {
    // One question: the attributes, or that nothing is there.
    constexpr std::uint32_t kPathNotFound = 3;
    try {
        const std::uint32_t attributes = files.FileAttributes(path);
        exists = true;
        return attributes;
    } catch (const PlatformError& e) {
        if (e.Code() != win_error::FileNotFound && e.Code() != kPathNotFound)
            throw;
        exists = false;
        return file_attr::Normal;
    }
}

// Makes the staged script's backup; on failure none is left.
void AttachBackup(FileServices& files, StagedScript& staged, const ByteSource& oldText,
                  BackupBy method, const std::optional<FileStamp>& asRead,
                  const std::optional<DateTimeTexts>& at) {
    const std::string& path = staged.path;
    staged.backup = MakeBackup(files, path, oldText, method, staged.backupShared, at);
    if (!staged.backupShared || !asRead)
        return;
    // A link keeps whatever the script holds now, which must still be the
    // text as read.
    std::optional<FileStamp> now;
    try {
        now = StampIfThere(files, path);
    } catch (const PlatformError&) {
        Discard(files, staged.backup);
        throw;
    }
    if (!now || !now->SameContents(*asRead)) {
        Discard(files, staged.backup);
        throw ChangedMeanwhile(path);
    }
    staged.expected = now;
}

// Takes back what was staged for a script: its temporary file and backup.
void TakeBack(FileServices& files, const StagedScript& staged) {
    if (!staged.temporary.empty())
        Discard(files, staged.temporary);
    if (!staged.backup.empty())
        Discard(files, staged.backup);
}

// Gives the new text the script's permissions; on failure takes back what
// was staged.
void KeepScriptPermissions(FileServices& files, const StagedScript& staged) {
    try {
        files.KeepPermissions(staged.path, staged.temporary);
    } catch (const PlatformError& e) {
        const bool removed = Discard(files, staged.temporary);
        if (!staged.backup.empty())
            Discard(files, staged.backup);
        throw e.About(removed ? staged.path : staged.temporary, e.Cause());
    }
}

} // namespace

void RefuseUnreplaceable(FileServices& files, const std::string& path, std::uint32_t attributes) {
    // Windows refuses to replace a read-only file, and a POSIX rename would
    // replace it regardless: a read-only script is refused before it is touched.
    if (attributes & file_attr::ReadOnly)
        throw files.NotWritable(path);
    if (std::optional<PlatformError> refusal = files.ReplaceRefusal(path))
        throw *refusal;
}

void RefuseUnreplaceable(FileServices& files, const std::string& path) {
    bool exists = false;
    RefuseUnreplaceable(files, path, ScriptAttributes(files, path, exists));
}

StagedScript StageScript(FileServices& files, const std::string& path, const ByteSource& oldText,
                         const ByteSource& newText, bool backup, BackupBy method,
                         const std::optional<FileStamp>& asRead,
                         const std::optional<DateTimeTexts>& runStarted) {
    bool exists = false;
    const std::uint32_t attributes = ScriptAttributes(files, path, exists);
    RefuseUnreplaceable(files, path, attributes);
    StagedScript staged;
    staged.path = path;
    staged.expected = asRead;
    if (backup)
        AttachBackup(files, staged, oldText, method, asRead, runStarted);
    try {
        staged.temporary = WriteTemporary(files, path, newText, attributes,
                                          &staged.leftoversRemoved, &staged.otherRunSeen);
    } catch (...) {
        // The script stays as it is: the backup made for it only takes room
        // (on a full disk, too), and it holds the same bytes as the script.
        TakeBack(files, staged);
        throw;
    }
    if (exists)
        KeepScriptPermissions(files, staged);
    return staged;
}

StagedScript StageScriptDecidedOnTheWay(FileServices& files, const std::string& path,
                                        const ByteSource& oldText, const ByteSource& newText,
                                        const std::function<bool()>& converts, bool backup,
                                        BackupBy method, const std::optional<FileStamp>& asRead,
                                        const std::optional<DateTimeTexts>& runStarted) {
    // What the script is decides first (a refused one is told as refused,
    // also where it is read-only); the read-only refusal then comes before
    // the backup, as in StageScript.
    bool exists = false;
    const std::uint32_t attributes = ScriptAttributes(files, path, exists);
    StagedScript staged;
    staged.path = path;
    staged.expected = asRead;
    staged.temporary = WriteTemporary(files, path, newText, attributes, &staged.leftoversRemoved,
                                      &staged.otherRunSeen);
    try {
        if (!converts()) {
            TakeBack(files, staged);
            staged.temporary.clear();
            return staged;
        }
        RefuseUnreplaceable(files, path, attributes);
        if (backup)
            AttachBackup(files, staged, oldText, method, asRead, runStarted);
    } catch (...) {
        TakeBack(files, staged);
        throw;
    }
    if (exists)
        KeepScriptPermissions(files, staged);
    return staged;
}

std::vector<CommitFailure> CommitScripts(FileServices& files,
                                         const std::vector<StagedScript>& staged) {
    std::vector<CommitFailure> failures;
    if (staged.empty())
        return failures;
    // What each script needs durable before it is replaced: its new text and,
    // when the backup shares the script's old file, that file.
    auto filesOf = [](const StagedScript& s) {
        std::vector<std::string> names = {s.temporary};
        if (s.backupShared)
            names.push_back(s.backup);
        return names;
    };
    std::vector<std::string> toFlush, directories;
    for (const StagedScript& s : staged) {
        for (std::string& name : filesOf(s))
            toFlush.push_back(std::move(name));
        directories.push_back(DirectoryOf(s.path));
    }
    std::sort(directories.begin(), directories.end());
    directories.erase(std::unique(directories.begin(), directories.end()), directories.end());

    // A script that is not replaced keeps its old bytes, so the backup made for
    // it in this run goes with its temporary file.
    auto fail = [&](std::size_t i, const PlatformError& e) {
        const bool removed = Discard(files, staged[i].temporary);
        if (!staged[i].backup.empty())
            Discard(files, staged[i].backup);
        failures.push_back({i, e.About(removed ? staged[i].path : staged[i].temporary, e.Cause())});
    };
    // Nothing is replaced before its new text and its backup are durable. When
    // the flush of all together fails, each script's files are flushed on their
    // own, so that one file held open by another program holds back only its script.
    std::vector<bool> ready(staged.size(), true);
    try {
        files.FlushFiles(toFlush);
    } catch (const PlatformError& e) {
        if (staged.size() == 1) {
            fail(0, e);
            return failures;
        }
        for (std::size_t i = 0; i < staged.size(); ++i) {
            try {
                files.FlushFiles(filesOf(staged[i]));
            } catch (const PlatformError& single) {
                fail(i, single);
                ready[i] = false;
            }
        }
    }
    try {
        files.SyncDirectories(directories);
    } catch (const PlatformError& e) {
        for (std::size_t i = 0; i < staged.size(); ++i)
            if (ready[i])
                fail(i, e);
        std::sort(failures.begin(), failures.end(),
                  [](const CommitFailure& a, const CommitFailure& b) { return a.index < b.index; });
        return failures;
    }

    // Right before its replace, each script is checked to be the file as read:
    // what another program wrote meanwhile stays. A write can still slip in
    // between this look and the rename, two system calls apart.
    std::vector<std::size_t> replaced;
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (!ready[i])
            continue;
        try {
            if (const auto& expected = staged[i].expected) {
                const std::optional<FileStamp> now = StampIfThere(files, staged[i].path);
                if (!now || !now->SameContents(*expected)) {
                    fail(i, ChangedMeanwhile(staged[i].path));
                    continue;
                }
            }
            files.MoveFile(staged[i].temporary, staged[i].path, true);
            replaced.push_back(i);
        } catch (const PlatformError& e) {
            fail(i, e);
        }
    }
    try {
        if (!replaced.empty())
            files.SyncDirectories(directories);
    } catch (const PlatformError& e) {
        // The scripts hold their new bytes, but that is not yet certain to survive
        // a power failure: say so for each.
        for (std::size_t i : replaced)
            failures.push_back({i, e.About(staged[i].path, e.Cause())});
    }
    // Failures of the flush and of the replace come in two runs: in list order again.
    std::sort(failures.begin(), failures.end(),
              [](const CommitFailure& a, const CommitFailure& b) { return a.index < b.index; });
    return failures;
}

void DiscardStagedScript(FileServices& files, const StagedScript& staged) {
    TakeBack(files, staged);
}

void SaveScript(FileServices& files, const std::string& path, const ScriptTexts& texts,
                bool backup) {
    const StagedScript staged =
        StageScript(files, path, texts.OriginalText.Source(files), texts.ScriptText.Source(files),
                    backup, BackupBy::Copy, texts.Stamp);
    std::vector<CommitFailure> failures = CommitScripts(files, {staged});
    if (!failures.empty())
        throw failures.front().error;
}

} // namespace velmo
