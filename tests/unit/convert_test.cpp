// The umlaut conversion, the guard word, and which files are converted at all.
#include "convert/ScriptKind.h"
#include "convert/Umlaute.h"

#include <gtest/gtest.h>

#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

TEST(Umlaute, EachRowBothWays) {
    struct Row {
        std::string single, pair;
    };
    const Row rows[] = {{"\xE4", "\xC3\xA4"}, {"\xF6", "\xC3\xB6"}, {"\xFC", "\xC3\xBC"},
                        {"\xDF", "\xC3\x9F"}, {"\xC4", "\xC3\x84"}, {"\xD6", "\xC3\x96"},
                        {"\xDC", "\xC3\x9C"}};
    for (const Row& row : rows) {
        const std::string text = "a" + row.single + "b\r\n" + row.single + row.single;
        const std::string converted = "a" + row.pair + "b\r\n" + row.pair + row.pair;
        EXPECT_EQ(UmlauteToTwoCharacterForm(text), converted);
        EXPECT_EQ(UmlauteToSingleCharacter(converted), text);
    }
}

TEST(Umlaute, EveryOtherByteIsUntouched) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string forward = UmlauteToTwoCharacterForm(all);
    std::string expected;
    for (int b = 0; b < 256; ++b) {
        bool row = false;
        for (const UmlautRow& r : kUmlautRows)
            if (r.single == b)
                expected += "\xC3"s + static_cast<char>(r.second), row = true;
        if (!row)
            expected += static_cast<char>(b);
    }
    EXPECT_EQ(forward, expected);
    // Back again: a lone 0xC3 and 0xC3 before a byte outside the table stay.
    EXPECT_EQ(UmlauteToSingleCharacter(forward), all);
    EXPECT_EQ(UmlauteToSingleCharacter("\xC3"s), "\xC3"s);
    EXPECT_EQ(UmlauteToSingleCharacter("\xC3\xC3\xA4\xC3\x41"s), "\xC3\xE4\xC3\x41"s);
    EXPECT_EQ(UmlauteToSingleCharacter("\0\xC3\xBC\0"s), "\0\xFC\0"s);
}

TEST(Umlaute, TwoCharacterFormTypedByHandAndIdempotence) {
    const std::string text = "-- Gr\xC3\xBC\xDF"
                             "e: \xC3\xA4 schon da, \xE4 nicht\r\n";
    EXPECT_EQ(UmlauteToSingleCharacter(text), "-- Gr\xFC\xDF"
                                              "e: \xE4 schon da, \xE4 nicht\r\n");
    const std::string once = UmlauteToSingleCharacter(text);
    EXPECT_EQ(UmlauteToSingleCharacter(once), once);
    // Forward twice: the second pass finds only the bytes the first wrote.
    const std::string ascii = "print(\"Hallo\")\n";
    EXPECT_EQ(UmlauteToTwoCharacterForm(ascii), ascii);
    EXPECT_EQ(UmlauteToTwoCharacterForm(""), "");
}

TEST(Umlaute, RoundTripOfLongMixedText) {
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += (i % 7 == 0) ? "\xC4rger mit \xF6l und Stra\xDF"
                               "e\r\n"
                             : "local x = 1 -- ok\n";
    EXPECT_EQ(UmlauteToSingleCharacter(UmlauteToTwoCharacterForm(text)), text);
}

TEST(Umlaute, EveryPlaceInALongText) {
    // Long texts are converted a block at a time: whatever lies across a
    // block's edge, or in the text's last bytes, converts as anywhere else.
    struct Piece {
        std::string text, forward, reverse;
    };
    const Piece pieces[] = {
        {"\xE4", "\xC3\xA4", "\xE4"},
        {"\xC3\x9C", "\xC3\x9C", "\xDC"},
        {"\xC3", "\xC3", "\xC3"},
        {"\xC3\xC3\xB6", "\xC3\xC3\xB6", "\xC3\xF6"},
        {"\xC3\xE4", "\xC3\xC3\xA4", "\xC3\xE4"},
        {"\xDF\xC3", "\xC3\x9F\xC3", "\xDF\xC3"},
        {"\xE9\xC3\xE9", "\xE9\xC3\xE9", "\xE9\xC3\xE9"},
    };
    const std::string filler = [] {
        std::string f;
        while (f.size() < 200)
            f += "local x = 1\r\n";
        return f;
    }();
    for (const Piece& piece : pieces) {
        for (std::size_t at = 0; at <= filler.size(); ++at) {
            const std::string before = filler.substr(0, at), after = filler.substr(at);
            const std::string text = before + piece.text + after;
            EXPECT_EQ(UmlauteToTwoCharacterForm(text), before + piece.forward + after) << at;
            EXPECT_EQ(UmlauteToSingleCharacter(text), before + piece.reverse + after) << at;
        }
    }
}

TEST(GuardWord, AnySpellingAnywhere) {
    const std::pair<const char*, bool> cases[] = {
        {"Umlaute(x)", true},      {"-- umlaute nicht", true}, {"UMLAUTE", true},
        {"s = \"uMlAuTe\"", true}, {"Umlauten", true},         {"xUmlautex", true},
        {"Umlaut e", false},       {"UMLAUT", false},          {"", false},
        {"Uml\xE4ute", false},
    };
    for (const auto& [text, found] : cases)
        EXPECT_EQ(ContainsGuardWord(text), found) << text;
}

TEST(GuardWord, EveryPlaceInALongText) {
    const std::string filler(100, 'u');
    for (std::size_t at = 0; at <= filler.size(); ++at) {
        const std::string before = filler.substr(0, at), after = filler.substr(at);
        EXPECT_TRUE(ContainsGuardWord(before + "umLaute" + after)) << at;
        EXPECT_FALSE(ContainsGuardWord(before + "umLauxe" + after)) << at;
        EXPECT_FALSE(ContainsGuardWord(before + "umLaut" + after)) << at;
    }
}

TEST(ScriptKind, OnlyTheSignatureAtTheStartRefuses) {
    const std::pair<std::string, ScriptKind> cases[] = {
        {""s, ScriptKind::Text},
        {"\x1B"s, ScriptKind::Text},
        {"\x1BLu"s, ScriptKind::Text},
        {"\x1Blua\x54"s, ScriptKind::Text},
        {"\x1BLua"s, ScriptKind::CompiledChunk},
        {"\x1BLua\x54\0\x19\x93\r\n\x1A\n\x04\x08\xE4\xC3\xA4"s, ScriptKind::CompiledChunk},
        {" \x1BLua"s, ScriptKind::Text},
        {"\xFF\xFE-\0-\0 \0\xE4\0"s, ScriptKind::Utf16},
        {"\xFE\xFF\0-\0-\0 \0\xE4"s, ScriptKind::Utf16},
        {"\xFF\xFE"s, ScriptKind::Utf16},
        {"\xFF\xFE\0\0-\0\0\0"s, ScriptKind::Utf32},
        {"\0\0\xFE\xFF\0\0\0-"s, ScriptKind::Utf32},
        {"\0\0\xFE"s, ScriptKind::Text},
        {"\xFE"s, ScriptKind::Text},
        {"\xFF"s, ScriptKind::Text},
        {"\xFE\xFE\xFF"s, ScriptKind::Text},
        {"-- \xFF\xFE sind \xFF und \xFE\r\n\xFF\xFE\0\0"s, ScriptKind::Text},
        {"\xEF\xBB\xBF-- mit UTF-8-Kennung\r\n"s, ScriptKind::Text},
        {"local s = \"a\0b\"\0\0\xFE\xFF\r\n\0\x1BLua \xE4\x81\x8D"s, ScriptKind::Text},
    };
    for (const auto& [bytes, kind] : cases)
        EXPECT_EQ(ClassifyScript(bytes), kind) << ::testing::PrintToString(bytes);
}

} // namespace
} // namespace velmo
