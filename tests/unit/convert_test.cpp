// The umlaut conversion, the guard word, and which files are converted at all.
#include "convert/ScriptDecision.h"
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
        // UTF-8 characters that begin with one of the seven bytes stay, and so
        // do their beginnings where the text ends too early for them.
        {"\xE4\xB8\xAD", "\xE4\xB8\xAD", "\xE4\xB8\xAD"},
        {"\xE4\xB8x", "\xC3\xA4\xB8x", "\xE4\xB8x"},
        {"\xC4\x85", "\xC4\x85", "\xC4\x85"},
        {"\xDF\x85", "\xDF\x85", "\xDF\x85"},
        {"\xF6\xDF\x85", "\xC3\xB6\xC3\x9F\x85", "\xF6\xDF\x85"},
    };
    const std::string filler = [] {
        std::string f;
        while (f.size() < 200)
            f += "local x = 1\r\n";
        return f;
    }();
    // Each way the forward conversion can run on this CPU, too.
    const ForwardKernel kernels[] = {ForwardKernel::Baseline, ForwardKernel::BaselineBranchFree,
                                     ForwardKernel::Ssse3, ForwardKernel::Ssse3BranchFree};
    for (const Piece& piece : pieces) {
        for (std::size_t at = 0; at <= filler.size(); ++at) {
            const std::string before = filler.substr(0, at), after = filler.substr(at);
            const std::string text = before + piece.text + after;
            const std::string forward = before + piece.forward + after;
            EXPECT_EQ(UmlauteToTwoCharacterForm(text), forward) << at;
            EXPECT_EQ(UmlauteToSingleCharacter(text), before + piece.reverse + after) << at;
            for (const ForwardKernel kernel : kernels) {
                if (!HasForwardKernel(kernel))
                    continue;
                std::string out(TwoCharacterFormRoom(text), '\0');
                out.resize(
                    UmlauteToTwoCharacterForm(text, out.data(), IsWellFormedUtf8(text), kernel));
                EXPECT_EQ(out, forward) << at << " kernel " << static_cast<int>(kernel);
            }
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
        {"\x1BLJ\x02\x0A\xE4"s, ScriptKind::CompiledChunk},
        {"\x1BL"s, ScriptKind::Text},
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

// What both programs do with a script on its way to Velmo: text already in
// UTF-8 stays as it is, Windows-1252 umlauts convert, and both may stand in
// one file.
TEST(Decision, UmlautsConvertAndUtf8TextStays) {
    struct Case {
        const char* name;
        std::string text, expected; // expected: the text after "für Velmo"
        std::size_t kept;
    };
    const std::string utf8 =
        "x = \"\xE4\xB8\xAD \xC4\x85\" -- Gr\xC3\xB6\xC3\x9F"
        "e\r\n"                                                        // 中 ą Größe
        "c = \"\xC4\x8D\xC4\x9B \xC4\x9F\xC4\xB0\xC4\xB1 \xC4\x81\"\n" // čě ğİı ā
        "h = \"\xD6\xB0\xD6\x80 \xDC\x90 \xDF\x85\"\n"; // Hebrew, Armenian, Syriac, NKo
    const std::string cp1252 = "s = \"Ich wei\xDF\x85 \x84Stra\xDF"
                               "e\x93 Fu\xDF\x94 \xF6l \xE4 \xC4rger\"\n";
    const std::string cp1252Done = "s = \"Ich wei\xC3\x9F\x85 \x84Stra\xC3\x9F"
                                   "e\x93 Fu\xC3\x9F\x94 \xC3\xB6l \xC3\xA4 \xC3\x84rger\"\n";
    const Case cases[] = {
        {"UTF-8 stays", utf8, utf8, 12},
        {"Windows-1252 with punctuation after an umlaut", cp1252, cp1252Done, 0},
        {"partly converted", "f\xC3\xBCr f\xFCr\n"s, "f\xC3\xBCr f\xC3\xBCr\n"s, 0},
        {"mixed",
         "\xE4 \xE4\xB8\xAD \xC4\x85 Stra\xDF"
         "e\n"s,
         "\xC3\xA4 \xE4\xB8\xAD \xC4\x85 Stra\xC3\x9F"
         "e\n"s,
         2},
        {"ASCII", "print(1)\n"s, "print(1)\n"s, 0},
    };
    for (const Case& c : cases) {
        const ScriptDecision decision = DecideScript(c.text, Direction::ToTwoCharacterForm);
        EXPECT_FALSE(decision.Refused()) << c.name;
        EXPECT_EQ(decision.Changes() ? decision.text : c.text, c.expected) << c.name;
        EXPECT_EQ(decision.converted, c.expected.size() - c.text.size()) << c.name;
        EXPECT_EQ(decision.keptAsUtf8, c.kept) << c.name;
        EXPECT_EQ(UmlauteToTwoCharacterForm(c.text), c.expected) << c.name;
    }
    // "für mich" then "für Velmo" gives UTF-8 text back byte for byte, also
    // where an umlaut stands right before a character the rule keeps. (Not
    // with NKo or Syriac beside German umlauts: "Öl ߅" for Windows-1252 is
    // "Öl ß…", and the file decides for ß…, as it must for German scripts.)
    const std::string withoutNkoAndSyriac = utf8.substr(0, utf8.find("h = "));
    for (const std::string& text :
         {withoutNkoAndSyriac, utf8.substr(utf8.find("h = ")),
          "\xC3\xA4\xC4\x85\xC3\x9F\xE2\x80\xA6\xC3\x9C\xE4\xB8\xAD\xC3\xB6"s}) {
        const ScriptDecision back = DecideScript(text, Direction::ToSingleCharacter);
        const std::string single = back.Changes() ? back.text : text;
        const ScriptDecision forth = DecideScript(single, Direction::ToTwoCharacterForm);
        EXPECT_EQ(forth.Changes() ? forth.text : single, text);
    }
}

TEST(Decision, RefusalsAndTheGuardWord) {
    for (const std::string& chunk : {"\x1BLua\x54\xE4"s, "\x1BLJ\x02\xE4"s}) {
        const ScriptDecision decision = DecideScript(chunk, Direction::ToTwoCharacterForm);
        EXPECT_EQ(decision.kind, ScriptKind::CompiledChunk);
        EXPECT_FALSE(decision.Changes());
        EXPECT_EQ(WindowRefusal(decision.kind), kRefusedChunk);
        EXPECT_EQ(CompanionRefusal(decision.kind), "kompiliertes Lua-Skript (Bytecode)");
    }
    EXPECT_EQ(WindowRefusal(ScriptKind::Text), "");
    const ScriptDecision guarded = DecideScript("-- Umlaute \xE4\n", Direction::ToTwoCharacterForm);
    EXPECT_TRUE(guarded.guardWord);
    EXPECT_EQ(guarded.text, "-- Umlaute \xC3\xA4\n");
}

TEST(Decision, KeptCharactersAreNamedWithTheirLine) {
    const std::string one = "a\nb\n\xC4\x85\n";
    const ScriptDecision single = DecideScript(one, Direction::ToTwoCharacterForm);
    EXPECT_EQ(KeptAsUtf8Sentence(single, one),
              "1 Zeichen geh\xC3\xB6rt schon zu UTF-8-Text und bleibt, wie es ist: "
              "\xE2\x80\x9E\xC4\x85\xE2\x80\x9C in Zeile 3.");
    const std::string two = "\xF6 \xE4\xB8\xAD\xC4\x85";
    const ScriptDecision many = DecideScript(two, Direction::ToTwoCharacterForm);
    EXPECT_EQ(KeptAsUtf8Sentence(many, two),
              "2 Zeichen geh\xC3\xB6ren schon zu UTF-8-Text und bleiben, wie sie sind; das "
              "erste: \xE2\x80\x9E\xE4\xB8\xAD\xE2\x80\x9C in Zeile 1.");
    EXPECT_EQ(KeptAsUtf8Sentence(DecideScript("\xF6", Direction::ToTwoCharacterForm), "\xF6"), "");
    // The reverse direction keeps nothing to tell about.
    EXPECT_EQ(DecideScript(one, Direction::ToSingleCharacter).keptAsUtf8, 0u);
}

// The bytes of the seven the forward conversion keeps, counted the plain way:
// E4 with two bytes 80-BF behind it, C4 or D6 with one, DF or DC with one in
// a text that is all UTF-8.
KeptAsUtf8 PlainKept(const std::string& text) {
    const bool utf8 = IsWellFormedUtf8(text);
    const auto continuation = [&](std::size_t at) {
        return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
    };
    KeptAsUtf8 kept{0, text.size()};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte == 0xE4 && continuation(i + 1) && continuation(i + 2)) ||
            ((byte == 0xC4 || byte == 0xD6) && continuation(i + 1)) ||
            ((byte == 0xDF || byte == 0xDC) && utf8 && continuation(i + 1))) {
            if (kept.count++ == 0)
                kept.first = i;
        }
    }
    return kept;
}

// A check counts without converting: whatever lies across the edges of the
// blocks and rounds it counts in, or in the text's last bytes, its answer is
// the conversion's (the text's growth or shrinkage) and its kept bytes are
// those the rule names; told to stop early, it still says whether anything
// changes.
TEST(Decision, CheckCountsAsTheConversionDoes) {
    const std::string pieces[] = {
        "\xE4",
        "\xC3\xA4",
        "\xC3",
        "\xC3\xC3\xB6",
        "\xDF\xC3",
        "\xE4\xB8\xAD",
        "\xE4\xB8x",
        "\xE4\xB8",
        "\xC4\x85",
        "\xD6\xB0\xF6",
        "\xDF\x85",
        "\xDC\x90\xDF\x85",
        "\xDF\x85\xFF",
        "\xE9\xC3\xE9",
        "Umlaute \xFC",
        "\xC3\xBC umlaute",
        "\xF6\xDF\x85",
        "\xE4\xB8\xAD\xDC",
        "\xC3\x9C\xC3\x96",
        "UMLAUTE",
    };
    // Longer than two rounds of 64 bytes and the bytes read past them.
    const std::string filler = [] {
        std::string f;
        while (f.size() < 140)
            f += "x = 1\r\n";
        return f;
    }();
    for (const std::string& piece : pieces) {
        for (std::size_t at = 0; at <= filler.size(); ++at) {
            for (const std::string& around : {filler, std::string(filler.size(), '\x85')}) {
                const std::string text = around.substr(0, at) + piece + around.substr(at);
                SCOPED_TRACE(::testing::PrintToString(piece) + " at " + std::to_string(at) +
                             (around == filler ? "" : " among bytes 80-BF"));
                for (const Direction direction :
                     {Direction::ToTwoCharacterForm, Direction::ToSingleCharacter}) {
                    const ScriptDecision decided = DecideScript(text, direction);
                    const ScriptDecision counted = CheckScript(text, direction);
                    EXPECT_EQ(counted.converted, decided.converted);
                    EXPECT_TRUE(counted.text.empty());
                    EXPECT_EQ(counted.guardWord, decided.Changes() && decided.guardWord);
                    EXPECT_FALSE(CheckScript(text, direction, {false, true}).guardWord);
                    const ScriptDecision early = CheckScript(text, direction, {true, false});
                    EXPECT_EQ(early.Changes(), decided.Changes());
                    EXPECT_EQ(early.guardWord, counted.guardWord);
                    if (direction == Direction::ToSingleCharacter) {
                        EXPECT_EQ(counted.keptAsUtf8, 0u);
                        continue;
                    }
                    const KeptAsUtf8 kept = PlainKept(text);
                    EXPECT_EQ(counted.keptAsUtf8, kept.count);
                    if (kept.count > 0) {
                        EXPECT_EQ(counted.firstKept, kept.first);
                    }
                    EXPECT_EQ(KeptAsUtf8Sentence(counted, text), KeptAsUtf8Sentence(decided, text));
                }
            }
        }
    }
}

// The counts of texts where nearly every byte counts, beyond what one counter
// per byte lane can hold before it is summed up.
TEST(Decision, CheckCountsDenseTexts) {
    for (const std::size_t n : {std::size_t{255}, std::size_t{4096}, std::size_t{70001}}) {
        const std::string single(n, '\xFC');
        std::string pairs;
        for (std::size_t i = 0; i < n; ++i)
            pairs += "\xC3\xBC";
        std::string kept;
        for (std::size_t i = 0; i < n; ++i)
            kept += "\xE4\xB8\xAD";
        EXPECT_EQ(CheckScript(single, Direction::ToTwoCharacterForm).converted, n);
        EXPECT_EQ(CheckScript(pairs, Direction::ToSingleCharacter).converted, n);
        EXPECT_EQ(CheckScript(pairs, Direction::ToTwoCharacterForm).converted, 0u);
        const ScriptDecision chinese = CheckScript(kept, Direction::ToTwoCharacterForm);
        EXPECT_EQ(chinese.converted, 0u);
        EXPECT_EQ(chinese.keptAsUtf8, n);
        EXPECT_EQ(chinese.firstKept, 0u);
        // One ill-formed byte at the very end decides for NKo's DF 85: all convert.
        std::string nko;
        for (std::size_t i = 0; i < n; ++i)
            nko += "\xDF\x85";
        EXPECT_EQ(CheckScript(nko, Direction::ToTwoCharacterForm).converted, 0u);
        EXPECT_EQ(CheckScript(nko + "\xF6", Direction::ToTwoCharacterForm).converted, n + 1);
        EXPECT_TRUE(
            CheckScript(nko + "\xF6", Direction::ToTwoCharacterForm, {true, false}).Changes());
        EXPECT_FALSE(CheckScript(nko, Direction::ToTwoCharacterForm, {true, false}).Changes());
    }
}

} // namespace
} // namespace velmo
