#include "batch/Batch.h"

#include "batch/Pool.h"
#include "batch/Rounds.h"
#include "batch/Walk.h"
#include "convert/ScriptStaging.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace velmo::batch {
namespace {

// Which file a script is: its volume and file number.
using FileKey = std::pair<std::uint64_t, std::uint64_t>;

FileKey KeyOf(const FileStamp& stamp) {
    return {stamp.device, stamp.file};
}

// The files of the scripts, claimed as they are read on several threads, so
// that a file reached by two names is converted once, under the name the
// walk found first, whichever thread reads it first.
class Claims {
  public:
    struct Verdict {
        bool later = false; // an earlier script has the file
        // The later script that had it: what it staged must go before this
        // one stages the file, and this one reads it again.
        std::optional<std::size_t> takenFrom;
    };
    Verdict Claim(const FileKey& file, std::size_t script) {
        const std::lock_guard lock(mutex_);
        const auto [owner, isNew] = owners_.try_emplace(file, script);
        if (isNew || owner->second == script)
            return {};
        if (owner->second < script)
            return {true, std::nullopt};
        const std::size_t from = owner->second;
        owner->second = script;
        return {false, from};
    }
    // The file is gone: its number may come back as another file's.
    void Forget(const FileKey& file) {
        const std::lock_guard lock(mutex_);
        owners_.erase(file);
    }

  private:
    std::mutex mutex_;
    std::map<FileKey, std::size_t> owners_;
};

// One thing to tell of a script, kept until its turn comes.
struct Told {
    enum class Kind {
        Skipped,
        Failed,
        Kept,
        Leftovers,
        StrayBackups,
        OtherNames,
        WouldChange,
        Unchanged
    };
    Kind kind;
    std::size_t count = 0;              // Leftovers, StrayBackups, OtherNames, WouldChange
    std::string sentence;               // Kept
    Skip skip;                          // Skipped
    std::optional<PlatformError> error; // Failed
};

// What became of one script, kept until its turn to be told comes: what to
// tell in the order it was found, and its staged save.
struct Outcome {
    struct Staged {
        StagedScript script;
        std::size_t characters, bytes;
    };
    std::vector<Told> told;
    std::optional<Staged> staged;
    // The file read, as read; with `later`, an earlier script of the walk
    // reads the same file, and this one did nothing more.
    std::optional<FileStamp> file;
    bool later = false;
    // Holds the guard word and would change: asked about with the others at
    // the end (GuardWord::AskOnce).
    bool guarded = false;

    void Tell(Told::Kind kind, std::size_t count = 0) { told.push_back({kind, count, {}, {}, {}}); }
    void Skipped(Skip why) { told.push_back({Told::Kind::Skipped, 0, {}, std::move(why), {}}); }
    void Skipped(SkipReason reason) { Skipped(Skip{reason, ScriptKind::Text, {}}); }
    void Failed(const PlatformError& error) {
        told.push_back({Told::Kind::Failed, 0, {}, {}, error});
    }
    void Kept(std::string sentence) {
        told.push_back({Told::Kind::Kept, 0, std::move(sentence), {}, {}});
    }
};

// How many scripts may wait, done, for their turn to be told: their staged
// saves hold no text, only names and an open temporary file each.
constexpr std::size_t kAhead = 64;

// One run over files: each script found is decided on, and converted ones go
// to the commit rounds; what happened is told in walk order and tallied.
class Engine {
  public:
    Engine(FileServices& files, DirectoryServices& directories, const BatchRequest& request,
           BatchEvents& events)
        : files_(files), directories_(directories), request_(request), events_(events),
          rounds_(files, {[this](const StagedScript& script, std::size_t characters) {
                              Replaced(script, characters);
                          },
                          [this](const PlatformError& error, const std::string& path) {
                              ++tally_.failed;
                              ++progress_.saved;
                              events_.Failed(path, error);
                          },
                          [this](const std::string& next) {
                              progress_.saving = next;
                              events_.Advanced(progress_);
                          },
                          [this] { return events_.StopRequested(); }}) {}

    BatchResult Run() {
        try {
            return RunAll();
        } catch (...) {
            // Whatever ends the batch early takes back the round being staged.
            rounds_.Discard();
            throw;
        }
    }

  private:
    BatchResult RunAll() {
        const WalkEvents walkEvents{[this](const std::string& path, PathKind kind) {
                                        ++tally_.skipped;
                                        events_.Skipped(path, Skip{kind == PathKind::Link
                                                                       ? SkipReason::Link
                                                                       : SkipReason::NotAFile,
                                                                   ScriptKind::Text,
                                                                   {}});
                                    },
                                    [this](const PlatformError& error, const std::string& path) {
                                        ++tally_.failed;
                                        events_.Failed(path, error);
                                    },
                                    [this] { return events_.StopRequested(); }};
        // Every backup of the batch carries the moment it began: what tells its run.
        // (A clock that fails leaves each backup to ask it, and to fail on its own.)
        if (request_.backup && !request_.check) {
            try {
                runStarted_ = files_.Now();
            } catch (const PlatformError&) {
                runStarted_.reset();
            }
        }
        scripts_ = FindScripts(files_, directories_, request_.paths, walkEvents);
        const std::size_t total = scripts_.size();
        progress_.total = total;
        events_.Found(total);
        // Scripts are read, decided on and staged on the threads; what became
        // of each is told and goes to the rounds here, in walk order. After
        // each is a safe point: a stop there leaves the scripts of earlier
        // rounds replaced and takes back the round being staged, and those
        // staged ahead of their turn.
        bool stop = events_.StopRequested();
        if (!stop) {
            const std::size_t threads = std::max<std::size_t>(1, request_.threads);
            ahead_ = std::max(kAhead, threads);
            outcomes_ = std::vector<Outcome>(ahead_);
            processed_ = std::vector<std::atomic<bool>>(ahead_);
            if (total > 0)
                events_.Started(0, scripts_[0]);
            RunInOrder(
                threads, total, ahead_,
                [&](std::size_t i) {
                    // Done with, also when it throws: another thread may wait for it.
                    struct Done {
                        std::atomic<bool>& flag;
                        ~Done() { flag.store(true, std::memory_order_release); }
                    };
                    Slot(i) = Outcome();
                    processed_[i % ahead_].store(false);
                    const Done done{processed_[i % ahead_]};
                    Process(i, Slot(i), request_.guardWord == GuardWord::Convert, true);
                },
                [&](std::size_t i) {
                    const std::size_t held = guarded_.size();
                    Tell(i, Slot(i));
                    events_.Progress(i + 1, total);
                    if (guarded_.size() == held)
                        Decided();
                    if (rounds_.Stopped())
                        return !(stop = true);
                    if (i + 1 < total)
                        events_.Started(i + 1, scripts_[i + 1]);
                    return !(stop = events_.StopRequested());
                },
                [&](std::size_t i) {
                    if (const auto& staged = Slot(i).staged)
                        DiscardStagedScript(files_, staged->script);
                });
        }
        if (!stop && !guarded_.empty())
            stop = AskAboutGuarded();
        // The last round: its parts are safe points too.
        if (stop)
            rounds_.Discard();
        else
            rounds_.Commit();
        BatchResult result;
        result.scripts = total;
        result.stopped = stop || rounds_.Stopped();
        result.tally = tally_;
        return result;
    }

    Outcome& Slot(std::size_t script) { return outcomes_[script % ahead_]; }

    // One more script is decided on (one held for the guard-word question
    // once it is answered).
    void Decided() {
        ++progress_.decided;
        events_.Advanced(progress_);
    }

    // The scripts holding the guard word, asked about once: converted now, on
    // this thread, or all left. False when the batch goes on.
    bool AskAboutGuarded() {
        std::vector<std::string> names;
        for (const std::size_t index : guarded_)
            names.push_back(scripts_[index]);
        const bool convert = events_.ConvertGuarded(names);
        for (const std::size_t index : guarded_) {
            if (!convert) {
                ++tally_.skipped;
                events_.Skipped(scripts_[index], Skip{SkipReason::GuardWord, ScriptKind::Text, {}});
                Decided();
                continue;
            }
            if (events_.StopRequested())
                return true;
            events_.Started(index, scripts_[index]);
            Outcome outcome;
            Process(index, outcome, true, false);
            Tell(index, outcome);
            Decided();
            if (rounds_.Stopped())
                return true;
        }
        return false;
    }

    // A script of an earlier round was replaced. Where that freed its old
    // file (no other name, no backup by a second name), the file's number may
    // come back as a new file's, which is then no other name of this one.
    void Replaced(const StagedScript& script, std::size_t characters) {
        ++tally_.changed;
        ++progress_.saved;
        events_.Converted(script.path, characters);
        if (!script.backup.empty())
            events_.BackedUp(script.path, script.backup);
        if (!script.expected || script.expected->links > 1 || script.backupShared)
            return;
        const FileKey key = KeyOf(*script.expected);
        if (const auto seen = seen_.find(key);
            seen != seen_.end() && scripts_[seen->second.index] == script.path)
            seen_.erase(seen);
        claims_.Forget(key);
    }

    // Whether the file an earlier script was read from is, provably, still
    // that script's: then its number cannot belong to another file now.
    bool StillItsFile(std::size_t index, const FileStamp& asRead) {
        try {
            return files_.StampOf(scripts_[index]).SameContents(asRead);
        } catch (const PlatformError&) {
            return false;
        }
    }

    // Tells what became of a script and hands its staged save to the rounds.
    void Tell(std::size_t index, Outcome& outcome) {
        const std::string& path = scripts_[index];
        if (outcome.file) {
            // One file reached by two names (hard links, a second spelling) is
            // converted once: told here, in walk order, which name came first.
            // Only while the first name still holds the file it was read from
            // is that proven: a file freed meanwhile (replaced, removed) may
            // have given its number to a new file, which is a script of its own.
            const auto seen = seen_.find(KeyOf(*outcome.file));
            const bool another = seen != seen_.end() && seen->second.index != index;
            if (another && StillItsFile(seen->second.index, seen->second.stamp)) {
                Discard(outcome);
                outcome = Outcome();
                outcome.Skipped(
                    Skip{SkipReason::SameFile, ScriptKind::Text, scripts_[seen->second.index]});
            } else {
                if (another || outcome.later) {
                    Discard(outcome);
                    outcome = Outcome();
                    Process(index, outcome, request_.guardWord == GuardWord::Convert, false);
                }
                if (outcome.file)
                    seen_.insert_or_assign(KeyOf(*outcome.file), Seen{index, *outcome.file});
            }
        }
        for (const Told& told : outcome.told) {
            switch (told.kind) {
            case Told::Kind::Skipped:
                ++tally_.skipped;
                events_.Skipped(path, told.skip);
                break;
            case Told::Kind::Failed:
                ++tally_.failed;
                events_.Failed(path, *told.error);
                break;
            case Told::Kind::Kept:
                events_.KeptAsUtf8(path, told.sentence);
                break;
            case Told::Kind::Leftovers:
                events_.LeftoversRemoved(path, told.count);
                break;
            case Told::Kind::StrayBackups:
                events_.StrayBackupsRemoved(path, told.count);
                break;
            case Told::Kind::OtherNames:
                events_.OtherNames(path, told.count);
                break;
            case Told::Kind::WouldChange:
                ++tally_.changed;
                events_.Converted(path, told.count);
                break;
            case Told::Kind::Unchanged:
                ++tally_.unchanged;
                events_.Unchanged(path);
                break;
            }
        }
        if (outcome.guarded)
            guarded_.push_back(index);
        if (auto& staged = outcome.staged) {
            ++progress_.converted;
            rounds_.Add(std::move(staged->script), staged->characters, staged->bytes);
            staged.reset();
        }
    }

    void Discard(Outcome& outcome) {
        if (outcome.staged)
            DiscardStagedScript(files_, outcome.staged->script);
        outcome.staged.reset();
    }

    // Waits until a script staged ahead of its turn by another thread is
    // done with, and takes back what it staged. Seldom: only for a file with
    // two names read at about the same time.
    void TakeBack(std::size_t script) {
        while (!processed_[script % ahead_].load(std::memory_order_acquire))
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        Discard(Slot(script));
    }

    // The script `index` of the walk, on any thread: what becomes of it goes
    // to `out`, nothing to the events, the tally or the rounds. With `claim`
    // its file is claimed against the other scripts read at the same time.
    void Process(std::size_t index, Outcome& out, bool evenWithGuardWord, bool claim) {
        const std::string& path = scripts_[index];
        try {
            // Read with one call where it is not too big to hold.
            std::string bytes;
            FileStamp stamp = files_.ReadStampedPiece(path, 0, request_.limits.whole, bytes);
            // A file reached by two names goes on under the first (see Tell).
            for (out.file = stamp; claim; out.file = stamp) {
                const Claims::Verdict verdict = claims_.Claim(KeyOf(stamp), index);
                out.later = verdict.later;
                if (out.later)
                    return;
                if (!verdict.takenFrom)
                    break;
                // A later name of the file, read first on another thread, may
                // have made a backup link: gone, the file is read again.
                TakeBack(*verdict.takenFrom);
                stamp = files_.ReadStampedPiece(path, 0, request_.limits.whole, bytes);
            }
            // A big script is read, decided on and written a piece at a time,
            // and one at a time: two at once would take twice the memory, and
            // one file gains nothing from a second thread.
            const bool big = stamp.size > request_.limits.whole;
            std::unique_lock oneBig(bigScript_, std::defer_lock);
            if (big)
                oneBig.lock();
            const ScriptContent text =
                big ? ScriptContent::InFile(path, stamp, request_.limits.piece)
                    : ScriptContent(std::move(bytes));
            if (request_.check)
                Check(path, text, out, evenWithGuardWord);
            else
                Convert(path, text, stamp, out, evenWithGuardWord);
        } catch (const PlatformError& error) {
            // Swapped for a link or something else since the walk: skipped as
            // the walk skips it.
            if (error.Cause() == ErrorCause::IsALink)
                out.Skipped(SkipReason::Link);
            else if (error.Cause() == ErrorCause::NotAFile)
                out.Skipped(SkipReason::NotAFile);
            else
                out.Failed(error);
        } catch (const std::bad_alloc&) {
            out.Failed(files_.Error(win_error::NotEnoughMemory, path));
        }
    }

    // Tells a script the verdict stops here (a refused kind, or one that would
    // change but holds the guard word): true then, false where it goes on.
    bool HeldBack(ScriptAction action, ScriptKind kind, Outcome& out) {
        if (action == ScriptAction::Refuse) {
            out.Skipped(Skip{SkipReason::RefusedKind, kind, {}});
            return true;
        }
        if (action != ScriptAction::LeaveForGuardWord)
            return false;
        if (request_.guardWord == GuardWord::AskOnce)
            out.guarded = true;
        else
            out.Skipped(SkipReason::GuardWord);
        return true;
    }

    void Convert(const std::string& path, const ScriptContent& text, const FileStamp& stamp,
                 Outcome& out, bool evenWithGuardWord) {
        // A big script to convert is written while it is decided on: one
        // pass over it instead of two.
        StagedScript staged;
        std::optional<ContentDecision> onePass;
        if (!text.Held())
            onePass = StageInOnePass(files_, path, text, request_.direction, evenWithGuardWord,
                                     request_.backup, staged, runStarted_);
        const auto tellLeftovers = [&] {
            if (staged.leftoversRemoved > 0)
                out.Tell(Told::Kind::Leftovers, staged.leftoversRemoved);
        };
        if (onePass)
            tellLeftovers();
        const ContentDecision decision =
            onePass ? std::move(*onePass) : DecideContent(files_, text, request_.direction);
        const ScriptAction action = decision.Action(evenWithGuardWord);
        if (HeldBack(action, decision.kind, out))
            return;
        if (!decision.keptSentence.empty() && KeptIsTold(decision.converted))
            out.Kept(decision.keptSentence);
        if (action == ScriptAction::LeaveUnchanged) {
            out.Tell(Told::Kind::Unchanged); // never rewritten: no backup, its times stay
            return;
        }
        if (!onePass) {
            staged = StageScript(files_, path, text.Source(files_), decision.text.Source(files_),
                                 request_.backup, BackupBy::LinkOrCopy, stamp, runStarted_);
            tellLeftovers();
        }
        // Backups by link of killed runs that never replaced it go, so that
        // the script keeps one backup of its old text, this run's.
        if (const std::size_t strays = RemoveStrayBackups(files_, directories_, staged))
            out.Tell(Told::Kind::StrayBackups, strays);
        // Names of the file besides its own backups (a backup by link is one).
        if (const std::size_t others = NamesBesidesBackups(files_, directories_, path, stamp))
            out.Tell(Told::Kind::OtherNames, others);
        out.staged.emplace(std::move(staged), decision.converted,
                           static_cast<std::size_t>(decision.size));
    }

    // A check: what Convert would tell, counted without converting, with the
    // refusals the conversion meets before it writes. Without
    // request_.counts each script is looked at only until its answer is
    // known: with the guard word not asked for, up to its first character
    // that converts, else also through the guard word.
    void Check(const std::string& path, const ScriptContent& text, Outcome& out,
               bool evenWithGuardWord) {
        const bool counts = request_.counts;
        // A script held whole is only counted; a big one is decided on a
        // piece at a time.
        ScriptVerdict verdict;
        std::string keptSentence;
        if (text.Held()) {
            const ScriptDecision decision =
                CheckScript(*text, request_.direction, {!evenWithGuardWord, counts});
            verdict = decision;
            if (counts && decision.keptAsUtf8 > 0)
                keptSentence = KeptAsUtf8Sentence(decision, *text);
        } else {
            ContentDecision decision = DecideContent(files_, text, request_.direction);
            verdict = decision;
            keptSentence = std::move(decision.keptSentence);
        }
        const ScriptAction action = verdict.Action(evenWithGuardWord);
        if (HeldBack(action, verdict.kind, out))
            return;
        if (counts && !keptSentence.empty() && KeptIsTold(verdict.converted))
            out.Kept(std::move(keptSentence));
        if (action == ScriptAction::LeaveUnchanged) {
            out.Tell(Told::Kind::Unchanged);
            return;
        }
        // A script the conversion would refuse (read-only, another user's,
        // held by another program) fails as the conversion fails.
        RefuseUnreplaceable(files_, path);
        out.Tell(Told::Kind::WouldChange, verdict.converted);
    }

    // The first script read from a file, and the file as it read it.
    struct Seen {
        std::size_t index;
        FileStamp stamp;
    };

    FileServices& files_;
    DirectoryServices& directories_;
    const BatchRequest& request_;
    BatchEvents& events_;
    CommitRounds rounds_;
    std::vector<std::string> scripts_;
    Tally tally_;
    BatchProgress progress_;
    std::map<FileKey, Seen> seen_; // file -> its first script, in walk order
    Claims claims_;
    std::vector<std::size_t> guarded_; // GuardWord::AskOnce: the scripts to ask about
    // By script % ahead_: what became of it, and whether its thread is done with it.
    std::size_t ahead_ = 1;
    std::vector<Outcome> outcomes_;
    std::vector<std::atomic<bool>> processed_;
    std::mutex bigScript_;                    // held while a big script is worked on
    std::optional<DateTimeTexts> runStarted_; // what the batch's backups are named for
};

} // namespace

BatchResult RunBatch(FileServices& files, DirectoryServices& directories,
                     const BatchRequest& request, BatchEvents& events) {
    return Engine(files, directories, request, events).Run();
}

} // namespace velmo::batch
