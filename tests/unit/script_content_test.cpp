// A script too big to hold is decided on and saved a piece at a time: the
// answers and the bytes written are those of the same text held whole, and a
// file written between two pieces is never taken for one text.
#include "convert/ScriptContent.h"
#include "convert/ScriptFile.h"
#include "convert/UmlautStream.h"
#include "convert/Umlaute.h"
#include "platform/FakePlatform.h"

#include <gtest/gtest.h>

#include <string>

namespace velmo {
namespace {

using namespace std::string_literals;

const std::string kScript = "C:\\Skripte\\gross.lua";

std::string Repeated(const std::string& line, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += line;
    return text;
}

// Everything a source gives, joined.
std::string Drain(const ByteSource& source) {
    std::string all;
    source([&](std::string_view piece) { all.append(piece); });
    return all;
}

TEST(ScriptContent, InPiecesDecidesAndConvertsAsTheWholeText) {
    const std::string german = Repeated("print(\"Gr\xFC\xDF"
                                        "e aus K\xF6ln, \xC4rger mit \xD6l\")\r\n",
                                        20);
    const struct {
        const char* name;
        std::string text;
    } texts[] = {
        {"Windows-1252", german},
        {"UTF-8 German", UmlauteToTwoCharacterForm(german)},
        {"UTF-8 Polish and Chinese", Repeated("-- za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 "
                                              "\xC4\x85 \xE4\xB8\xAD\xE6\x96\x87\n",
                                              30)},
        {"mixed: ä, ą and 中 in a Windows-1252 text", Repeated("\xE4 \xC4\x85 \xE4\xB8\xAD ", 40)},
        // NKo in well-formed UTF-8 stays; one bad byte at the very end turns
        // the whole text into Windows-1252, pairs far before it included.
        {"UTF-8 with DF/DC pairs", Repeated("\xDF\x80 \xDC\x81 ", 60)},
        {"DF/DC pairs, bad byte last", Repeated("\xDF\x80 \xDC\x81 ", 60) + "\xFC"},
        {"guard word across pieces", Repeated("x", 13) + "-- UMLAUTE\n" + german},
        {"guard word last", german + "-- umlaute"},
        {"compiled chunk", "\x1BLua\x54\0\x19\x93"s + german},
        {"compiled LuaJIT chunk", "\x1BLJ\x02"s + german},
        {"UTF-16", "\xFF\xFE-\0-\0 \0\xE4\0"s + german},
        {"UTF-32", "\xFF\xFE\0\0"s + german},
        {"no umlauts", Repeated("print(1)\n", 50)},
    };
    for (Direction direction : {Direction::ToTwoCharacterForm, Direction::ToSingleCharacter})
        for (const auto& t : texts)
            for (std::size_t piece : {1, 2, 3, 7, 64}) {
                SCOPED_TRACE(std::string(t.name) +
                             (direction == Direction::ToTwoCharacterForm ? ", forward, piece "
                                                                         : ", reverse, piece ") +
                             std::to_string(piece));
                FakePlatform fake;
                fake.AddFile(kScript, t.text);
                FileStamp stamp;
                const ScriptContent inPieces = ReadScriptContent(fake, kScript, {16, piece}, stamp);
                ASSERT_FALSE(inPieces.Held());
                const ScriptContent whole(t.text);

                const ContentDecision a = DecideContent(fake, inPieces, direction);
                const ContentDecision b = DecideContent(fake, whole, direction);
                EXPECT_EQ(a.kind, b.kind);
                EXPECT_EQ(a.guardWord, b.guardWord);
                EXPECT_EQ(a.converted, b.converted);
                EXPECT_EQ(a.keptSentence, b.keptSentence);
                EXPECT_EQ(a.size, b.size);
                const std::string written = Drain(a.text.Source(fake));
                EXPECT_TRUE(written == *b.text) << written.size() << " bytes, " << b.size;
                EXPECT_EQ(written.size(), a.size);
                EXPECT_TRUE(Drain(inPieces.Source(fake)) == t.text);
            }
}

// Well-formed UTF-8 with an NKo pair near its start that turns into
// Windows-1252 only after more than a stream holds back: the count learned in
// one pass is wrong there, so it is counted again; the pairs convert.
TEST(ScriptContent, AnAnswerLearnedTooLateIsCountedAgain) {
    std::string text = "\xDF\x80 -- \xC4\x85\n";
    while (text.size() < UmlautStream::kHoldLimit + (512u << 10))
        text += "-- za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xE4\xB8\xAD\xE6\x96\x87\n";
    text += "\xFC";
    FakePlatform fake;
    fake.AddFile(kScript, text);
    FileStamp stamp;
    const ScriptContent inPieces = ReadScriptContent(fake, kScript, {1u << 20, 64u << 10}, stamp);
    const ContentDecision a = DecideContent(fake, inPieces, Direction::ToTwoCharacterForm);
    const ContentDecision b =
        DecideContent(fake, ScriptContent(text), Direction::ToTwoCharacterForm);
    EXPECT_EQ(a.converted, b.converted);
    EXPECT_EQ(a.keptSentence, b.keptSentence);
    EXPECT_TRUE(Drain(a.text.Source(fake)) == *b.text);
}

// A program writing the script between two pieces, or replacing it: the
// pieces do not make one text, so nothing is written and the save says why.
TEST(ScriptContent, AScriptChangedBetweenPiecesIsNotSaved) {
    const std::string old = Repeated("print(\"\xE4\xF6\xFC\")\r\n", 20);
    const std::string key = "c:\\skripte\\gross.lua"; // the fake's files by lower-cased name
    const struct {
        const char* name;
        void (*change)(FakePlatform&, const std::string&);
    } changes[] = {
        {"appended to", [](FakePlatform& f, const std::string& k) { f.files.at(k).bytes += "--"; }},
        {"cut short",
         [](FakePlatform& f, const std::string& k) {
             f.files.at(k).bytes.resize(f.files.at(k).bytes.size() / 2);
         }},
        {"replaced by a file of the same size",
         [](FakePlatform& f, const std::string&) {
             f.AddFile(kScript, std::string(f.FindFile(kScript)->bytes.size(), 'x'));
         }},
    };
    for (const auto& c : changes)
        for (int changeAfter : {1, 5, 12}) { // pieces read before the change: backup, new text
            SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(changeAfter));
            FakePlatform fake;
            fake.AddFile(kScript, old);
            ScriptTexts texts;
            LoadScript(fake, kScript, texts, {16, 32});
            ContentDecision decision =
                DecideContent(fake, texts.ScriptText, Direction::ToTwoCharacterForm);
            ASSERT_TRUE(decision.Changes());
            texts.ScriptText = std::move(decision.text);
            int reads = 0;
            std::string changedTo;
            fake.beforeCall = [&](const std::string& call) {
                if (call.rfind("ReadWholeFile", 0) == 0 && ++reads == changeAfter + 1) {
                    c.change(fake, key);
                    changedTo = fake.FindFile(kScript)->bytes;
                }
            };
            try {
                SaveScript(fake, kScript, texts, true);
                ADD_FAILURE() << "saved";
            } catch (const PlatformError& e) {
                EXPECT_EQ(e.Cause(), ErrorCause::ChangedMeanwhile);
                EXPECT_EQ(e.Subject(), kScript);
            }
            fake.beforeCall = nullptr;
            EXPECT_EQ(fake.FindFile(kScript)->bytes, changedTo);
            EXPECT_EQ(fake.files.size(), 1u) << "no backup, no temporary file";
        }
}

} // namespace
} // namespace velmo
