// Which files the umlaut conversion may rewrite: single-byte text only.
#pragma once

#include <string_view>

namespace velmo {

// What a script's bytes are, by their first bytes. Only Text is converted: a
// compiled Lua chunk holds instructions and numbers whose bytes look like
// umlauts at random, and UTF-16/UTF-32 text would lose its alignment.
enum class ScriptKind {
    Text,          // any single-byte text, NULs and undefined bytes included
    CompiledChunk, // 0x1B "Lua": the output of luac
    Utf16,         // byte-order mark FF FE or FE FF
    Utf32,         // byte-order mark FF FE 00 00 or 00 00 FE FF
};

ScriptKind ClassifyScript(std::string_view bytes);

} // namespace velmo
