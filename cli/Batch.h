// The command-line companion's logic, portable: a run over the scripts found
// (cli/Walk), each decided on as the window decides (convert/ScriptDecision)
// and saved in rounds (cli/Rounds) with the launcher's own save, told in the
// words of cli/Report; and the filter from standard input to standard output.
#pragma once

#include "cli/Arguments.h"
#include "cli/Report.h"
#include "convert/ScriptContent.h"
#include "convert/UmlautStream.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmo::cli {

// Exit statuses.
inline constexpr int kDone = 0;
inline constexpr int kWouldChange = 1; // only with --pruefen
inline constexpr int kFailed = 2;      // bad usage, or a file that could not be read or written
// A run asked to stop ends with this plus the signal's number, as a shell
// reports a program a signal ended: 130 for Ctrl+C (also on Windows), 143 for
// SIGTERM, 129 for SIGHUP or a closed console window, 149 for Ctrl+Break.
inline constexpr int kInterrupted = 128;

// Converts (or checks) every script found below options.paths; scripts bigger
// than limits.whole a piece at a time. With more than one thread, scripts are
// read, decided on and staged on that many at once, so `files` must take calls
// from several threads; what is told and the commit rounds stay in walk order
// on the calling thread.
int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter, const ScriptLimits& limits = {}, std::size_t threads = 1);

// Where the filter's bytes come from and go to, and where input waits that
// cannot go out before all of it is read.
class FilterStreams {
  public:
    virtual ~FilterStreams() = default;
    // Up to `room` bytes of the input into `buffer`: how many, 0 at its end.
    virtual std::size_t Read(char* buffer, std::size_t room) = 0;
    virtual void Write(std::string_view bytes) = 0;
    // The waiting room: bytes appended, then read again from the start
    // (possibly more than once).
    virtual void Spool(std::string_view bytes) = 0;
    virtual void RewindSpool() = 0;
    virtual std::size_t ReadSpool(char* buffer, std::size_t room) = 0;
};

// How much the filter reads at a time, holds in memory before it spools, and
// holds back to learn whether the input is UTF-8 (see UmlautStream).
struct FilterSizes {
    std::size_t piece = UmlautStream::kPiece;
    std::size_t inMemory = std::size_t{8} << 20;
    std::size_t holdLimit = UmlautStream::kHoldLimit;
};

// The filter: converts standard input to standard output. A text that must
// not be converted passes through unchanged, with a notice. With --trotzdem
// (or --pruefen, which writes nothing) it works as the bytes come, in memory
// that does not grow with the input; without it the guard word may come last,
// so all of the input is read (beyond sizes.inMemory into the spool) before
// the first byte goes out.
int RunFilter(FilterStreams& streams, const Options& options, Reporter& reporter,
              const FilterSizes& sizes = {});

} // namespace velmo::cli
