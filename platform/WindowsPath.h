// Windows paths in the "\\?\" form, worked out by plain text so it runs (and is
// tested) on any system. The Win32 file services hand every path over in this
// form: with it the system takes each name literally, so a script named
// "con.lua" or "nul.lua" (from git or a copy off Linux) is that file and not
// the console or the null device, and paths beyond 260 characters work too.
#pragma once

#include <string>

namespace velmo {

// The "\\?\" form of `path` (UTF-8, "\" or "/" between names), as the system's
// own normalisation would give it, but without its mapping of device names:
// relative paths are taken from `currentDir`, "\x" from its drive or share, a
// drive-relative "C:x" from `currentDir` when that is on drive C and from the
// root of C otherwise; "/" becomes "\", repeated separators count once, "." and
// ".." are resolved ("..", never above the drive or share). UNC paths become
// "\\?\UNC\server\share\...". A path that already starts with "\\?\" is
// returned as it is, and so is the empty path. A final separator stays, so
// "C:\" remains the root folder. `currentDir` is an absolute path such as
// GetCurrentDirectoryW gives; when it is not, a relative `path` is returned
// unchanged.
std::string ExtendedPath(const std::string& path, const std::string& currentDir);

} // namespace velmo
