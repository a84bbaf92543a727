#include "cli/Batch.h"

#include "batch/Batch.h"
#include "batch/Undo.h"

#include <string>

namespace velmo::cli {
namespace {

std::string Why(const batch::Skip& skip) {
    switch (skip.reason) {
    case batch::SkipReason::Link:
        return std::string(kLinkNotice);
    case batch::SkipReason::NotAFile:
        return std::string(kNotAFileNotice);
    case batch::SkipReason::RefusedKind:
        return std::string(CompanionRefusal(skip.kind));
    case batch::SkipReason::GuardWord:
        return std::string(kGuardNotice);
    case batch::SkipReason::SameFile:
        return "dieselbe Datei wie " + skip.sameAs;
    }
    return {};
}

// What the engine finds, in the companion's lines.
class ConsoleWords final : public batch::BatchEvents {
  public:
    ConsoleWords(Reporter& reporter, const Options& options)
        : reporter_(reporter), options_(options) {}

    void Progress(std::size_t done, std::size_t total) override { reporter_.Progress(done, total); }
    void Converted(const std::string& path, std::size_t characters) override {
        // --leise --pruefen looks at each script only until its answer is
        // known, so it has no count to tell.
        if (!(options_.check && options_.quiet))
            reporter_.Changed(ChangedLine(path, characters, options_.check));
    }
    void Skipped(const std::string& path, const batch::Skip& why) override {
        reporter_.Notice(SkippedLine(path, Why(why)));
    }
    void Failed(const std::string& path, const PlatformError& error) override {
        reporter_.Failure(ErrorLine(error, path));
    }
    void KeptAsUtf8(const std::string& path, const std::string& sentence) override {
        reporter_.Notice(path + ": " + sentence);
    }
    void LeftoversRemoved(const std::string& path, std::size_t count) override {
        reporter_.Notice(LeftoversLine(path, count));
    }
    void StrayBackupsRemoved(const std::string& path, std::size_t count) override {
        reporter_.Notice(StrayBackupsLine(path, count));
    }
    void OtherNames(const std::string& path, std::size_t others) override {
        reporter_.Notice(OtherNamesLine(path, others));
    }
    bool StopRequested() override {
        signal_ = reporter_.Interruption();
        return signal_ != 0;
    }

    // The signal that stopped the run.
    int Signal() const { return signal_; }

  private:
    Reporter& reporter_;
    const Options& options_;
    int signal_ = 0;
};

// What the undo finds, in the companion's lines.
class UndoWords final : public batch::UndoEvents {
  public:
    UndoWords(Reporter& reporter, bool check) : reporter_(reporter), check_(check) {}

    void Progress(std::size_t done, std::size_t total) override { reporter_.Progress(done, total); }
    void PutBack(const std::string& script) override {
        reporter_.Changed(PutBackLine(script, check_));
    }
    void Left(const std::string& script, batch::UndoLeft why) override {
        reporter_.Notice(SkippedLine(script, batch::UndoLeftText(why)));
    }
    void Failed(const std::string& script, const PlatformError& error) override {
        reporter_.Failure(ErrorLine(error, script));
    }
    bool StopRequested() override {
        signal_ = reporter_.Interruption();
        return signal_ != 0;
    }
    int Signal() const { return signal_; }

  private:
    Reporter& reporter_;
    bool check_;
    int signal_ = 0;
};

} // namespace

int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter, const ScriptLimits& limits, std::size_t threads) {
    batch::BatchRequest request;
    request.paths = options.paths;
    request.direction = options.direction;
    request.backup = options.backup;
    request.check = options.check;
    request.guardWord = options.anyway ? batch::GuardWord::Convert : batch::GuardWord::Skip;
    request.counts = !options.quiet;
    request.threads = threads;
    request.limits = limits;
    ConsoleWords words(reporter, options);
    const batch::BatchResult result = batch::RunBatch(files, directories, request, words);
    if (result.stopped) {
        reporter.Summary(InterruptedLine(result.tally, result.scripts, options.check));
        return kInterrupted + words.Signal();
    }
    reporter.Summary(SummaryLine(result.tally, options.check));
    if (result.tally.failed > 0 || reporter.LinesLost())
        return kFailed;
    return options.check && result.tally.changed > 0 ? kWouldChange : kDone;
}

} // namespace velmo::cli

namespace velmo::cli {

int RunUndo(FileServices& files, DirectoryServices& directories, const Options& options,
            Reporter& reporter) {
    bool walkFailed = false;
    const batch::WalkEvents walkEvents{
        [&](const std::string& path, PathKind kind) {
            reporter.Notice(
                SkippedLine(path, kind == PathKind::Link ? kLinkNotice : kNotAFileNotice));
        },
        [&](const PlatformError& error, const std::string& path) {
            walkFailed = true;
            reporter.Failure(ErrorLine(error, path));
        },
        [&] { return reporter.Interruption() != 0; }};
    batch::FoundRuns found =
        batch::FindRuns(files, directories, options.paths, options.run, walkEvents);
    // Stopped while the folders were searched: nothing was changed.
    if (const int signal = reporter.Interruption()) {
        reporter.Summary(UndoInterruptedLine({}, 0, options.check));
        return kInterrupted + signal;
    }
    if (found.runs.size() > 1) {
        for (const batch::FoundRun& run : found.runs)
            reporter.Changed(RunLine(run.stamp, run.backups.size()));
        reporter.Failure("Sicherungen von " + std::to_string(found.runs.size()) +
                         " Läufen gefunden, nichts geändert; wähle einen mit --lauf STEMPEL");
        return kFailed;
    }
    std::vector<batch::RunBackup> backups;
    if (!found.runs.empty())
        backups = std::move(found.runs.front().backups);
    for (std::string& script : found.missing)
        backups.push_back({std::move(script), {}});
    if (backups.empty()) {
        reporter.Failure(options.run.empty()
                             ? std::string("keine Sicherung eines Laufs gefunden")
                             : "keine Sicherung des Laufs " + options.run + " gefunden");
        return kFailed;
    }
    UndoWords words(reporter, options.check);
    const batch::UndoResult result = batch::UndoRun(files, backups, options.check, words);
    if (result.stopped) {
        reporter.Summary(UndoInterruptedLine(result.tally, result.scripts, options.check));
        return kInterrupted + words.Signal();
    }
    reporter.Summary(UndoSummaryLine(result.tally, options.check));
    if (result.tally.failed > 0 || walkFailed || reporter.LinesLost())
        return kFailed;
    return options.check && result.tally.putBack > 0 ? kWouldChange : kDone;
}

} // namespace velmo::cli
