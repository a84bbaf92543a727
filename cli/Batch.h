// The command-line companion's logic, portable: a run over the scripts found
// (cli/Walk), each decided on as the window decides (convert/ScriptDecision)
// and saved in rounds (cli/Rounds) with the launcher's own save, told in the
// words of cli/Report; and the filter from standard input to standard output.
#pragma once

#include "cli/Arguments.h"
#include "cli/Report.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <string>
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

// Converts (or checks) every script found below options.paths.
int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter);

// The filter: converts `input` into `output`. A file that must not be
// converted passes through unchanged, with a notice.
int RunFilter(const std::string& input, std::string& output, const Options& options,
              Reporter& reporter);

} // namespace velmo::cli
