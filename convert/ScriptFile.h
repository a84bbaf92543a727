// Loading a script file and writing it back safely, with its backup.
#pragma once

#include "convert/ScriptContent.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// A load puts the same text in both; a conversion replaces ScriptText, so the
// text as read is kept for the backup without a second copy. A script too big
// to hold stays in its file, and both name it there.
struct ScriptTexts {
    ScriptContent ScriptText;
    ScriptContent OriginalText;
    // The file as it was read: a save replaces it only if nobody wrote it since.
    std::optional<FileStamp> Stamp;
};

// Reads the file into ScriptText and OriginalText (whole up to limits.whole
// bytes), with its stamp. On failure all stay as they were.
void LoadScript(FileServices& files, const std::string& path, ScriptTexts& texts,
                const ScriptLimits& limits = {});

// Writes ScriptText over the file (see StageScript and CommitScripts): with
// `backup`, OriginalText goes to a new backup file beside the script first; if
// that fails the script is left untouched. A read-only script is refused, and
// one written by another program since it was read keeps what it holds. Every
// failure leaves the script with its old or its new bytes and no temporary
// file, and a script left with its old bytes no backup made for it.
void SaveScript(FileServices& files, const std::string& path, const ScriptTexts& texts,
                bool backup);

// ---- the save in two steps, so that a batch of scripts shares its flushes.
//
// The order that keeps every script safe, also across a power failure: the
// backup is complete and durable under its final name, and the new text is
// durable in a temporary file, before the script is replaced; the replacing
// rename is then made durable.

enum class BackupBy {
    Copy,      // a flushed copy of the old text: always the text as it was read
    LinkOrCopy // a second name for the script's file, at no cost; a copy where
               // the file system has no links. Only when the file cannot have
               // changed since it was read.
};

// A script whose new text waits, not yet durable, in a temporary file beside it.
struct StagedScript {
    std::string path;
    std::string temporary;
    std::string backup; // the backup's name; empty without one
    // The backup is a second name for the script's old file: its bytes are
    // whatever the script's last writer left, perhaps never flushed.
    bool backupShared = false;
    // What the script must still be when it is replaced; none for a new file.
    std::optional<FileStamp> expected;
    // Temporary files of this script left by runs that ended without cleaning
    // up, removed while staging.
    std::size_t leftoversRemoved = 0;
    // A temporary file of this script that another running program holds was
    // met while staging: that program may be converting the script right now.
    bool otherRunSeen = false;
};

// Refuses a script the save could not replace, before anything is written
// for it: read-only, not writable for this user, on a read-only mount (error
// 5, or what NotWritable says), and what FileServices::ReplaceRefusal tells
// (another user's, a folder this user may not write, a file another program
// holds). The one rule of the save and of a check that writes nothing, so
// that the check names every script the conversion would refuse.
// `attributes` are the script's (FileAttributes); without them they are read.
void RefuseUnreplaceable(FileServices& files, const std::string& path, std::uint32_t attributes);
void RefuseUnreplaceable(FileServices& files, const std::string& path);

// Prepares replacing the script at `path` by `newText`: refuses what
// RefuseUnreplaceable refuses, makes the backup of `oldText` when asked (complete under its
// final name), and writes `newText` to a temporary file with the script's
// attributes and permissions. `asRead` is the script's stamp when `oldText` was
// read: a script changed since then is refused (ErrorCause::ChangedMeanwhile),
// now or when it is committed. The script itself is not touched. On failure no
// temporary file is left, and no backup made by this call. The backup is named
// for `runStarted` where given (every backup of one batch carries the moment
// the batch began, which tells its run), else for the time of the call.
StagedScript StageScript(FileServices& files, const std::string& path, const ByteSource& oldText,
                         const ByteSource& newText, bool backup, BackupBy method,
                         const std::optional<FileStamp>& asRead = std::nullopt,
                         const std::optional<DateTimeTexts>& runStarted = std::nullopt);
inline StagedScript StageScript(FileServices& files, const std::string& path,
                                const std::string& oldText, const std::string& newText, bool backup,
                                BackupBy method,
                                const std::optional<FileStamp>& asRead = std::nullopt,
                                const std::optional<DateTimeTexts>& runStarted = std::nullopt) {
    return StageScript(files, path, SourceOf(oldText), SourceOf(newText), backup, method, asRead,
                       runStarted);
}

// As StageScript, for a new text that is decided on while it is written: the
// new text is written first, then `converts` is asked; when it says no, the
// new text is taken back and nothing is staged (the result's temporary is
// empty); otherwise RefuseUnreplaceable is asked, and the backup is made
// after the new text.
StagedScript
StageScriptDecidedOnTheWay(FileServices& files, const std::string& path, const ByteSource& oldText,
                           const ByteSource& newText, const std::function<bool()>& converts,
                           bool backup, BackupBy method,
                           const std::optional<FileStamp>& asRead = std::nullopt,
                           const std::optional<DateTimeTexts>& runStarted = std::nullopt);

// Takes back a staged script that will not be committed (the run was asked to
// stop): its temporary file and the backup made for it go; the script itself
// was never touched. Never throws: what cannot be removed stays.
void DiscardStagedScript(FileServices& files, const StagedScript& staged);

struct CommitFailure {
    std::size_t index; // into the staged list
    PlatformError error;
};

// Makes the staged texts and backup names durable, replaces each script by its
// temporary file in one step, and makes the renames durable. A script another
// program has written since it was read is not replaced. A script that is not
// replaced keeps its bytes and loses its temporary file and the backup staged
// with it; the others go on. Returns the failures in the order of the list.
std::vector<CommitFailure> CommitScripts(FileServices& files,
                                         const std::vector<StagedScript>& staged);

// The backup's name for a script saved at `now`: in the script's own directory,
// the script's file name with date and time appended, every ".", ":" and any
// other character a file name cannot hold turned into "_", ending in ".bak".
// `counter` > 1 goes before ".bak" as "_<counter>" to avoid an existing backup.
std::string BackupName(const std::string& scriptPath, const DateTimeTexts& now, int counter = 1);

// The stamp a run's backups share, as it stands in their names: the date and
// time texts joined by "_" and cleaned as BackupName cleans them
// ("08_12_2026_21_59_53").
std::string BackupStamp(const DateTimeTexts& now);
// How many parts, separated by "_", a stamp has ("08_12_2026_21_59_53": 6).
// Backups made under the same regional settings have stamps of the same count,
// which is what tells a counter after the stamp from the stamp's last part.
std::size_t StampParts(std::string_view stamp);

// What a backup's file name was made from.
struct BackupNameParts {
    std::string stamp; // as BackupStamp gives it
    int counter = 1;   // BackupName's `counter`
};
// Recognises `fileName` (a name without its folder) as one BackupName makes
// for the script at `scriptPath`, and gives its stamp and counter: the
// script's file name as cleaned, "_", a stamp of `stampParts` parts (see
// StampParts), an optional "_<counter>" (2-1000), ".bak". With `stampParts` 0
// every part between the script's name and ".bak" is the stamp, a counter
// included. Nothing where the name is no backup of that script.
std::optional<BackupNameParts> ParseBackupName(const std::string& scriptPath,
                                               std::string_view fileName, std::size_t stampParts);
// Whether `name` (a file name in the script's folder, without the folder) has
// the form BackupName gives the backups of the script at `scriptPath`, at any
// date, time and counter. The form alone proves nothing: a file of the user's
// may be named so.
bool IsBackupNameOf(const std::string& scriptPath, const std::string& name);

// Removes the backups by link that runs which died between making a script's
// backup and replacing the script have left: names of the backup form that
// are the very file the script still is (a replaced script is a new file, so
// a backup of a run that finished never is). `staged` is this run's staging
// of the script: its own backup stays, and nothing is removed when another
// running program holds a temporary file of the script (that run's backup
// may be one of the names). Copy backups (drives without links) are never
// touched. Returns how many went. Never throws.
std::size_t RemoveStrayBackups(FileServices& files, DirectoryServices& directories,
                               const StagedScript& staged);

// How many names the script's file has beyond `path` that are not its own
// backups (hard links a backup by link made, this run's or an earlier one's
// that ended before replacing the script): the other names that keep its old
// text when it is replaced. 0 where `stamp` counts one name. Never throws:
// where its folder cannot be listed, every other name counts.
std::size_t NamesBesidesBackups(FileServices& files, DirectoryServices& directories,
                                const std::string& path, const FileStamp& stamp);

// Position just behind the last path separator: where the file name starts.
std::size_t FileNameStart(const std::string& path);
// The directory part of a path, without its last separator ("." for a bare name).
std::string DirectoryOf(const std::string& path);
// The stamp of what is at the path now; none when nothing is.
std::optional<FileStamp> StampIfThere(FileServices& files, const std::string& path);

// Writes the bytes to a new file in the same directory as `target`, named
// "~<name>.<n>.velmo-tmp" with the first free n (a long name cut short to
// leave room, with a number reckoned from it), and returns its name. The file
// is not yet durable. Temporary files of `target` that runs which ended without
// cleaning up have left are removed on the way (those of running programs
// stay); `leftoversRemoved`, where given, counts them, and `inUseSeen`, where
// given, tells whether one of a running program was met.
std::string WriteTemporary(FileServices& files, const std::string& target, const ByteSource& bytes,
                           std::uint32_t attributes, std::size_t* leftoversRemoved = nullptr,
                           bool* inUseSeen = nullptr);
inline std::string WriteTemporary(FileServices& files, const std::string& target,
                                  const std::string& bytes, std::uint32_t attributes,
                                  std::size_t* leftoversRemoved = nullptr) {
    return WriteTemporary(files, target, SourceOf(bytes), attributes, leftoversRemoved);
}

// Writes `bytes` to `target` through a temporary file that is flushed and then
// moved into place in one step (replacing an existing target only with
// `replaceExisting`); the rename is made durable. With `forScript` (a backup
// written for that script), the new file gets the script's owner and
// permissions first, and its temporary file is one of the script's, so that
// the script's next save removes it should this one be killed. A new target
// whose rename could not be made durable is removed again.
void WriteFileSafely(FileServices& files, const std::string& target, const ByteSource& bytes,
                     std::uint32_t attributes, bool replaceExisting,
                     const std::string& forScript = {});
inline void WriteFileSafely(FileServices& files, const std::string& target,
                            const std::string& bytes, std::uint32_t attributes,
                            bool replaceExisting, const std::string& forScript = {}) {
    WriteFileSafely(files, target, SourceOf(bytes), attributes, replaceExisting, forScript);
}

} // namespace velmo
