#include "cli/ConsoleReporter.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace velmo::cli {
namespace {

constexpr const char* kProgram = "velmo-umlaute: ";

} // namespace

ConsoleReporter::ConsoleReporter(bool quiet, bool check)
    : quiet_(quiet), showProgress_(!quiet && console::IsTerminal(console::Stream::Err)),
      outIsTerminal_(console::IsTerminal(console::Stream::Out)),
      errIsTerminal_(console::IsTerminal(console::Stream::Err)), gather_(check && !outIsTerminal_) {
#ifndef _WIN32
    // For the tests: VELMO_INTERRUPT_AFTER=N[:SIGNAL] raises SIGNAL (default
    // SIGTERM) after N files, a signal in the middle of a run at a known place.
    if (const char* after = std::getenv("VELMO_INTERRUPT_AFTER")) {
        interruptAfter_ = static_cast<std::size_t>(std::strtoul(after, nullptr, 10));
        const char* colon = std::strchr(after, ':');
        interruptSignal_ = colon ? std::atoi(colon + 1) : SIGTERM;
    }
#endif
}

ConsoleReporter::~ConsoleReporter() {
    WriteGathered();
    ClearProgress();
}

void ConsoleReporter::Changed(const std::string& line) {
    if (quiet_)
        return;
    ClearProgress();
    if (!gather_) {
        ToOut((outIsTerminal_ ? ForTerminal(line) : line) + "\n");
        return;
    }
    gathered_ += line;
    gathered_ += '\n';
    if (gathered_.size() >= kGathered)
        WriteGathered();
}

void ConsoleReporter::Notice(const std::string& line) {
    if (quiet_)
        return;
    ClearProgress();
    ToErr(line);
}

void ConsoleReporter::Failure(const std::string& line) {
    ClearProgress();
    ToErr(line);
}

void ConsoleReporter::Progress(std::size_t done, std::size_t total) {
#ifndef _WIN32
    if (interruptAfter_ != 0 && done == interruptAfter_)
        std::raise(interruptSignal_);
#endif
    if (!showProgress_)
        return;
    const auto now = Clock::now();
    if (now - started_ < std::chrono::seconds(1) || now - shown_ < std::chrono::milliseconds(100))
        return;
    shown_ = now;
    const std::string line =
        "\r" + std::to_string(done) + " von " + std::to_string(total) + " Dateien ";
    WriteGathered(); // the lines of the files it counts are out, too
    progressWidth_ = line.size();
    console::Write(console::Stream::Err, line);
}

void ConsoleReporter::Summary(const std::string& line) {
    WriteGathered();
    if (quiet_ && !console::Interruption())
        return;
    ClearProgress();
    console::Write(console::Stream::Err, line + "\n");
}

int ConsoleReporter::Interruption() {
    if (const int signal = console::Interruption())
        return signal;
    return outClosed_ ? kBrokenPipe : 0;
}

void ConsoleReporter::ToOut(const std::string& text) {
    if (outFailed_ || outClosed_)
        return;
    try {
        console::Write(console::Stream::Out, text);
    } catch (const PlatformError& error) {
        // Said once; the files are still done, each as if its line had gone out.
        outFailed_ = true;
        ToErr(ErrorLine(error, ""));
    } catch (const console::OutputClosed&) {
        outClosed_ = true;
    }
}

void ConsoleReporter::WriteGathered() {
    if (gathered_.empty())
        return;
    ToOut(gathered_);
    gathered_.clear();
}

void ConsoleReporter::ToErr(const std::string& line) {
    WriteGathered();
    console::Write(console::Stream::Err,
                   kProgram + (errIsTerminal_ ? ForTerminal(line) : line) + "\n");
}

void ConsoleReporter::ClearProgress() {
    if (progressWidth_ == 0)
        return;
    console::Write(console::Stream::Err, "\r" + std::string(progressWidth_, ' ') + "\r");
    progressWidth_ = 0;
}

} // namespace velmo::cli
