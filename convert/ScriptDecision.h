// What the umlaut conversion does with one script, for the window and the
// command-line companion alike: which files are refused, the guard word, the
// conversion with its count and its UTF-8 rule, and the words both front ends
// use for them. The window asks and tells in boxes, the companion in notices;
// what is decided is the same.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmo {

enum class Direction {
    ToTwoCharacterForm, // "Umlaute für Velmo umwandeln", velmo-umlaute fuer-velmo
    ToSingleCharacter,  // "Umlaute für mich umwandeln", velmo-umlaute fuer-mich
};

// What a script's bytes are, by their first bytes. Only Text is converted: a
// compiled Lua chunk holds instructions and numbers whose bytes look like
// umlauts at random, and UTF-16/UTF-32 text would lose its alignment.
enum class ScriptKind {
    Text,          // any single-byte or UTF-8 text, NULs and undefined bytes included
    CompiledChunk, // 0x1B "Lua" (luac) or 0x1B "LJ" (luajit -b)
    Utf16,         // byte-order mark FF FE or FE FF
    Utf32,         // byte-order mark FF FE 00 00 or 00 00 FE FF
};

ScriptKind ClassifyScript(std::string_view bytes);

// Why a script of `kind` is not converted: the window's sentence (shown below
// the path) and the companion's short reason (after "übersprungen, "). Empty
// for Text.
std::string_view WindowRefusal(ScriptKind kind);
std::string_view CompanionRefusal(ScriptKind kind);

// What becomes of a script, by its verdict.
enum class ScriptAction {
    Refuse,            // a kind that is never converted
    LeaveForGuardWord, // would change, but holds the guard word and nobody insisted
    LeaveUnchanged,    // nothing to convert: the file is not touched
    Convert,
};

// The verdict on a script, whether its text was held whole, read in pieces or
// streamed: what it is, whether it holds the guard word, how many characters
// convert. The decisions below add the converted text and the kept bytes.
struct ScriptVerdict {
    ScriptKind kind = ScriptKind::Text; // anything else: refused, nothing converted
    bool guardWord = false;             // holds "UMLAUTE": converted only when the user insists
    std::size_t converted = 0;          // characters converted

    bool Refused() const { return kind != ScriptKind::Text; }
    bool Changes() const { return converted > 0; }
    // The rule every front end follows: a refused kind is never converted,
    // and the guard word holds back only a script that would change, unless
    // the user insists (`evenWithGuardWord`).
    ScriptAction Action(bool evenWithGuardWord) const {
        if (Refused())
            return ScriptAction::Refuse;
        if (!Changes())
            return ScriptAction::LeaveUnchanged;
        if (guardWord && !evenWithGuardWord)
            return ScriptAction::LeaveForGuardWord;
        return ScriptAction::Convert;
    }
};

struct ScriptDecision : ScriptVerdict {
    std::string text;           // the converted text; empty when nothing changes
    std::size_t keptAsUtf8 = 0; // bytes of the seven left because they begin a UTF-8 character
    std::size_t firstKept = 0;  // where the first of them is in the text read
};

// Everything the front ends need to know about converting `text`. Throws
// std::bad_alloc when memory runs short.
ScriptDecision DecideScript(std::string_view text, Direction direction);

// What a check asks of a script beyond whether it would change.
struct CheckWanted {
    bool guardWord = true; // whether it holds the guard word, where something would change
    bool counts = true;    // how many characters, and the bytes kept as UTF-8
};
// DecideScript's answer without the converted text, for a check that writes
// nothing: the same kind, counts and kept bytes, `text` left empty. The guard
// word is looked for only where something would change, and only when wanted
// (else guardWord is false). Without `wanted.counts` it stops at the first
// character it knows converts: `converted` is then at least 1, not the whole
// count, and `keptAsUtf8` counts only the bytes before it.
ScriptDecision CheckScript(std::string_view text, Direction direction, CheckWanted wanted = {});

// The sentence telling that bytes were kept as UTF-8, naming the first such
// character and its line in `text` (the text the decision was made on); both
// programs show it, the window under "Fertig", the companion after the path.
std::string KeptAsUtf8Sentence(const ScriptDecision& decision, std::string_view text);
// The same sentence from a count, the first such character's bytes and its
// line (counted from 1), for a text that is not held whole.
std::string KeptAsUtf8Sentence(std::size_t count, std::string_view character, std::size_t line);

// The window's messages for a refused script.
inline constexpr std::string_view kRefusedChunk =
    "Die Datei ist ein kompiliertes Lua-Skript (Bytecode) und wird nicht umgewandelt.";
inline constexpr std::string_view kRefusedUtf16 =
    "Die Datei ist in UTF-16 gespeichert und wird nicht umgewandelt.";
inline constexpr std::string_view kRefusedUtf32 =
    "Die Datei ist in UTF-32 gespeichert und wird nicht umgewandelt.";

} // namespace velmo
