#include "convert/ScriptDecision.h"

#include "convert/Umlaute.h"

#include <algorithm>

namespace velmo {
namespace {

using namespace std::string_view_literals;

// Each kind a script is refused as: the bytes it begins with, and the words
// of both programs. The first row a script begins with decides (UTF-32 LE's
// mark begins with UTF-16 LE's, so it comes first).
struct Refusal {
    std::string_view signature;
    ScriptKind kind;
    std::string_view window;
    std::string_view companion;
};
constexpr Refusal kRefusals[] = {
    {"\x1BLua"sv, ScriptKind::CompiledChunk, kRefusedChunk, "kompiliertes Lua-Skript (Bytecode)"},
    {"\x1BLJ"sv, ScriptKind::CompiledChunk, kRefusedChunk, "kompiliertes Lua-Skript (Bytecode)"},
    {"\xFF\xFE\x00\x00"sv, ScriptKind::Utf32, kRefusedUtf32, "in UTF-32 gespeichert"},
    {"\x00\x00\xFE\xFF"sv, ScriptKind::Utf32, kRefusedUtf32, "in UTF-32 gespeichert"},
    {"\xFF\xFE"sv, ScriptKind::Utf16, kRefusedUtf16, "in UTF-16 gespeichert"},
    {"\xFE\xFF"sv, ScriptKind::Utf16, kRefusedUtf16, "in UTF-16 gespeichert"},
};

const Refusal* RefusalOf(ScriptKind kind) {
    for (const Refusal& refusal : kRefusals)
        if (refusal.kind == kind)
            return &refusal;
    return nullptr;
}

} // namespace

ScriptKind ClassifyScript(std::string_view bytes) {
    for (const Refusal& refusal : kRefusals)
        if (bytes.starts_with(refusal.signature))
            return refusal.kind;
    return ScriptKind::Text;
}

std::string_view WindowRefusal(ScriptKind kind) {
    const Refusal* refusal = RefusalOf(kind);
    return refusal ? refusal->window : std::string_view();
}

std::string_view CompanionRefusal(ScriptKind kind) {
    const Refusal* refusal = RefusalOf(kind);
    return refusal ? refusal->companion : std::string_view();
}

ScriptDecision DecideScript(std::string_view text, Direction direction) {
    ScriptDecision decision;
    decision.kind = ClassifyScript(text);
    if (decision.Refused())
        return decision;
    decision.guardWord = ContainsGuardWord(text);

    if (direction == Direction::ToSingleCharacter) {
        decision.text.resize(text.size());
        decision.text.resize(UmlauteToSingleCharacter(text, decision.text.data()));
        decision.converted = text.size() - decision.text.size();
    } else {
        // Counted first: a text with nothing to convert (already converted,
        // well-formed UTF-8) is not written at all, and one with something to
        // convert is not all UTF-8.
        const ForwardCount count = CountTwoCharacterForm(text);
        decision.keptAsUtf8 = count.kept.count;
        decision.firstKept = count.kept.first;
        if (count.converted > 0) {
            decision.text.resize(TwoCharacterFormRoom(text));
            decision.text.resize(UmlauteToTwoCharacterForm(text, decision.text.data(), false));
            decision.converted = decision.text.size() - text.size();
        }
    }
    if (decision.converted == 0)
        std::string().swap(decision.text);
    return decision;
}

ScriptDecision CheckScript(std::string_view text, Direction direction, CheckWanted wanted) {
    ScriptDecision decision;
    decision.kind = ClassifyScript(text);
    if (decision.Refused())
        return decision;
    if (direction == Direction::ToSingleCharacter) {
        decision.converted = CountSingleCharacter(text, !wanted.counts);
    } else {
        const ForwardCount count = CountTwoCharacterForm(text, !wanted.counts);
        decision.converted = count.converted;
        decision.keptAsUtf8 = count.kept.count;
        decision.firstKept = count.kept.first;
    }
    decision.guardWord = wanted.guardWord && decision.Changes() && ContainsGuardWord(text);
    return decision;
}

std::string KeptAsUtf8Sentence(const ScriptDecision& decision, std::string_view text) {
    const std::size_t n = decision.keptAsUtf8;
    if (n == 0 || decision.firstKept >= text.size())
        return {};
    // A kept character is its lead byte and one or two bytes 80–BF: E4 begins
    // a three-byte character, the others two-byte ones.
    const std::size_t length = static_cast<unsigned char>(text[decision.firstKept]) == 0xE4 ? 3 : 2;
    const std::string_view character = text.substr(decision.firstKept, length);
    const std::size_t line =
        1 +
        static_cast<std::size_t>(std::count(text.begin(), text.begin() + decision.firstKept, '\n'));
    return KeptAsUtf8Sentence(n, character, line);
}

std::string KeptAsUtf8Sentence(std::size_t count, std::string_view character, std::size_t line) {
    if (count == 0)
        return {};
    const std::string where =
        "\xE2\x80\x9E" + std::string(character) + "\xE2\x80\x9C in Zeile " + std::to_string(line);
    if (count == 1)
        return "1 Zeichen geh\xC3\xB6rt schon zu UTF-8-Text und bleibt, wie es ist: " + where + ".";
    return std::to_string(count) +
           " Zeichen geh\xC3\xB6ren schon zu UTF-8-Text und bleiben, wie sie sind; das erste: " +
           where + ".";
}

} // namespace velmo
