#include "cli/Batch.h"

#include "cli/Pool.h"
#include "cli/Rounds.h"
#include "cli/Walk.h"
#include "convert/UmlautStream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace velmo::cli {
namespace {

// Which file a script is: its volume and file number.
using FileKey = std::pair<std::uint64_t, std::uint64_t>;

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

  private:
    std::mutex mutex_;
    std::map<FileKey, std::size_t> owners_;
};

// What became of one script, kept until its turn to be told comes: its lines
// in the order they were made, its part of the tally and its staged save.
struct Outcome {
    enum class Line { Notice, Failure, Changed };
    struct Staged {
        StagedScript script;
        std::size_t characters, bytes;
    };
    std::vector<std::pair<Line, std::string>> lines;
    Tally tally;
    std::optional<Staged> staged;
    // The file read (volume and number); with `later`, an earlier script of
    // the walk reads the same file, and this one did nothing more.
    std::optional<FileKey> file;
    bool later = false;

    void Notice(std::string line) { lines.emplace_back(Line::Notice, std::move(line)); }
    void Changed(std::string line) {
        ++tally.changed;
        lines.emplace_back(Line::Changed, std::move(line));
    }
    void Skip(const std::string& path, std::string_view why) {
        ++tally.skipped;
        Notice(SkippedLine(path, why));
    }
    void Fail(const PlatformError& error, const std::string& path) {
        ++tally.failed;
        lines.emplace_back(Line::Failure, ErrorLine(error, path));
    }
};

// How many scripts may wait, done, for their turn to be told: their staged
// saves hold no text, only names and an open temporary file each.
constexpr std::size_t kAhead = 64;

// One run over files: each script found is decided on, and converted ones go
// to the commit rounds; what happened is told in walk order and tallied.
class Batch {
  public:
    Batch(FileServices& files, DirectoryServices& directories, const Options& options,
          Reporter& reporter, const ScriptLimits& limits, std::size_t threads)
        : files_(files), directories_(directories), options_(options), reporter_(reporter),
          limits_(limits),
          rounds_(
              files,
              [this](const std::string& path, std::size_t characters) {
                  ++tally_.changed;
                  reporter_.Changed(ChangedLine(path, characters, false));
              },
              [this](const PlatformError& error, const std::string& path) { Fail(error, path); }),
          threads_(threads) {}

    int Run() {
        const WalkEvents events{
            [this](const std::string& path, std::string_view why) { Skip(path, why); },
            [this](const PlatformError& error, const std::string& path) { Fail(error, path); }};
        const std::vector<std::string> scripts =
            FindScripts(files_, directories_, options_.paths, events);
        // Scripts are read, decided on and staged on the threads; what became
        // of each is told and goes to the rounds here, in walk order. After
        // each is a safe point: a stop there leaves the scripts of earlier
        // rounds replaced and takes back the round being staged, and those
        // staged ahead of their turn.
        int signal = reporter_.Interruption();
        if (!signal) {
            ahead_ = std::max(kAhead, threads_);
            outcomes_ = std::vector<Outcome>(ahead_);
            processed_ = std::vector<std::atomic<bool>>(ahead_);
            RunInOrder(
                threads_, scripts.size(), ahead_,
                [&](std::size_t i) {
                    // Done with, also when it throws: another thread may wait for it.
                    struct Done {
                        std::atomic<bool>& flag;
                        ~Done() { flag.store(true, std::memory_order_release); }
                    };
                    Slot(i) = Outcome();
                    processed_[i % ahead_].store(false);
                    const Done done{processed_[i % ahead_]};
                    Process(i, scripts[i], Slot(i));
                },
                [&](std::size_t i) {
                    Tell(scripts[i], Slot(i));
                    reporter_.Progress(i + 1, scripts.size());
                    return !(signal = reporter_.Interruption());
                },
                [&](std::size_t i) {
                    if (const auto& staged = Slot(i).staged)
                        DiscardStagedScript(files_, staged->script);
                });
        }
        if (!signal)
            signal = reporter_.Interruption();
        if (signal) {
            rounds_.Discard();
            reporter_.Summary(InterruptedLine(tally_, scripts.size(), options_.check));
            return kInterrupted + signal;
        }
        rounds_.Commit();
        reporter_.Summary(SummaryLine(tally_, options_.check));
        if (tally_.failed > 0)
            return kFailed;
        return options_.check && tally_.changed > 0 ? kWouldChange : kDone;
    }

  private:
    void Fail(const PlatformError& error, const std::string& path) {
        ++tally_.failed;
        reporter_.Failure(ErrorLine(error, path));
    }
    void Skip(const std::string& path, std::string_view why) {
        ++tally_.skipped;
        reporter_.Notice(SkippedLine(path, why));
    }

    Outcome& Slot(std::size_t script) { return outcomes_[script % ahead_]; }

    // Tells what became of a script and hands its staged save to the rounds.
    void Tell(const std::string& path, Outcome& outcome) {
        if (outcome.file) {
            // One file reached by two names (hard links, a second spelling) is
            // converted once: told here, in walk order, which name came first.
            const auto [first, isNew] = seen_.try_emplace(*outcome.file, path);
            if (!isNew || outcome.later) {
                if (outcome.staged)
                    DiscardStagedScript(files_, outcome.staged->script);
                outcome = Outcome();
                if (!isNew)
                    outcome.Skip(path, "dieselbe Datei wie " + first->second);
                else // the earlier name found another file when it read again
                    outcome.Fail(ChangedMeanwhile(path), path);
            }
        }
        for (const auto& [kind, line] : outcome.lines) {
            if (kind == Outcome::Line::Failure)
                reporter_.Failure(line);
            else if (kind == Outcome::Line::Changed)
                reporter_.Changed(line);
            else
                reporter_.Notice(line);
        }
        tally_.changed += outcome.tally.changed;
        tally_.unchanged += outcome.tally.unchanged;
        tally_.skipped += outcome.tally.skipped;
        tally_.failed += outcome.tally.failed;
        if (auto& staged = outcome.staged) {
            rounds_.Add(std::move(staged->script), staged->characters, staged->bytes);
            staged.reset();
        }
    }

    // Waits until a script staged ahead of its turn by another thread is
    // done with, and takes back what it staged. Seldom: only for a file with
    // two names read at about the same time.
    void TakeBack(std::size_t script) {
        while (!processed_[script % ahead_].load(std::memory_order_acquire))
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (auto& staged = Slot(script).staged) {
            DiscardStagedScript(files_, staged->script);
            staged.reset();
        }
    }

    // The script `index` of the walk, on any thread: what becomes of it goes
    // to `out`, nothing to the reporter, the tally or the rounds.
    void Process(std::size_t index, const std::string& path, Outcome& out) {
        try {
            // Read with one call where it is not too big to hold.
            std::string bytes;
            FileStamp stamp = files_.ReadStampedPiece(path, 0, limits_.whole, bytes);
            // A file reached by two names goes on under the first (see Tell).
            for (;;) {
                out.file = FileKey{stamp.device, stamp.file};
                const Claims::Verdict verdict = claims_.Claim(*out.file, index);
                out.later = verdict.later;
                if (out.later)
                    return;
                if (!verdict.takenFrom)
                    break;
                // A later name of the file, read first on another thread, may
                // have made a backup link: gone, the file is read again.
                TakeBack(*verdict.takenFrom);
                stamp = files_.ReadStampedPiece(path, 0, limits_.whole, bytes);
            }
            // A big script is read, decided on and written a piece at a time,
            // and one at a time: two at once would take twice the memory, and
            // one file gains nothing from a second thread.
            const bool big = stamp.size > limits_.whole;
            std::unique_lock oneBig(bigScript_, std::defer_lock);
            if (big)
                oneBig.lock();
            const ScriptContent text = big ? ScriptContent::InFile(path, stamp, limits_.piece)
                                           : ScriptContent(std::move(bytes));
            if (options_.check)
                Check(path, text, out);
            else
                Convert(path, text, stamp, out);
        } catch (const PlatformError& error) {
            // Swapped for a link or something else since the walk: skipped as
            // the walk skips it.
            if (error.Cause() == ErrorCause::IsALink)
                out.Skip(path, kLinkNotice);
            else if (error.Cause() == ErrorCause::NotAFile)
                out.Skip(path, kNotAFileNotice);
            else
                out.Fail(error, path);
        } catch (const std::bad_alloc&) {
            out.Fail(files_.Error(win_error::NotEnoughMemory, path), path);
        }
    }

    void Convert(const std::string& path, const ScriptContent& text, const FileStamp& stamp,
                 Outcome& out) {
        // A big script to convert is written while it is decided on: one
        // pass over it instead of two.
        StagedScript staged;
        std::optional<ContentDecision> onePass;
        if (!text.Held())
            onePass = StageInOnePass(files_, path, text, options_.direction, options_.anyway,
                                     options_.backup, staged);
        const auto tellLeftovers = [&] {
            if (staged.leftoversRemoved > 0)
                out.Notice(LeftoversLine(path, staged.leftoversRemoved));
        };
        if (onePass)
            tellLeftovers();
        const ContentDecision decision =
            onePass ? std::move(*onePass) : DecideContent(files_, text, options_.direction);
        if (decision.Refused()) {
            out.Skip(path, CompanionRefusal(decision.kind));
            return;
        }
        if (decision.Changes() && !options_.anyway && decision.guardWord) {
            out.Skip(path, kGuardNotice);
            return;
        }
        if (!decision.keptSentence.empty())
            out.Notice(path + ": " + decision.keptSentence);
        if (!decision.Changes()) {
            ++out.tally.unchanged; // never rewritten: no backup, its times stay
            return;
        }
        if (!onePass) {
            staged = StageScript(files_, path, text.Source(files_), decision.text.Source(files_),
                                 options_.backup, BackupBy::LinkOrCopy, stamp);
            tellLeftovers();
        }
        if (const std::size_t others = NamesBesidesBackups(files_, directories_, path, stamp))
            out.Notice(OtherNamesLine(path, others));
        out.staged.emplace(std::move(staged), decision.converted,
                           static_cast<std::size_t>(decision.size));
    }

    // --pruefen: the answers and lines of Convert, counted without converting.
    // --leise shows neither the lines nor the notices, only errors and the
    // exit status, so then each script is looked at only until its answer is
    // known: with --trotzdem up to its first character that converts, without
    // it also through the guard word.
    void Check(const std::string& path, const ScriptContent& text, Outcome& out) {
        const bool told = !options_.quiet;
        // A script held whole is only counted; a big one is decided on a
        // piece at a time.
        ScriptKind kind = ScriptKind::Text;
        bool guardWord = false;
        std::size_t converted = 0;
        std::string keptSentence;
        if (text.Held()) {
            const ScriptDecision decision =
                CheckScript(*text, options_.direction, {!options_.anyway, told});
            kind = decision.kind;
            guardWord = decision.guardWord;
            converted = decision.converted;
            if (told && decision.keptAsUtf8 > 0)
                keptSentence = KeptAsUtf8Sentence(decision, *text);
        } else {
            ContentDecision decision = DecideContent(files_, text, options_.direction);
            kind = decision.kind;
            guardWord = decision.guardWord;
            converted = decision.converted;
            keptSentence = std::move(decision.keptSentence);
        }
        if (kind != ScriptKind::Text) {
            out.Skip(path, CompanionRefusal(kind));
            return;
        }
        if (converted > 0 && guardWord && !options_.anyway) {
            out.Skip(path, kGuardNotice);
            return;
        }
        if (told && !keptSentence.empty())
            out.Notice(path + ": " + keptSentence);
        if (converted == 0) {
            ++out.tally.unchanged;
            return;
        }
        if (told)
            out.Changed(ChangedLine(path, converted, true));
        else
            ++out.tally.changed;
    }

    FileServices& files_;
    DirectoryServices& directories_;
    const Options& options_;
    Reporter& reporter_;
    const ScriptLimits limits_;
    CommitRounds rounds_;
    std::size_t threads_;
    Tally tally_;
    std::map<FileKey, std::string> seen_; // file -> its first name, in walk order
    Claims claims_;
    // By script % ahead_: what became of it, and whether its thread is done with it.
    std::size_t ahead_ = 1;
    std::vector<Outcome> outcomes_;
    std::vector<std::atomic<bool>> processed_;
    std::mutex bigScript_; // held while a big script is worked on
};

} // namespace

int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter, const ScriptLimits& limits, std::size_t threads) {
    return Batch(files, directories, options, reporter, limits, threads).Run();
}

namespace {

const std::string kInput = "(Standardeingabe)";

// The input goes out as it came, and why.
void TellPassedThrough(Reporter& reporter, std::string_view why) {
    reporter.Notice(kInput + ": unverändert durchgereicht, " + std::string(why));
}

// With --trotzdem the guard word does not count, and --pruefen writes
// nothing: both go through the input once, as it comes (so --pruefen answers
// as the stream converts, which differs from the whole text only in the one
// case UmlautStream names). --pruefen reads to the end even when the answer
// is known early, so that the writer before it in a pipe is not ended by a
// closed pipe, and the notice on kept characters counts them all.
int StreamFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
                 const FilterSizes& sizes) {
    UmlautStream stream(
        options.direction,
        [&](std::string_view bytes) {
            if (!options.check)
                streams.Write(bytes);
        },
        std::nullopt, sizes.piece, sizes.holdLimit);
    bool refusalTold = false;
    const auto tellRefusal = [&] {
        // As soon as the first bytes show it, for an input that never ends.
        if (!refusalTold && stream.KindKnown() && stream.Kind() != ScriptKind::Text) {
            TellPassedThrough(reporter, CompanionRefusal(stream.Kind()));
            refusalTold = true;
        }
    };
    std::string buffer(sizes.piece, '\0');
    while (const std::size_t got = streams.Read(buffer.data(), buffer.size())) {
        stream.Add(std::string_view(buffer.data(), got));
        tellRefusal();
    }
    stream.Finish();
    tellRefusal();
    if (refusalTold)
        return kDone;
    if (stream.Converted() > 0 && !options.anyway && stream.GuardWord()) {
        TellPassedThrough(reporter, kGuardNotice);
        return kDone;
    }
    if (const std::string kept = stream.KeptSentence(); !kept.empty())
        reporter.Notice(kInput + ": " + kept);
    return options.check && stream.Converted() > 0 ? kWouldChange : kDone;
}

// Without --trotzdem a guard word anywhere leaves the whole input as it is, so
// nothing goes out before all of it is read: its first sizes.inMemory bytes
// stay in memory, the rest goes to the spool. Read, it is surveyed (kind,
// guard word, whether it is all UTF-8), then given out again piece by piece,
// converted as the whole text would be.
int SpoolFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
                const FilterSizes& sizes) {
    std::string held;
    held.reserve(sizes.inMemory); // no copy while it grows (untouched pages take no memory)
    bool spooled = false;
    TextSurvey survey;
    std::string buffer(sizes.piece, '\0');
    while (const std::size_t got = streams.Read(buffer.data(), buffer.size())) {
        const std::string_view piece(buffer.data(), got);
        survey.Add(piece);
        const std::size_t fits = std::min(piece.size(), sizes.inMemory - held.size());
        held.append(piece.substr(0, fits));
        if (fits < piece.size()) {
            streams.Spool(piece.substr(fits));
            spooled = true;
        }
    }
    survey.Finish();
    const auto replay = [&](const auto& take) {
        take(std::string_view(held));
        if (!spooled)
            return;
        streams.RewindSpool();
        while (const std::size_t got = streams.ReadSpool(buffer.data(), buffer.size()))
            take(std::string_view(buffer.data(), got));
    };
    const auto passThrough = [&] { replay([&](std::string_view bytes) { streams.Write(bytes); }); };
    if (survey.Kind() != ScriptKind::Text) {
        TellPassedThrough(reporter, CompanionRefusal(survey.Kind()));
        passThrough();
        return kDone;
    }
    const bool utf8 = survey.WellFormedUtf8();
    if (survey.GuardWord()) {
        // Passed through only when something would change: count first.
        UmlautStream count(
            options.direction, [](std::string_view) {}, utf8, sizes.piece);
        replay([&](std::string_view bytes) { count.Add(bytes); });
        count.Finish();
        if (count.Converted() > 0) {
            TellPassedThrough(reporter, kGuardNotice);
            passThrough();
            return kDone;
        }
    }
    UmlautStream stream(
        options.direction, [&](std::string_view bytes) { streams.Write(bytes); }, utf8,
        sizes.piece);
    replay([&](std::string_view bytes) { stream.Add(bytes); });
    stream.Finish();
    if (const std::string kept = stream.KeptSentence(); !kept.empty())
        reporter.Notice(kInput + ": " + kept);
    return kDone;
}

} // namespace

int RunFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
              const FilterSizes& sizes) {
    return options.anyway || options.check ? StreamFilter(streams, options, reporter, sizes)
                                           : SpoolFilter(streams, options, reporter, sizes);
}

} // namespace velmo::cli
