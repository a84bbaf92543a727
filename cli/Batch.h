// The companion's run over files: the batch engine (batch/Batch.h) driven
// with the options of the command line, what it finds told in the words of
// cli/Report, ending in an exit status. The filter is in cli/Filter.h.
#pragma once

#include "cli/Arguments.h"
#include "cli/Filter.h"
#include "cli/Report.h"
#include "cli/Status.h"
#include "convert/ScriptContent.h"
#include "platform/FileServices.h"

#include <cstddef>

namespace velmo::cli {

// Converts (or checks) every script found below options.paths; scripts bigger
// than limits.whole a piece at a time. With more than one thread, scripts are
// read, decided on and staged on that many at once, so `files` must take calls
// from several threads; what is told and the commit rounds stay in walk order
// on the calling thread. A line the reporter could not write costs no script
// its conversion: the run goes on, and ends with kFailed.
int RunBatch(FileServices& files, DirectoryServices& directories, const Options& options,
             Reporter& reporter, const ScriptLimits& limits = {}, std::size_t threads = 1);

// rueckgaengig: puts back every script of one run found below options.paths
// (options.run, or the one run whose backups lie there; several are listed
// and nothing changes). Statuses as for a conversion.
int RunUndo(FileServices& files, DirectoryServices& directories, const Options& options,
            Reporter& reporter);

} // namespace velmo::cli
