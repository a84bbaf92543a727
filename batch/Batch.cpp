#include "batch/Batch.h"

namespace velmo::batch {

BatchResult RunBatch(FileServices&, DirectoryServices&, const BatchRequest&, BatchEvents&) {
    return {};
}

} // namespace velmo::batch
