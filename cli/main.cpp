// velmo-umlaute: the launcher's umlaut conversion for whole map folders, on the
// command line of Windows and Linux.
#include "cli/Batch.h"
#include "platform/Console.h"
#include "velmo_version.h"

#ifdef _WIN32
#include "platform/Win32Files.h"
#else
#include "platform/PosixFiles.h"
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

namespace velmo::cli {
namespace {

#ifdef _WIN32
using SystemFiles = Win32Files;
#else
using SystemFiles = PosixFiles;
#endif

constexpr const char* kProgram = "velmo-umlaute: ";

// Lines to the console; --leise keeps only the errors. A run that lasts longer
// than a second shows how far it is on a terminal's stderr, never in a file.
// A check's lines into a file or pipe are gathered and written some at a time,
// as a line-oriented tool's are, and always before a line on stderr, so that
// both streams into one file keep their order; on a terminal, and for a
// conversion, whose lines tell what is done, each line goes out at once.
class ConsoleReporter final : public Reporter {
  public:
    ConsoleReporter(bool quiet, bool check)
        : quiet_(quiet), showProgress_(!quiet && console::IsTerminal(console::Stream::Err)),
          outIsTerminal_(console::IsTerminal(console::Stream::Out)),
          errIsTerminal_(console::IsTerminal(console::Stream::Err)),
          gather_(check && !outIsTerminal_) {}
    ~ConsoleReporter() override {
        try {
            WriteGathered();
        } catch (...) {
            // The run has ended: what cannot be written now is lost anyway.
        }
        ClearProgress();
    }

    void Changed(const std::string& line) override {
        if (quiet_)
            return;
        ClearProgress();
        if (!gather_) {
            console::Write(console::Stream::Out,
                           (outIsTerminal_ ? ForTerminal(line) : line) + "\n");
            return;
        }
        RethrowOutFailure();
        gathered_ += line;
        gathered_ += '\n';
        if (gathered_.size() >= kGathered)
            WriteGathered();
    }
    void Notice(const std::string& line) override {
        if (quiet_)
            return;
        ClearProgress();
        ToErr(line);
    }
    void Failure(const std::string& line) override {
        ClearProgress();
        ToErr(line);
    }
    void Progress(std::size_t done, std::size_t total) override {
#ifndef _WIN32
        // For the tests: a signal in the middle of a run, at a known place.
        if (interruptAfter_ != 0 && done == interruptAfter_)
            std::raise(interruptSignal_);
#endif
        if (!showProgress_)
            return;
        const auto now = Clock::now();
        if (now - started_ < std::chrono::seconds(1) ||
            now - shown_ < std::chrono::milliseconds(100))
            return;
        shown_ = now;
        const std::string line =
            "\r" + std::to_string(done) + " von " + std::to_string(total) + " Dateien ";
        WriteGatheredBeforeErr(); // the lines of the files it counts are out, too
        progressWidth_ = line.size();
        console::Write(console::Stream::Err, line);
    }
    void Summary(const std::string& line) override {
        RethrowOutFailure();
        WriteGathered();
        if (quiet_ && !console::Interruption())
            return;
        ClearProgress();
        console::Write(console::Stream::Err, line + "\n");
    }
    int Interruption() override {
        return console::Interruption();
    }

  private:
    using Clock = std::chrono::steady_clock;

    // How much a check gathers before it writes.
    static constexpr std::size_t kGathered = std::size_t{32} << 10;

    void WriteGathered() {
        if (gathered_.empty())
            return;
        const std::string lines = std::move(gathered_);
        gathered_.clear();
        console::Write(console::Stream::Out, lines);
    }
    // Before a line on stderr, which never throws (an error may be told from
    // the handler of another): a failure of stdout waits for the next line on
    // stdout or the summary.
    void WriteGatheredBeforeErr() {
        try {
            WriteGathered();
        } catch (...) {
            if (!outFailure_)
                outFailure_ = std::current_exception();
        }
    }
    void RethrowOutFailure() {
        if (outFailure_)
            std::rethrow_exception(std::exchange(outFailure_, nullptr));
    }

    // A notice or error on stderr, its names escaped for a terminal.
    void ToErr(const std::string& line) {
        WriteGatheredBeforeErr();
        console::Write(console::Stream::Err,
                       kProgram + (errIsTerminal_ ? ForTerminal(line) : line) + "\n");
    }
    void ClearProgress() {
        if (progressWidth_ == 0)
            return;
        console::Write(console::Stream::Err, "\r" + std::string(progressWidth_, ' ') + "\r");
        progressWidth_ = 0;
    }
    bool quiet_;
    bool showProgress_;
    bool outIsTerminal_;
    bool errIsTerminal_;
    bool gather_;
    std::string gathered_;
    std::exception_ptr outFailure_;
#ifndef _WIN32
    // VELMO_INTERRUPT_AFTER=N[:SIGNAL] raises SIGNAL (default SIGTERM) after N files.
    std::size_t interruptAfter_ = [] {
        const char* after = std::getenv("VELMO_INTERRUPT_AFTER");
        return after ? static_cast<std::size_t>(std::strtoul(after, nullptr, 10)) : 0u;
    }();
    int interruptSignal_ = [] {
        const char* after = std::getenv("VELMO_INTERRUPT_AFTER");
        const char* colon = after ? std::strchr(after, ':') : nullptr;
        return colon ? std::atoi(colon + 1) : SIGTERM;
    }();
#endif
    Clock::time_point started_ = Clock::now();
    Clock::time_point shown_{};
    std::size_t progressWidth_ = 0;
};

// The filter's standard input and output, and its spool in a temporary file
// made when first needed.
class ConsoleStreams final : public FilterStreams {
  public:
    std::size_t Read(char* buffer, std::size_t room) override {
        return console::ReadInput(buffer, room);
    }
    void Write(std::string_view bytes) override { console::WriteOutput(bytes); }
    void Spool(std::string_view bytes) override {
        if (!spool_)
            spool_ = std::make_unique<console::ScratchFile>();
        spool_->Append(bytes);
    }
    void RewindSpool() override {
        if (spool_)
            spool_->Rewind();
    }
    std::size_t ReadSpool(char* buffer, std::size_t room) override {
        return spool_ ? spool_->Read(buffer, room) : 0;
    }

  private:
    std::unique_ptr<console::ScratchFile> spool_;
};

// How many threads a run over files reads, decides on and stages scripts on:
// two where there are two cores or more. On two cores, two threads checked a
// map folder in 0.57 of the time one took and converted it in 0.73 (the commit
// rounds stay on one thread); with other work taking the cores, 0.71-0.88 and
// 0.96. More were not measured. VELMO_THREADS=N (1-64) sets it, for measuring. On Windows one:
// its file services take calls from one thread at a time.
std::size_t BatchThreads() {
#ifdef _WIN32
    return 1;
#else
    if (const char* wanted = std::getenv("VELMO_THREADS"))
        return std::clamp<std::size_t>(std::strtoul(wanted, nullptr, 10), 1, 64);
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
#endif
}

// SIGPIPE's number on Linux, also used on Windows, which has no such signal.
constexpr int kBrokenPipe = 13;

// What --help and --version print: a failed write (a full disk, a closed
// stdout) is an error told on stderr, never an exception out of main.
int Print(const std::string& text) {
    try {
        console::Write(console::Stream::Out, text);
        return kDone;
    } catch (const PlatformError& error) {
        console::Write(console::Stream::Err, kProgram + ErrorLine(error, "") + "\n");
        return kFailed;
    } catch (const console::OutputClosed&) {
        return kInterrupted + kBrokenPipe;
    }
}

int Run(const Options& options) {
    ConsoleReporter reporter(options.quiet, options.check);
    try {
        if (options.paths.front() == "-") {
            ConsoleStreams streams;
            return RunFilter(streams, options, reporter);
        }
        // Over files a stop waits for a safe point; the filter, which touches no
        // file, ends at once as any filter does.
        console::CatchInterruptions();
        SystemFiles files;
        const int status = RunBatch(files, files, options, reporter, {}, BatchThreads());
        console::Stopped();
        return status;
    } catch (const PlatformError& error) {
        reporter.Failure(ErrorLine(error, ""));
        return kFailed;
    } catch (const std::bad_alloc&) {
        reporter.Failure("Fehler 8: zu wenig Arbeitsspeicher");
        return kFailed;
    } catch (const console::OutputClosed&) {
        // The reader went away (`| head`): the end, as for any filter, told
        // as a shell tells a program SIGPIPE ended.
        return kInterrupted + kBrokenPipe;
    }
}

int Main(const std::vector<std::string>& arguments) {
    try {
        const Arguments parsed = ParseArguments(arguments);
        switch (parsed.action) {
        case Arguments::Action::Help:
            return Print(HelpText());
        case Arguments::Action::Version:
            return Print("velmo-umlaute " VELMO_VERSION_STRING "\n");
        case Arguments::Action::Usage:
            console::Write(console::Stream::Err,
                           kProgram + parsed.error + "\n" + UsageHint() + "\n");
            return kFailed;
        case Arguments::Action::Run:
            break;
        }
        return Run(parsed.options);
    } catch (const std::exception& error) {
        // Nothing leaves main as an exception: what escaped the run (a report
        // line that could not be written at its end) is told where it can be.
        console::Write(console::Stream::Err, kProgram + std::string(error.what()) + "\n");
        return kFailed;
    } catch (const console::OutputClosed&) {
        return kInterrupted + kBrokenPipe;
    }
}

} // namespace
} // namespace velmo::cli

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return velmo::cli::Main(velmo::console::Start(argc, argv));
}
#else
int main(int argc, char** argv) {
    return velmo::cli::Main(velmo::console::Start(argc, argv));
}
#endif
