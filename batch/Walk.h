// Finding the scripts a batch works on.
#pragma once

#include "platform/FileServices.h"

#include <functional>
#include <string>
#include <vector>

namespace velmo::batch {

// What the walk tells as it goes: a path left out for what it is (a Link, or
// Other: no regular file), and a path it could not look at; `stop`, where
// given, is asked before each path and entry, and true ends the walk there.
struct WalkEvents {
    std::function<void(const std::string& path, PathKind kind)> skipped;
    std::function<void(const PlatformError& error, const std::string& path)> failed;
    std::function<bool()> stop;
};

// The scripts named by `paths`: a file named is taken whatever its name, a
// folder gives every *.lua below it (any letter case), in name order, hidden
// folders left out. Symbolic links and what is no regular file are skipped.
// A file reached twice (also in another spelling the system takes as the same)
// is taken once; two names differing only in letter case that are two files
// (a case-sensitive folder) are two scripts. A walk stopped returns what it
// found until then.
std::vector<std::string> FindScripts(FileServices& files, DirectoryServices& directories,
                                     const std::vector<std::string>& paths,
                                     const WalkEvents& events);

} // namespace velmo::batch
