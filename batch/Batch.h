// The batch engine: converts (or checks) many scripts at once for both front
// ends, the companion on the console and the window with its progress dialog.
// It finds the scripts below the paths given (folders with their subfolders,
// *.lua in any letter case, hidden folders, links and non-files left out, a
// file reached twice done once), decides on each as one script is decided on,
// stages the converted ones and replaces them in commit rounds, stops at a safe
// point when asked and reads on two threads where it is told to. What it finds
// it tells through BatchEvents; the front end says it in its own words.
#pragma once

#include "convert/ScriptContent.h"
#include "convert/ScriptDecision.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <string>
#include <vector>

namespace velmo::batch {

// What to do with a script that would change and holds the guard word "UMLAUTE".
enum class GuardWord {
    Skip,    // leave it, with a notice (the companion without --trotzdem)
    Convert, // convert it like any other (the companion with --trotzdem)
    AskOnce, // collect all of them and ask BatchEvents::ConvertGuarded once for
             // the whole batch, after every other script is decided on (the window)
};

struct BatchRequest {
    std::vector<std::string> paths; // files and folders, as the user named them
    Direction direction = Direction::ToTwoCharacterForm;
    bool backup = true; // a backup beside every script that changes
    bool check = false; // change nothing; tell what would change
    GuardWord guardWord = GuardWord::Skip;
    // Count every character and tell the bytes kept as UTF-8. Off, a check looks
    // at each script only until it knows whether it changes (the companion's
    // --leise --pruefen); a conversion always counts.
    bool counts = true;
    // How many threads read, decide on and stage scripts at once (1: all on the
    // calling thread). Events come on the calling thread whatever this is.
    std::size_t threads = 1;
    // Where a script stops being held whole and is worked on a piece at a time.
    ScriptLimits limits;
};

// Why a script is left as it is.
enum class SkipReason {
    Link,        // a symbolic link (or junction)
    NotAFile,    // a FIFO, a device, anything but a regular file
    RefusedKind, // a compiled chunk, UTF-16, UTF-32: see Skip::kind
    GuardWord,   // holds "UMLAUTE" and would change; not to be converted
    SameFile,    // another name of a file the batch already did: see Skip::sameAs
};

struct Skip {
    SkipReason reason = SkipReason::Link;
    ScriptKind kind = ScriptKind::Text; // for RefusedKind
    std::string sameAs;                 // for SameFile: the name it was done under
};

// What became of the scripts of a batch.
struct Tally {
    std::size_t changed = 0;   // replaced (with check: would change)
    std::size_t unchanged = 0; // nothing to convert: not touched
    std::size_t skipped = 0;
    std::size_t failed = 0;
};

struct BatchResult {
    Tally tally;
    std::size_t scripts = 0; // how many the walk found
    bool stopped = false;    // StopRequested said yes: what is told is what was done
};

// Where a batch stands, for a progress window. A script is done with once it
// is decided on and, when it converts, saved; the two steps are counted apart.
struct BatchProgress {
    std::size_t total = 0;     // the scripts the walk found
    std::size_t decided = 0;   // of them: decided on and told (one held for the
                               // guard-word question once it is answered)
    std::size_t converted = 0; // of those: converted, waiting for their save or saved
    std::size_t saved = 0;     // of those: done with saving (replaced, or failed and as they were)
    std::string saving;        // the first script of the part of a commit round
                               // being saved now; empty while none is
};

// What the engine tells as it goes. Every call comes on the thread that called
// RunBatch, one at a time, in the walk's order for what concerns one script
// (a conversion's Converted comes when its commit round replaces it, later
// than its other events). The calls must not throw: a front end that cannot
// show something remembers that and lets the batch go on, so that no script is
// left half-done for want of a line on a screen. Every call has a default that
// does nothing.
class BatchEvents {
  public:
    virtual ~BatchEvents() = default;

    // The walk is done: `total` scripts will be worked on.
    virtual void Found(std::size_t /*total*/) {}
    // The script with this place in the walk (0-based) is the one waited for
    // now: for a progress window's "current script".
    virtual void Started(std::size_t /*index*/, const std::string& /*path*/) {}
    // `done` of `total` scripts decided on.
    virtual void Progress(std::size_t /*done*/, std::size_t /*total*/) {}
    // The batch has moved on: after each script decided on, and before and
    // after each part of a commit round is saved.
    virtual void Advanced(const BatchProgress& /*where*/) {}

    // A script replaced by its converted text (with check: one that would
    // change), with the characters converted.
    virtual void Converted(const std::string& /*path*/, std::size_t /*characters*/) {}
    // The backup a script replaced has kept its old text under (after its
    // Converted): what taking the run back puts in its place again.
    virtual void BackedUp(const std::string& /*path*/, const std::string& /*backup*/) {}
    // Nothing to convert: the script is not touched.
    virtual void Unchanged(const std::string& /*path*/) {}
    virtual void Skipped(const std::string& /*path*/, const Skip& /*why*/) {}
    // A script or folder that could not be read or replaced: it keeps its old
    // bytes, and no backup made for it stays. The error's Subject, where it has
    // one, is the name the user knows; otherwise `path` is.
    virtual void Failed(const std::string& /*path*/, const PlatformError& /*error*/) {}

    // Notices on a script that goes on: bytes kept because they begin UTF-8
    // characters (`sentence` is the German sentence both programs show), ...
    virtual void KeptAsUtf8(const std::string& /*path*/, const std::string& /*sentence*/) {}
    // ... temporary files of killed runs removed while it was staged, ...
    virtual void LeftoversRemoved(const std::string& /*path*/, std::size_t /*count*/) {}
    // ... and further names (hard links) that keep the old text.
    virtual void OtherNames(const std::string& /*path*/, std::size_t /*others*/) {}
    // Backups by link that killed runs left of a script they never replaced
    // (names of the file the script still is), removed while it was staged:
    // this run's backup keeps the same bytes.
    virtual void StrayBackupsRemoved(const std::string& /*path*/, std::size_t /*count*/) {}

    // With GuardWord::AskOnce: the scripts holding the guard word that would
    // change, asked once for the batch before any of them is converted. True
    // converts them all; false leaves them all, each told as Skipped(GuardWord).
    // Not asked when there are none, nor after a stop.
    virtual bool ConvertGuarded(const std::vector<std::string>& /*scripts*/) { return false; }

    // Asked at every safe point: while the walk goes from one entry to the
    // next, after each script is told, before each script converted after the
    // guard-word question, and before each part of a commit round, the last
    // one included (a part is sized to take a fraction of a second). True
    // stops the batch there: the scripts already replaced stay replaced, every
    // other keeps its old bytes, with no temporary file and no backup made for
    // it, and is told nothing more (neither converted nor failed).
    virtual bool StopRequested() { return false; }
};

// Runs the batch. With more than one thread `files` must take calls from
// several threads at once. Failures of single scripts and folders go to
// events.Failed and the batch goes on; what throws out of here is only what
// leaves no script half-done (the exceptions events let escape, against their
// contract, end the batch as a stop would, and are thrown again).
BatchResult RunBatch(FileServices& files, DirectoryServices& directories,
                     const BatchRequest& request, BatchEvents& events);

} // namespace velmo::batch
