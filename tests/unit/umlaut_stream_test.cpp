// The conversion of a text that comes in pieces: its output and its counts
// against the whole text's decision, wherever the pieces split it.
#include "convert/ScriptDecision.h"
#include "convert/UmlautStream.h"
#include "convert/Umlaute.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velmo {
namespace {

using namespace std::string_literals;

struct Streamed {
    std::string out;
    std::size_t converted = 0;
    std::string kept;
    ScriptKind kind = ScriptKind::Text;
    bool guardWord = false;
};

// `text` handed over `slice` bytes at a time to a stream that works `piece`
// bytes at a time.
Streamed Stream(std::string_view text, Direction direction, std::size_t slice, std::size_t piece,
                std::optional<bool> wholeTextIsUtf8 = {},
                std::size_t holdLimit = UmlautStream::kHoldLimit) {
    Streamed result;
    UmlautStream stream(
        direction, [&](std::string_view bytes) { result.out.append(bytes); }, wholeTextIsUtf8,
        piece, holdLimit);
    for (std::size_t at = 0; at < text.size(); at += slice)
        stream.Add(text.substr(at, slice));
    stream.Finish();
    result.converted = stream.Converted();
    result.kept = stream.KeptSentence();
    result.kind = stream.Kind();
    result.guardWord = stream.GuardWord();
    return result;
}

// What the whole text gives: its conversion, or the text itself where nothing
// changes or it is refused.
Streamed Whole(std::string_view text, Direction direction) {
    const ScriptDecision decision = DecideScript(text, direction);
    Streamed result;
    result.out = decision.Changes() ? decision.text : std::string(text);
    result.converted = decision.converted;
    result.kept = KeptAsUtf8Sentence(decision, text);
    result.kind = ClassifyScript(text);
    result.guardWord = ContainsGuardWord(text);
    return result;
}

// Every way of splitting `text` (slices of 1 to 8 bytes and whole; pieces of
// 4 to 9 bytes and large) gives the whole text's result.
void ExpectSameAsWhole(const std::string& text, Direction direction) {
    const Streamed whole = Whole(text, direction);
    const bool utf8 = IsWellFormedUtf8(text);
    for (std::size_t slice : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 1u << 20})
        for (std::size_t piece : {4u, 5u, 6u, 7u, 9u, 1u << 20})
            for (const std::optional<bool> known : {std::optional<bool>(), std::optional(utf8)}) {
                SCOPED_TRACE("slices of " + std::to_string(slice) + ", pieces of " +
                             std::to_string(piece) + (known ? ", answer known" : ""));
                const Streamed streamed = Stream(text, direction, slice, piece, known);
                EXPECT_EQ(streamed.out, whole.out);
                EXPECT_EQ(streamed.converted, whole.converted);
                EXPECT_EQ(streamed.kept, whole.kept);
                EXPECT_EQ(streamed.kind, whole.kind);
                EXPECT_EQ(streamed.guardWord, whole.guardWord);
            }
}

TEST(UmlautStream, SplitAnywhereGivesTheWholeTextsResult) {
    const struct {
        const char* name;
        std::string text;
        Direction direction;
    } cases[] = {
        {"Windows-1252",
         "-- Gr\xFC\xDF"
         "e\r\nprint(\"\xC4rger \xF6\xE4\xDC\xD6\")\r\n",
         Direction::ToTwoCharacterForm},
        {"UTF-8 beside Windows-1252", "\xC4\x85 \xE4\xB8\xAD\n\xE4x\xD6\x96\xFC\n\xC4\x80",
         Direction::ToTwoCharacterForm},
        {"all UTF-8, NKo and Syriac stay", "a\xDF\x80\n\xE4\xB8\xAD\xDC\x90\n\xC3\xA4",
         Direction::ToTwoCharacterForm},
        {"Stra\xDF"
         "e and quotes in Windows-1252",
         "\"Stra\xDF\x93\n\xDC\x84\xFC", Direction::ToTwoCharacterForm},
        {"not UTF-8 only at the end", "\xDF\x80 \xDC\x81\n\xC4\x85\xE4\xB8\xAD\xF6",
         Direction::ToTwoCharacterForm},
        {"a character cut off at the end", "x\xDF\x80\xE4\xB8", Direction::ToTwoCharacterForm},
        {"a lead byte last", "\xDF\x80\xE4", Direction::ToTwoCharacterForm},
        {"continuation bytes without a lead", "\x80\x80\x80\x80\xE4\x80\x80\x80\xDF",
         Direction::ToTwoCharacterForm},
        {"four-byte characters", "\xF0\x9F\x98\x80\xDF\x80\xF0\x9F", Direction::ToTwoCharacterForm},
        {"guard word", "x = UMLAUTE(\"\xE4\")", Direction::ToTwoCharacterForm},
        {"guard word in other cases", "--uMlAuTe\xE4", Direction::ToSingleCharacter},
        {"nearly the guard word", "UMLAUT\xE4 MLAUTE", Direction::ToTwoCharacterForm},
        {"compiled chunk", "\x1BLuaT\0\x19\x93\xE4\xC3\xA4"s, Direction::ToTwoCharacterForm},
        {"LuaJIT chunk", "\x1BLJ\x02\xE4"s, Direction::ToTwoCharacterForm},
        {"UTF-16", "\xFF\xFEx\0\xE4\0"s, Direction::ToTwoCharacterForm},
        {"UTF-32", "\xFF\xFE\0\0\xC3\xA4"s, Direction::ToSingleCharacter},
        {"short UTF-16 mark", "\xFF\xFE", Direction::ToTwoCharacterForm},
        {"shorter than a signature", "\xE4\xF6", Direction::ToTwoCharacterForm},
        {"one byte", "\xDF", Direction::ToTwoCharacterForm},
        {"empty", "", Direction::ToTwoCharacterForm},
        {"pairs back",
         "-- Gr\xC3\xBC\xC3\x9F"
         "e\r\n\xC3\xC3\xA4\xC3\n\xC3\x84\xC3",
         Direction::ToSingleCharacter},
        {"a lead byte last, back", "\xC3\xA4\xC3", Direction::ToSingleCharacter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectSameAsWhole(c.text, c.direction);
    }
}

// Texts made of the bytes that matter, each tried split every way.
TEST(UmlautStream, RandomTextsOfTheBytesThatMatter) {
    const std::string alphabet = "\xC3\xC4\xD6\xDF\xDC\xE4\xF6\xFC\xF0\x80\x85\x93\x9F\xA4\xB8"
                                 "a\n";
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t length = random() % 40;
        // Half of them from the UTF-8 characters alone, to reach the ones
        // that stay only in a text that is all UTF-8.
        const bool utf8 = round % 2 == 0;
        const std::vector<std::string> characters = {
            "\xC4\x85", "\xDF\x80", "\xDC\x9C", "\xE4\xB8\xAD", "\xC3\xA4", "a", "\n"};
        while (text.size() < length)
            text += utf8 ? characters[random() % characters.size()]
                         : std::string(1, alphabet[random() % alphabet.size()]);
        SCOPED_TRACE(::testing::PrintToString(text));
        ExpectSameAsWhole(text, Direction::ToTwoCharacterForm);
        ExpectSameAsWhole(text, Direction::ToSingleCharacter);
    }
}

// The one place a stream must decide before the end: well-formed UTF-8 with
// DF or DC before a byte 80–BF, ill-formed only after more than the hold
// limit. The pairs before that stay; from the ill-formed byte on it converts.
TEST(UmlautStream, BeyondTheHoldLimitItTakesTheTextForUtf8) {
    const std::string start = "\xDF\x80 Stra\xDF\x93 \xE4\xB8\xAD\n";
    const std::string rest = "\xF6 \xDF\x93";
    const std::string filler(64, 'x');
    const std::string text = start + filler + rest;
    for (std::size_t piece : {4u, 16u, 1u << 20}) {
        SCOPED_TRACE(piece);
        const Streamed held = Stream(text, Direction::ToTwoCharacterForm, 8, piece, {}, 32);
        EXPECT_EQ(held.out, start + filler + "\xC3\xB6 \xC3\x9F\x93");
        EXPECT_EQ(held.converted, 2u);
        EXPECT_EQ(held.kept, KeptAsUtf8Sentence(3, "\xDF\x80", 1));
        // With room to hold all of it, or told in advance, it is exact.
        EXPECT_EQ(Stream(text, Direction::ToTwoCharacterForm, 8, piece, {}, 128).out,
                  Whole(text, Direction::ToTwoCharacterForm).out);
        EXPECT_EQ(Stream(text, Direction::ToTwoCharacterForm, 8, piece, false, 32).out,
                  Whole(text, Direction::ToTwoCharacterForm).out);
    }
}

// What goes out as soon as its slice is handed over: all but a character's
// incomplete end, while no DF or DC pair waits for the answer.
TEST(UmlautStream, OnlyAPairToDecideWaits) {
    std::string out;
    UmlautStream stream(Direction::ToTwoCharacterForm,
                        [&](std::string_view bytes) { out.append(bytes); });
    stream.Add("\xC4\x85 \xE4\xB8\xAD \xE4\xB8");
    EXPECT_EQ(out, "\xC4\x85 \xE4\xB8\xAD ");
    stream.Add("\xAD\xDF\x80 x");
    EXPECT_EQ(out, "\xC4\x85 \xE4\xB8\xAD \xE4\xB8\xAD");
    // Not UTF-8: what waited is converted as Windows-1252.
    stream.Add("\xFC!");
    EXPECT_EQ(out, "\xC4\x85 \xE4\xB8\xAD \xE4\xB8\xAD\xC3\x9F\x80 x\xC3\xBC!");
    stream.Finish();
    EXPECT_EQ(stream.Converted(), 2u);
}

TEST(TextSurvey, TellsKindGuardWordAndUtf8AcrossPieces) {
    const std::string texts[] = {
        "ab UMLAUTE cd", "UMLAUT",      "\xC4\x85\xE4\xB8\xAD\xF0\x9F\x98\x80",
        "\xE4\xB8",      "\xFF\xFE\0"s, "\x1BLu",
        "\xC3\xA4\x80"};
    for (const std::string& text : texts)
        for (std::size_t slice : {1u, 2u, 3u, 100u}) {
            SCOPED_TRACE(::testing::PrintToString(text) + " in slices of " + std::to_string(slice));
            TextSurvey survey;
            for (std::size_t at = 0; at < text.size(); at += slice)
                survey.Add(std::string_view(text).substr(at, slice));
            survey.Finish();
            EXPECT_EQ(survey.Kind(), ClassifyScript(text));
            EXPECT_EQ(survey.GuardWord(), ContainsGuardWord(text));
            EXPECT_EQ(survey.WellFormedUtf8(), IsWellFormedUtf8(text));
        }
}

} // namespace
} // namespace velmo
