#include "platform/DynamicCalls.h"

#include "platform/SystemLibrary.h"

namespace velmo::dynamic {

// Looked up once, on first use: a library nobody asks for is never loaded.
#define VELMO_DEFINE_DYNAMIC_CALL(library, function)                                               \
    decltype(&::function) function() noexcept {                                                    \
        static const auto found = SystemFunction<decltype(&::function)>(library, #function);       \
        return found;                                                                              \
    }
VELMO_DYNAMIC_CALLS(VELMO_DEFINE_DYNAMIC_CALL)
#undef VELMO_DEFINE_DYNAMIC_CALL

} // namespace velmo::dynamic
