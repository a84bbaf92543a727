// The umlaut conversion of script texts held as Windows-1252 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace velmo {

// One row of the replacement table: the character's single Windows-1252 byte,
// and its two-character form, the two bytes of its UTF-8 encoding (always 0xC3
// followed by `second`). Rows apply in this order; none's result holds another's
// search text, so one pass over the bytes gives the same as seven passes.
struct UmlautRow {
    unsigned char single;
    unsigned char second;
};
inline constexpr unsigned char kUtf8Lead = 0xC3;
inline constexpr std::array<UmlautRow, 7> kUmlautRows = {{
    {0xE4, 0xA4}, // ä
    {0xF6, 0xB6}, // ö
    {0xFC, 0xBC}, // ü
    {0xDF, 0x9F}, // ß
    {0xC4, 0x84}, // Ä
    {0xD6, 0x96}, // Ö
    {0xDC, 0x9C}, // Ü
}};

// Each of ä ö ü ß Ä Ö Ü becomes its two-character form, except where its byte
// begins a UTF-8 character that is not one of the seven: text already in UTF-8
// (Polish ą = C4 85, Chinese 中 = E4 B8 AD) is never damaged. Kept as UTF-8 are
// E4 followed by two bytes 80–BF, and C4 or D6 followed by one; DF or DC
// followed by one (NKo, Syriac: next to never in a script, while Windows-1252
// "ß…" and "Straße“" are common) only when the whole text is well-formed UTF-8.
// F6 and FC never begin a UTF-8 character.
std::string UmlauteToTwoCharacterForm(std::string_view text);
// Each two-character form becomes its character again.
std::string UmlauteToSingleCharacter(std::string_view text);

// The same two conversions into a buffer the caller provides and may reuse:
// the forward one needs TwoCharacterFormRoom(text) bytes, the reverse one
// text.size() bytes. Each returns the number of bytes written. The forward one
// is told whether the whole text is well-formed UTF-8 (IsWellFormedUtf8), which
// decides DF and DC. (The string forms throw std::bad_alloc when memory runs
// short.)
std::size_t TwoCharacterFormRoom(std::string_view text);
std::size_t UmlauteToTwoCharacterForm(std::string_view text, char* out, bool wholeTextIsUtf8);
std::size_t UmlauteToSingleCharacter(std::string_view text, char* out);

// The ways the forward conversion can run on this machine: Baseline on every
// CPU (SSE2 on x86), Ssse3 where the CPU has it; each for texts in the caches,
// and a BranchFree form for texts read from memory. The buffer form above
// chooses by the CPU and the text's size; this one runs the one named (the
// baseline where it is missing), so that tests can hold them equal.
enum class ForwardKernel { Baseline, BaselineBranchFree, Ssse3, Ssse3BranchFree };
bool HasForwardKernel(ForwardKernel kernel);
std::size_t UmlauteToTwoCharacterForm(std::string_view text, char* out, bool wholeTextIsUtf8,
                                      ForwardKernel kernel);

// True when the text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF); plain ASCII and the empty text are.
bool IsWellFormedUtf8(std::string_view text);

// The bytes of the seven that the forward conversion leaves because they begin
// a UTF-8 character: how many, and where the first begins (text.size() when none).
struct KeptAsUtf8 {
    std::size_t count = 0;
    std::size_t first = 0;
};
KeptAsUtf8 FindKeptAsUtf8(std::string_view text, bool wholeTextIsUtf8);

// What the forward conversion does to a text, found without writing it: how
// many characters it converts, and the bytes it keeps as UTF-8 (FindKeptAsUtf8
// with IsWellFormedUtf8's answer, which it asks only where that answer
// matters). With `untilFirstConversion` it stops at the first byte that is
// converted whatever the rest of the text holds: then `complete` is false and
// `converted` (at least 1) and `kept` count only the bytes looked at.
struct ForwardCount {
    std::size_t converted = 0;
    KeptAsUtf8 kept;
    bool complete = true;
};
ForwardCount CountTwoCharacterForm(std::string_view text, bool untilFirstConversion = false);
// How many two-character forms the reverse conversion turns back into their
// character; with `untilFirst` it stops once it has found any (and then counts
// at least 1, not all).
std::size_t CountSingleCharacter(std::string_view text, bool untilFirst = false);

// True when the text holds the word "UMLAUTE" in any mixture of letter cases,
// also inside a longer word.
bool ContainsGuardWord(std::string_view text);

} // namespace velmo
