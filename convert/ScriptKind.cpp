#include "convert/ScriptKind.h"

namespace velmo {

ScriptKind ClassifyScript(std::string_view bytes) {
    using namespace std::string_view_literals;
    if (bytes.starts_with("\x1BLua"sv))
        return ScriptKind::CompiledChunk;
    // UTF-32 LE's mark begins with UTF-16 LE's, so it is tested first.
    if (bytes.starts_with("\xFF\xFE\x00\x00"sv) || bytes.starts_with("\x00\x00\xFE\xFF"sv))
        return ScriptKind::Utf32;
    if (bytes.starts_with("\xFF\xFE"sv) || bytes.starts_with("\xFE\xFF"sv))
        return ScriptKind::Utf16;
    return ScriptKind::Text;
}

} // namespace velmo
