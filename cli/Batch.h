// The command-line companion's logic, portable: finding the scripts below the
// paths given, deciding for each what to do, converting and saving them with
// the launcher's own save, and telling what happened.
#pragma once

#include "cli/Arguments.h"
#include "platform/FileServices.h"

#include <cstddef>
#include <string>
#include <vector>

namespace velmo::cli {

// Where the batch's words go. The console implementation decides what --leise
// keeps and when a progress line is worth showing.
class Reporter {
  public:
    virtual ~Reporter() = default;
    // A script changed (or, with --pruefen, would change): one line on stdout.
    virtual void Changed(const std::string& line) = 0;
    // A file left alone and why: a notice on stderr.
    virtual void Notice(const std::string& line) = 0;
    // An error: always on stderr.
    virtual void Failure(const std::string& line) = 0;
    // `done` of `total` files decided.
    virtual void Progress(std::size_t done, std::size_t total) = 0;
    // The closing line on stderr.
    virtual void Summary(const std::string& line) = 0;
};

// Exit statuses.
inline constexpr int kDone = 0;
inline constexpr int kWouldChange = 1; // only with --pruefen
inline constexpr int kFailed = 2;      // bad usage, or a file that could not be read or written

// Converts (or checks) every script found below options.paths.
int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter);

// The filter: converts `input` into `output`. A file that must not be
// converted passes through unchanged, with a notice.
int RunFilter(const std::string& input, std::string& output, const Options& options,
              Reporter& reporter);

// The text of an error line: path, Windows error number and the system's text.
std::string ErrorLine(const PlatformError& error, const std::string& path);

} // namespace velmo::cli
