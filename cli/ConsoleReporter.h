// The companion on its console: its lines to standard output and error (the
// Reporter), and the filter's standard input, output and spool file.
#pragma once

#include "cli/Filter.h"
#include "cli/Report.h"
#include "platform/Console.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace velmo::cli {

// Lines to the console; --leise keeps only the errors. A run that lasts longer
// than a second shows how far it is on a terminal's stderr, never in a file.
// A check's lines into a file or pipe are gathered and written some at a time,
// as a line-oriented tool's are, and always before a line on stderr, so that
// both streams into one file keep their order; on a terminal, and for a
// conversion, whose lines tell what is done, each line goes out at once.
//
// No call throws. Standard output that cannot be written (a full disk) is
// told once on stderr, and the run goes on without its lines (LinesLost); a
// reader gone from the pipe (`| head`) asks the run to stop at its next safe
// point, as SIGPIPE would.
class ConsoleReporter final : public Reporter {
  public:
    ConsoleReporter(bool quiet, bool check);
    ~ConsoleReporter() override;

    void Changed(const std::string& line) override;
    void Notice(const std::string& line) override;
    void Failure(const std::string& line) override;
    void Progress(std::size_t done, std::size_t total) override;
    void Summary(const std::string& line) override;
    int Interruption() override;
    bool LinesLost() const override { return outFailed_; }

    // SIGPIPE's number on Linux, also used on Windows, which has no such signal.
    static constexpr int kBrokenPipe = 13;

  private:
    using Clock = std::chrono::steady_clock;

    // How much a check gathers before it writes.
    static constexpr std::size_t kGathered = std::size_t{32} << 10;

    void ToOut(const std::string& text);
    void WriteGathered();
    // A notice or error on stderr, its names escaped for a terminal.
    void ToErr(const std::string& line);
    void ClearProgress();

    bool quiet_;
    bool showProgress_;
    bool outIsTerminal_;
    bool errIsTerminal_;
    bool gather_;
    std::string gathered_;
    bool outFailed_ = false; // standard output failed: its lines are lost
    bool outClosed_ = false; // its reader has gone
    std::size_t interruptAfter_ = 0;
    int interruptSignal_ = 0;
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

} // namespace velmo::cli
