// Taking a run back: every script a batch converted gets its old text again
// from the backup the batch made, for both front ends (the window's
// "Rückgängig machen" and the companion's rueckgaengig). A run is told by the
// stamp its backups share: the moment the batch began (see BackupStamp).
#pragma once

#include "batch/Walk.h"
#include "convert/ScriptContent.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::batch {

// A script of a run and the backup the run made of it.
struct RunBackup {
    std::string script;
    std::string backup;
};

// The backups of one run found below the paths, in walk order.
struct FoundRun {
    std::string stamp;
    std::vector<RunBackup> backups;
};

// The runs whose backups lie beside the scripts below `paths` (found as a
// batch finds its scripts), ordered by their stamps' text. A backup's stamp
// has as many parts as those the batch would name now (the same regional
// settings), or as `stamp` where one is given; then only that run is
// returned. Where the run is known (`stamp`, or only one found), a script
// named itself (not found in a folder) that has no backup of it is in
// `missing`: its backup was deleted since. (A script found in a folder
// without a backup is no script of the run.)
struct FoundRuns {
    std::vector<FoundRun> runs;
    std::vector<std::string> missing;
};
FoundRuns FindRuns(FileServices& files, DirectoryServices& directories,
                   const std::vector<std::string>& paths, const std::string& stamp,
                   const WalkEvents& events);

// Why a script of the run is left as it is.
enum class UndoLeft {
    ChangedSince, // no longer the bytes the run wrote
    BackupGone,   // its backup was deleted (or is no file now)
    ScriptGone,   // the script was deleted or renamed
    NotReplaced,  // the backup is the script's own file: the run never replaced it
};

// The words both front ends give for it, after the script's name.
std::string_view UndoLeftText(UndoLeft why);

struct UndoTally {
    std::size_t putBack = 0; // with check: would be put back
    std::size_t left = 0;
    std::size_t failed = 0;
};

struct UndoResult {
    UndoTally tally;
    std::size_t scripts = 0;
    bool stopped = false;
};

// What the undo tells as it goes, on the calling thread. The calls must not
// throw (as BatchEvents'); each has a default that does nothing.
class UndoEvents {
  public:
    virtual ~UndoEvents() = default;
    virtual void Started(std::size_t /*index*/, const std::string& /*script*/) {}
    virtual void Progress(std::size_t /*done*/, std::size_t /*total*/) {}
    // The script holds its old text again (with check: would).
    virtual void PutBack(const std::string& /*script*/) {}
    virtual void Left(const std::string& /*script*/, UndoLeft /*why*/) {}
    // Could not be put back: it holds what it held, the bytes the run wrote,
    // and its backup stays.
    virtual void Failed(const std::string& /*script*/, const PlatformError& /*error*/) {}
    // Asked before each script: true stops there. Scripts put back stay so.
    virtual bool StopRequested() { return false; }
};

// Puts back every script of the run from its backup, one at a time, where it
// still holds exactly the bytes the run wrote: its backup's text converted in
// the run's direction. The direction is not recorded; it is the one whose
// conversion of the backup gives the script's bytes. That is unambiguous:
// where anything converts, the conversion to the two-character form makes the
// text longer and the one back makes it shorter, so at most one of them can
// give the script's size; a backup neither changes is no text of the run.
//
// Putting back is one rename of the backup over the script, after the
// backup's bytes are durable and right after the script is seen to be
// unchanged: the script holds the run's bytes or its old ones at every moment,
// and gets back the very file it was, with its times and permissions (a
// backup by link), or the copy the run made of it (FAT, exFAT). Its backup is
// gone then; every other stays. The renames are made durable in rounds and
// before a stop. With `check` nothing changes; what would is told.
UndoResult UndoRun(FileServices& files, const std::vector<RunBackup>& backups, bool check,
                   UndoEvents& events, const ScriptLimits& limits = {});

} // namespace velmo::batch
