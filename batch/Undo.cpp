#include "batch/Undo.h"

#include "convert/ScriptFile.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <utility>

namespace velmo::batch {
namespace {

// How many scripts are put back before their renames are made durable and told.
constexpr std::size_t kRound = 256;

// Thrown by a comparison's sink at the first byte that differs.
struct Differs {};

// Whether the bytes `source` gives are those of the file at `path` as it was
// when `stamp` was taken (its size is already known to match). A file written
// meanwhile throws ChangedMeanwhile.
bool SameBytes(FileServices& files, const ByteSource& source, const std::string& path,
               const FileStamp& stamp, std::size_t piece) {
    std::uint64_t offset = 0;
    std::string read;
    std::size_t at = 0;
    try {
        source([&](std::string_view bytes) {
            while (!bytes.empty()) {
                if (at == read.size()) {
                    if (offset >= stamp.size)
                        throw Differs{};
                    if (!files.ReadStampedPiece(path, offset, piece, read).SameContents(stamp))
                        throw ChangedMeanwhile(path);
                    if (read.empty())
                        throw Differs{};
                    offset += read.size();
                    at = 0;
                }
                const std::size_t n = std::min(bytes.size(), read.size() - at);
                if (bytes.substr(0, n) != std::string_view(read).substr(at, n))
                    throw Differs{};
                bytes.remove_prefix(n);
                at += n;
            }
        });
    } catch (const Differs&) {
        return false;
    }
    return at == read.size() && offset == stamp.size;
}

// Whether the script holds its backup's text converted in one direction: the
// bytes the run wrote (see UndoRun for why one direction at most can match).
bool HoldsRunBytes(FileServices& files, const ScriptContent& backup, const std::string& script,
                   const FileStamp& scriptStamp, const ScriptLimits& limits) {
    for (const Direction direction :
         {Direction::ToTwoCharacterForm, Direction::ToSingleCharacter}) {
        const ContentDecision decided = DecideContent(files, backup, direction);
        if (decided.Refused())
            return false;
        if (!decided.Changes() || decided.size != scriptStamp.size)
            continue;
        if (SameBytes(files, decided.text.Source(files), script, scriptStamp, limits.piece))
            return true;
    }
    return false;
}

class Undo {
  public:
    Undo(FileServices& files, bool check, UndoEvents& events, const ScriptLimits& limits)
        : files_(files), check_(check), events_(events), limits_(limits) {}

    UndoResult Run(const std::vector<RunBackup>& backups) {
        UndoResult result;
        result.scripts = backups.size();
        for (std::size_t i = 0; i < backups.size(); ++i) {
            if (events_.StopRequested()) {
                result.stopped = true;
                break;
            }
            events_.Started(i, backups[i].script);
            Decide(backups[i]);
            if (round_.size() >= kRound)
                PutBackRound();
            events_.Progress(i + 1, backups.size());
        }
        // Also after a stop: the scripts found ready are put back, as told.
        PutBackRound();
        result.tally = tally_;
        return result;
    }

  private:
    // A script found to hold the run's bytes, waiting for its round.
    struct Ready {
        const RunBackup* item;
        FileStamp script, backup; // both as compared
    };

    // Looks whether the script may be put back: told where it may not (or,
    // with check, where it would), else kept for the round.
    void Decide(const RunBackup& item) {
        const std::string& script = item.script;
        try {
            const std::optional<FileStamp> now = StampIfThere(files_, script);
            if (!now)
                return Left(script, UndoLeft::ScriptGone);
            const std::optional<FileStamp> backupStamp =
                item.backup.empty() ? std::nullopt : StampIfThere(files_, item.backup);
            if (!backupStamp)
                return Left(script, UndoLeft::BackupGone);
            if (backupStamp->SameFile(*now))
                return Left(script, UndoLeft::NotReplaced);
            FileStamp asRead;
            ScriptContent backup;
            try {
                backup = ReadScriptContent(files_, item.backup, limits_, asRead);
            } catch (const PlatformError& e) {
                // Something else than a file at the backup's name is no backup.
                if (e.Cause() == ErrorCause::IsALink || e.Cause() == ErrorCause::NotAFile)
                    return Left(script, UndoLeft::BackupGone);
                throw;
            }
            if (!HoldsRunBytes(files_, backup, script, *now, limits_))
                return Left(script, UndoLeft::ChangedSince);
            // Windows refuses to replace a read-only file, and POSIX would
            // replace it regardless: refused on both, as a conversion is.
            if (files_.FileAttributes(script) & file_attr::ReadOnly)
                throw files_.NotWritable(script);
            if (check_) {
                ++tally_.putBack;
                events_.PutBack(script);
                return;
            }
            round_.push_back({&item, *now, asRead});
        } catch (const PlatformError& e) {
            Failure(script, e);
        } catch (const std::bad_alloc&) {
            Fail(script, files_.Error(win_error::NotEnoughMemory, script));
        }
    }

    // A script changed while it was looked at is left; anything else failed.
    void Failure(const std::string& script, const PlatformError& e) {
        if (e.Cause() == ErrorCause::ChangedMeanwhile && e.Subject() == script)
            return Left(script, UndoLeft::ChangedSince);
        Fail(script, e);
    }

    // Puts back the scripts of the round: their backups' bytes made durable
    // together (one by one where that fails, so that one file held by
    // another program holds back only its script), each script renamed over
    // right after it is seen unchanged, and the renames made durable.
    void PutBackRound() {
        if (round_.empty())
            return;
        std::vector<bool> flushed(round_.size(), true);
        std::vector<std::string> backups;
        for (const Ready& ready : round_)
            backups.push_back(ready.item->backup);
        try {
            files_.FlushFiles(backups);
        } catch (const PlatformError&) {
            for (std::size_t i = 0; i < round_.size(); ++i) {
                try {
                    if (round_.size() == 1)
                        throw;
                    files_.FlushFiles({backups[i]});
                } catch (const PlatformError& single) {
                    flushed[i] = false;
                    Fail(round_[i].item->script, single);
                }
            }
        }
        for (std::size_t i = 0; i < round_.size(); ++i) {
            if (!flushed[i])
                continue;
            const RunBackup& item = *round_[i].item;
            try {
                // Right before the rename, both are still as compared: what
                // another program wrote meanwhile stays.
                const std::optional<FileStamp> still = StampIfThere(files_, item.script);
                if (!still || !still->SameContents(round_[i].script)) {
                    Left(item.script, UndoLeft::ChangedSince);
                    continue;
                }
                const std::optional<FileStamp> backupStill = StampIfThere(files_, item.backup);
                if (!backupStill || !backupStill->SameContents(round_[i].backup))
                    throw ChangedMeanwhile(item.backup);
                files_.MoveFile(item.backup, item.script, true);
                pending_.push_back(item.script);
            } catch (const PlatformError& e) {
                Failure(item.script, e);
            }
        }
        round_.clear();
        MakeDurable();
    }

    void Left(const std::string& script, UndoLeft why) {
        ++tally_.left;
        events_.Left(script, why);
    }
    void Fail(const std::string& script, const PlatformError& error) {
        ++tally_.failed;
        events_.Failed(script,
                       error.Subject().empty() ? error.About(script, error.Cause()) : error);
    }

    // The renames of the round are made durable; then their scripts are told.
    void MakeDurable() {
        if (pending_.empty())
            return;
        std::vector<std::string> directories;
        for (const std::string& script : pending_)
            directories.push_back(DirectoryOf(script));
        std::sort(directories.begin(), directories.end());
        directories.erase(std::unique(directories.begin(), directories.end()), directories.end());
        std::optional<PlatformError> failure;
        try {
            files_.SyncDirectories(directories);
        } catch (const PlatformError& e) {
            failure = e;
        }
        for (const std::string& script : pending_) {
            if (failure) {
                // The script holds its old bytes, but that is not yet certain
                // to survive a power failure: said for each.
                Fail(script, failure->About(script, failure->Cause()));
            } else {
                ++tally_.putBack;
                events_.PutBack(script);
            }
        }
        pending_.clear();
    }

    FileServices& files_;
    bool check_;
    UndoEvents& events_;
    const ScriptLimits& limits_;
    UndoTally tally_;
    std::vector<Ready> round_;         // to be put back together
    std::vector<std::string> pending_; // renamed, not yet durable
};

} // namespace

std::string_view UndoLeftText(UndoLeft why) {
    switch (why) {
    case UndoLeft::ChangedSince:
        return "seit der Umwandlung ge\xC3\xA4ndert";
    case UndoLeft::BackupGone:
        return "seine Sicherung ist gel\xC3\xB6scht";
    case UndoLeft::ScriptGone:
        return "gibt es nicht mehr";
    case UndoLeft::NotReplaced:
        return "wurde in diesem Lauf nicht ersetzt";
    }
    return {};
}

FoundRuns FindRuns(FileServices& files, DirectoryServices& directories,
                   const std::vector<std::string>& paths, const std::string& stamp,
                   const WalkEvents& events) {
    const std::size_t parts = StampParts(stamp.empty() ? BackupStamp(files.Now()) : stamp);
    const std::vector<std::string> scripts = FindScripts(files, directories, paths, events);
    std::set<std::string> named;
    for (const std::string& path : paths)
        named.insert(directories.Canonical(path));
    // Each folder is listed once, however many scripts it holds, and its
    // backups are found by the name of their script: the name up to the
    // stamp (of `parts` parts, and a counter perhaps), in the spelling under
    // which the system takes two names as one.
    struct Backup {
        std::string scriptPart; // the script's name as cleaned, with its "_"
        std::string name;
    };
    std::map<std::string, std::multimap<std::string, Backup>> listed;
    std::map<std::string, FoundRun> runs;
    std::vector<std::string> unbacked;
    FoundRuns found;
    for (const std::string& script : scripts) {
        const std::string folder = script.substr(0, FileNameStart(script));
        auto backups = listed.find(folder);
        if (backups == listed.end()) {
            std::multimap<std::string, Backup> byScript;
            try {
                for (std::string& name : directories.ListDirectory(DirectoryOf(script))) {
                    if (!name.ends_with(".bak"))
                        continue;
                    // Cut before the stamp, and before a stamp and a counter.
                    std::size_t cut = name.size();
                    for (std::size_t field = 0; field <= parts && cut != std::string::npos;
                         ++field) {
                        cut = cut == 0 ? std::string::npos : name.rfind('_', cut - 1);
                        if (field + 1 >= parts && cut != std::string::npos)
                            byScript.emplace(
                                directories.Canonical(folder + name.substr(0, cut + 1)),
                                Backup{name.substr(0, cut + 1), name});
                    }
                }
            } catch (const PlatformError& e) {
                if (events.failed)
                    events.failed(e, DirectoryOf(script));
            }
            backups = listed.emplace(folder, std::move(byScript)).first;
        }
        // The backup name's start for this script: BackupName's at no time.
        const std::string start = BackupName(script, {});
        const std::string key = directories.Canonical(start.substr(0, start.size() - 5));
        // The script's backup of each run; of two in one run (two runs in
        // one second), the later one, with the higher counter.
        std::map<std::string, std::pair<int, std::string>> own;
        const auto [from, to] = backups->second.equal_range(key);
        for (auto at = from; at != to; ++at) {
            const Backup& candidate = at->second;
            const std::string& scriptPart = candidate.scriptPart;
            const std::optional<BackupNameParts> backup = ParseBackupName(
                folder + scriptPart.substr(0, scriptPart.size() - 1), candidate.name, parts);
            if (!backup || (!stamp.empty() && backup->stamp != stamp))
                continue;
            auto& latest = own[backup->stamp];
            if (backup->counter > latest.first)
                latest = {backup->counter, folder + candidate.name};
        }
        for (auto& [runStamp, backup] : own) {
            FoundRun& run = runs[runStamp];
            run.stamp = runStamp;
            run.backups.push_back({script, std::move(backup.second)});
        }
        if (own.empty() && named.count(directories.Canonical(script)))
            unbacked.push_back(script);
    }
    for (auto& [runStamp, run] : runs)
        found.runs.push_back(std::move(run));
    // Where the run is known, a script named itself without its backup had
    // one deleted since.
    if (found.runs.size() == 1 || !stamp.empty())
        found.missing = std::move(unbacked);
    return found;
}

UndoResult UndoRun(FileServices& files, const std::vector<RunBackup>& backups, bool check,
                   UndoEvents& events, const ScriptLimits& limits) {
    return Undo(files, check, events, limits).Run(backups);
}

} // namespace velmo::batch
