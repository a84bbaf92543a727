#include "cli/Batch.h"

#include "batch/Batch.h"

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
