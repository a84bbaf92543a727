#include "cli/Batch.h"

#include "cli/Rounds.h"
#include "cli/Walk.h"

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
          Reporter& reporter)
        : files_(files), directories_(directories), options_(options), reporter_(reporter),
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
            StampedBytes read = files_.ReadStampedFile(path);
            // One file reached by two names (hard links, a second spelling) is
            // converted once.
            const auto [first, isNew] =
                seen_.try_emplace({read.stamp.device, read.stamp.file}, path);
            if (!isNew) {
                Skip(path, "dieselbe Datei wie " + first->second);
                return;
            }
            const std::string& text = read.bytes;
            const ScriptDecision decision = DecideScript(text, options_.direction);
            if (decision.Refused()) {
                Skip(path, CompanionRefusal(decision.kind));
                return;
            }
            if (decision.Changes() && !options_.anyway && decision.guardWord) {
                Skip(path, kGuardNotice);
                return;
            }
            if (decision.keptAsUtf8 > 0)
                reporter_.Notice(path + ": " + KeptAsUtf8Sentence(decision, text));
            if (!decision.Changes()) {
                ++tally_.unchanged; // never rewritten: no backup, its times stay
                return;
            }
            if (options_.check) {
                ++tally_.changed;
                reporter_.Changed(ChangedLine(path, decision.converted, true));
                return;
            }
            StagedScript staged = StageScript(files_, path, text, decision.text, options_.backup,
                                              BackupBy::LinkOrCopy, read.stamp);
            if (staged.leftoversRemoved > 0)
                reporter_.Notice(LeftoversLine(path, staged.leftoversRemoved));
            if (read.stamp.links > 1)
                reporter_.Notice(OtherNamesLine(path, read.stamp.links - 1));
            rounds_.Add(std::move(staged), decision.converted, decision.text.size());
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

    FileServices& files_;
    DirectoryServices& directories_;
    const Options& options_;
    Reporter& reporter_;
    CommitRounds rounds_;
    Tally tally_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> seen_; // file -> first name
};

} // namespace

int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter) {
    return Batch(files, directories, options, reporter).Run();
}

int RunFilter(const std::string& input, std::string& output, const Options& options,
              Reporter& reporter) {
    const std::string name = "(Standardeingabe)";
    output = input;
    ScriptDecision decision = DecideScript(input, options.direction);
    if (decision.Refused()) {
        reporter.Notice(name + ": unverändert durchgereicht, " +
                        std::string(CompanionRefusal(decision.kind)));
        return kDone;
    }
    if (decision.Changes() && !options.anyway && decision.guardWord) {
        reporter.Notice(name + ": unverändert durchgereicht, " + std::string(kGuardNotice));
        return kDone;
    }
    if (decision.keptAsUtf8 > 0)
        reporter.Notice(name + ": " + KeptAsUtf8Sentence(decision, input));
    if (!decision.Changes())
        return kDone;
    if (options.check) {
        output.clear();
        return kWouldChange;
    }
    output = std::move(decision.text);
    return kDone;
}

} // namespace velmo::cli
