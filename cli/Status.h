// The companion's exit statuses.
#pragma once

namespace velmo::cli {

// Exit statuses.
inline constexpr int kDone = 0;
inline constexpr int kWouldChange = 1; // only with --pruefen
inline constexpr int kFailed = 2;      // bad usage, or a file that could not be read or written
// A run asked to stop ends with this plus the signal's number, as a shell
// reports a program a signal ended: 130 for Ctrl+C (also on Windows), 143 for
// SIGTERM, 129 for SIGHUP or a closed console window, 149 for Ctrl+Break.
inline constexpr int kInterrupted = 128;

} // namespace velmo::cli
