// velmo-umlaute: the launcher's umlaut conversion for whole map folders, on the
// command line of Windows and Linux.
#include "cli/Batch.h"
#include "cli/ConsoleReporter.h"
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

// How many threads a run over files reads, decides on and stages scripts on:
// two where there are two cores or more. On two cores, two threads checked a
// map folder in 0.57 of the time one took and converted it in 0.73 (the commit
// rounds stay on one thread); with other work taking the cores, 0.71-0.88 and
// 0.96. More were not measured. VELMO_THREADS=N (1-64) sets it, for measuring.
std::size_t BatchThreads() {
    if (const char* wanted = std::getenv("VELMO_THREADS"))
        return std::clamp<std::size_t>(std::strtoul(wanted, nullptr, 10), 1, 64);
    return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

constexpr int kBrokenPipe = ConsoleReporter::kBrokenPipe;

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
        const int status = options.undo
                               ? RunUndo(files, files, options, reporter)
                               : RunBatch(files, files, options, reporter, {}, BatchThreads());
        console::Stopped();
        return status;
    } catch (const PlatformError& error) {
        reporter.Failure(ErrorLine(error, ""));
        return kFailed;
    } catch (const std::bad_alloc&) {
#ifdef _WIN32
        // As Windows tells it: ERROR_NOT_ENOUGH_MEMORY with its number.
        reporter.Failure("Fehler 8: zu wenig Arbeitsspeicher");
#else
        reporter.Failure("zu wenig Arbeitsspeicher");
#endif
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
            return Print("velmo-umlaute " VELMO_VERSION_STRING "\n" VELMO_COPYRIGHT "\n"
                         "Freie Software: Sie dürfen sie verwenden, ändern und weitergeben.\n"
                         "Es gibt keine Garantie. Der Lizenztext liegt dem Programm bei.\n");
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
