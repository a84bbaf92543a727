#include "cli/Batch.h"

#include "cli/Rounds.h"
#include "cli/Walk.h"
#include "convert/UmlautStream.h"

#include <algorithm>
#include <map>
#include <new>
#include <utility>

namespace velmo::cli {
namespace {

// One run over files: each script found is decided on, and converted ones go
// to the commit rounds; what happened is told as it happens and tallied.
class Batch {
  public:
    Batch(FileServices& files, DirectoryServices& directories, const Options& options,
          Reporter& reporter, const ScriptLimits& limits)
        : files_(files), directories_(directories), options_(options), reporter_(reporter),
          limits_(limits),
          rounds_(
              files,
              [this](const std::string& path, std::size_t characters) {
                  ++tally_.changed;
                  reporter_.Changed(ChangedLine(path, characters, false));
              },
              [this](const PlatformError& error, const std::string& path) { Fail(error, path); }) {}

    int Run() {
        const WalkEvents events{
            [this](const std::string& path, std::string_view why) { Skip(path, why); },
            [this](const PlatformError& error, const std::string& path) { Fail(error, path); }};
        const std::vector<std::string> scripts =
            FindScripts(files_, directories_, options_.paths, events);
        // Between two scripts is a safe point: a stop there leaves the scripts
        // of earlier rounds replaced and takes back the round being staged.
        int signal = 0;
        for (std::size_t i = 0; i < scripts.size() && !(signal = reporter_.Interruption()); ++i) {
            Process(scripts[i]);
            reporter_.Progress(i + 1, scripts.size());
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

    void Process(const std::string& path) {
        try {
            if (options_.check)
                Check(path);
            else
                Convert(path);
        } catch (const PlatformError& error) {
            // Swapped for a link or something else since the walk: skipped as
            // the walk skips it.
            if (error.Cause() == ErrorCause::IsALink)
                Skip(path, kLinkNotice);
            else if (error.Cause() == ErrorCause::NotAFile)
                Skip(path, kNotAFileNotice);
            else
                Fail(error, path);
        } catch (const std::bad_alloc&) {
            Fail(files_.Error(win_error::NotEnoughMemory, path), path);
        }
    }

    void Convert(const std::string& path) {
        FileStamp stamp;
        const ScriptContent text = ReadScriptContent(files_, path, limits_, stamp);
        // One file reached by two names (hard links, a second spelling) is
        // converted once.
        const auto [first, isNew] = seen_.try_emplace({stamp.device, stamp.file}, path);
        if (!isNew) {
            Skip(path, "dieselbe Datei wie " + first->second);
            return;
        }
        // A big script to convert is written while it is decided on: one
        // pass over it instead of two.
        StagedScript staged;
        std::optional<ContentDecision> onePass;
        if (!text.Held())
            onePass = StageInOnePass(files_, path, text, options_.direction, options_.anyway,
                                     options_.backup, staged);
        const auto tellLeftovers = [&] {
            if (staged.leftoversRemoved > 0)
                reporter_.Notice(LeftoversLine(path, staged.leftoversRemoved));
        };
        if (onePass)
            tellLeftovers();
        const ContentDecision decision =
            onePass ? std::move(*onePass) : DecideContent(files_, text, options_.direction);
        if (decision.Refused()) {
            Skip(path, CompanionRefusal(decision.kind));
            return;
        }
        if (decision.Changes() && !options_.anyway && decision.guardWord) {
            Skip(path, kGuardNotice);
            return;
        }
        if (!decision.keptSentence.empty())
            reporter_.Notice(path + ": " + decision.keptSentence);
        if (!decision.Changes()) {
            ++tally_.unchanged; // never rewritten: no backup, its times stay
            return;
        }
        if (!onePass) {
            staged = StageScript(files_, path, text.Source(files_), decision.text.Source(files_),
                                 options_.backup, BackupBy::LinkOrCopy, stamp);
            tellLeftovers();
        }
        if (stamp.links > 1)
            reporter_.Notice(OtherNamesLine(path, stamp.links - 1));
        rounds_.Add(std::move(staged), decision.converted, static_cast<std::size_t>(decision.size));
    }

    // --pruefen: the answers and lines of Process, counted without converting.
    // --leise shows neither the lines nor the notices, only errors and the
    // exit status, so then each script is looked at only until its answer is
    // known: with --trotzdem up to its first character that converts, without
    // it also through the guard word.
    void Check(const std::string& path) {
        // Read with one call into the room of the script before, where it
        // is not too big to hold.
        const FileStamp stamp = files_.ReadStampedPiece(path, 0, limits_.whole, buffer_);
        const auto [first, isNew] = seen_.try_emplace({stamp.device, stamp.file}, path);
        if (!isNew) {
            Skip(path, "dieselbe Datei wie " + first->second);
            return;
        }
        const bool told = !options_.quiet;
        // A script held whole is only counted; a big one is decided on a
        // piece at a time.
        ScriptKind kind = ScriptKind::Text;
        bool guardWord = false;
        std::size_t converted = 0;
        std::string keptSentence;
        if (stamp.size <= limits_.whole) {
            const ScriptDecision decision =
                CheckScript(buffer_, options_.direction, {!options_.anyway, told});
            kind = decision.kind;
            guardWord = decision.guardWord;
            converted = decision.converted;
            if (told && decision.keptAsUtf8 > 0)
                keptSentence = KeptAsUtf8Sentence(decision, buffer_);
        } else {
            ContentDecision decision = DecideContent(
                files_, ScriptContent::InFile(path, stamp, limits_.piece), options_.direction);
            kind = decision.kind;
            guardWord = decision.guardWord;
            converted = decision.converted;
            keptSentence = std::move(decision.keptSentence);
        }
        if (kind != ScriptKind::Text) {
            Skip(path, CompanionRefusal(kind));
            return;
        }
        if (converted > 0 && guardWord && !options_.anyway) {
            Skip(path, kGuardNotice);
            return;
        }
        if (told && !keptSentence.empty())
            reporter_.Notice(path + ": " + keptSentence);
        if (converted == 0) {
            ++tally_.unchanged;
            return;
        }
        ++tally_.changed;
        if (told)
            reporter_.Changed(ChangedLine(path, converted, true));
    }

    FileServices& files_;
    DirectoryServices& directories_;
    const Options& options_;
    Reporter& reporter_;
    const ScriptLimits limits_;
    CommitRounds rounds_;
    Tally tally_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen_; // file -> first name
    std::string buffer_; // the script being checked
};

} // namespace

int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter, const ScriptLimits& limits) {
    return Batch(files, directories, options, reporter, limits).Run();
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
