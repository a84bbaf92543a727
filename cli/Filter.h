// The companion's filter: standard input converted to standard output,
// touching no file (a git clean or smudge filter).
#pragma once

#include "cli/Arguments.h"
#include "cli/Report.h"
#include "cli/Status.h"
#include "convert/UmlautStream.h"

#include <cstddef>
#include <string_view>

namespace velmo::cli {

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
