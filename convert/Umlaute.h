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

// Each of ä ö ü ß Ä Ö Ü becomes its two-character form.
std::string UmlauteToTwoCharacterForm(std::string_view text);
// Each two-character form becomes its character again.
std::string UmlauteToSingleCharacter(std::string_view text);

// The same two conversions into a buffer the caller provides and may reuse:
// the forward one needs TwoCharacterFormRoom(text) bytes, the reverse one
// text.size() bytes. Each returns the number of bytes written. (The string
// forms throw std::bad_alloc when memory runs short.)
std::size_t TwoCharacterFormRoom(std::string_view text);
std::size_t UmlauteToTwoCharacterForm(std::string_view text, char* out);
std::size_t UmlauteToSingleCharacter(std::string_view text, char* out);

// True when the text holds the word "UMLAUTE" in any mixture of letter cases,
// also inside a longer word.
bool ContainsGuardWord(std::string_view text);

} // namespace velmo
