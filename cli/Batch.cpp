#include "cli/Batch.h"

#include "cli/Pool.h"
#include "cli/Rounds.h"
#include "cli/Walk.h"
#include "convert/UmlautStream.h"

#include <algorithm>
#include <map>
#include <new>
#include <optional>
#include <utility>

namespace velmo::cli {
namespace {

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
constexpr std::size_t kAhead = 8;

// One run over files: each script found is decided on, and converted ones go
// to the commit rounds; what happened is told in walk order and tallied.
class Batch {
  public:
    Batch(FileServices& files, DirectoryServices& directories, const Options& options,
          Reporter& reporter, std::size_t threads)
        : files_(files), directories_(directories), options_(options), reporter_(reporter),
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
            const std::size_t ahead = std::max(kAhead, threads_);
            std::vector<Outcome> outcomes(ahead);
            InTurn turn(ahead);
            RunInOrder(
                threads_, scripts.size(), ahead,
                [&](std::size_t i) {
                    outcomes[i % ahead] = Outcome();
                    Process(i, scripts[i], turn, outcomes[i % ahead]);
                },
                [&](std::size_t i) {
                    Tell(outcomes[i % ahead]);
                    reporter_.Progress(i + 1, scripts.size());
                    return !(signal = reporter_.Interruption());
                },
                [&](std::size_t i) {
                    if (const auto& staged = outcomes[i % ahead].staged)
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

    // Tells what became of a script and hands its staged save to the rounds.
    void Tell(Outcome& outcome) {
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

    // The script `index` of the walk, on any thread: what becomes of it goes
    // to `out`, nothing to the reporter, the tally or the rounds.
    void Process(std::size_t index, const std::string& path, InTurn& turn, Outcome& out) {
        InTurn::Step step(turn, index);
        try {
            StampedBytes read = files_.ReadStampedFile(path);
            // One file reached by two names (hard links, a second spelling) is
            // converted once, under the name the walk found first: the scripts
            // before this one have claimed their files.
            step.Enter();
            const auto [first, isNew] =
                seen_.try_emplace({read.stamp.device, read.stamp.file}, path);
            if (!isNew) {
                out.Skip(path, "dieselbe Datei wie " + first->second);
                return;
            }
            step.Leave();
            const std::string& text = read.bytes;
            const ScriptDecision decision = DecideScript(text, options_.direction);
            if (decision.Refused()) {
                out.Skip(path, CompanionRefusal(decision.kind));
                return;
            }
            if (decision.Changes() && !options_.anyway && decision.guardWord) {
                out.Skip(path, kGuardNotice);
                return;
            }
            if (decision.keptAsUtf8 > 0)
                out.Notice(path + ": " + KeptAsUtf8Sentence(decision, text));
            if (!decision.Changes()) {
                ++out.tally.unchanged; // never rewritten: no backup, its times stay
                return;
            }
            if (options_.check) {
                out.Changed(ChangedLine(path, decision.converted, true));
                return;
            }
            auto& staged =
                out.staged.emplace(StageScript(files_, path, text, decision.text, options_.backup,
                                               BackupBy::LinkOrCopy, read.stamp),
                                   decision.converted, decision.text.size());
            if (staged.script.leftoversRemoved > 0)
                out.Notice(LeftoversLine(path, staged.script.leftoversRemoved));
            if (read.stamp.links > 1)
                out.Notice(OtherNamesLine(path, read.stamp.links - 1));
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

    FileServices& files_;
    DirectoryServices& directories_;
    const Options& options_;
    Reporter& reporter_;
    CommitRounds rounds_;
    std::size_t threads_;
    Tally tally_;
    // File -> its first name; only touched in the scripts' turn.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen_;
};

} // namespace

int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter, std::size_t threads) {
    return Batch(files, directories, options, reporter, threads).Run();
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
