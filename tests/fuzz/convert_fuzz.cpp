// The umlaut conversion in both directions, on any bytes, against a plain
// reference made of one replacing pass per table row, and the properties the
// two conversion actions promise each other; and which files are refused.
// Built twice: with the vector kernel and with the portable one.
#include "convert/ScriptDecision.h"
#include "convert/UmlautStream.h"
#include "convert/Umlaute.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace {

using velmo::kUmlautRows;
using velmo::kUtf8Lead;

std::string Pair(const velmo::UmlautRow& row) {
    return {static_cast<char>(kUtf8Lead), static_cast<char>(row.second)};
}

// Replaces every `from` by `to`, scanning on behind each replacement.
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Well-formed UTF-8 by the table of well-formed byte sequences, one code point
// at a time, decoded the long way.
bool ReferenceUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80   ? 1
                             : lead < 0xC0 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF8 ? 4
                                           : 0;
        if (length == 0 || text.size() - i < length)
            return false;
        std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = point << 6 | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Each of the seven bytes is replaced by its pair unless it begins a UTF-8
// character: E4 with two bytes 80–BF behind it, C4 or D6 with one, and DF or
// DC with one when the whole text is well-formed UTF-8.
std::string ReferenceForward(const std::string& text) {
    const bool utf8 = ReferenceUtf8(text);
    auto continuation = [&](std::size_t at) {
        return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const velmo::UmlautRow* row = nullptr;
        for (const auto& r : kUmlautRows)
            if (r.single == byte)
                row = &r;
        const bool kept = (byte == 0xE4 && continuation(i + 1) && continuation(i + 2)) ||
                          ((byte == 0xC4 || byte == 0xD6) && continuation(i + 1)) ||
                          ((byte == 0xDF || byte == 0xDC) && utf8 && continuation(i + 1));
        out += row && !kept ? Pair(*row) : std::string(1, static_cast<char>(byte));
    }
    return out;
}

std::string ReferenceReverse(std::string text) {
    for (const auto& row : kUmlautRows)
        text =
            ReplaceAll(std::move(text), Pair(row), std::string(1, static_cast<char>(row.single)));
    return text;
}

bool ReferenceGuard(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return upper.find("UMLAUTE") != std::string::npos;
}

bool Holds(std::string_view text, auto isPiece) {
    for (const auto& row : kUmlautRows)
        if (isPiece(row, text))
            return true;
    return false;
}
bool HoldsTwoCharacterForm(std::string_view text) {
    return Holds(text, [](const auto& row, std::string_view t) {
        return t.find(Pair(row)) != std::string_view::npos;
    });
}

// Walks the text and the forward conversion in step: each of the seven bytes
// became 0xC3 and its second byte or stayed as it was, every other byte is
// still there, unchanged and in order, and nothing else was added.
bool EveryOtherByteUntouched(std::string_view text, std::string_view forward) {
    std::size_t o = 0;
    for (const char byte : text) {
        const velmo::UmlautRow* row = nullptr;
        for (const auto& r : kUmlautRows)
            if (static_cast<unsigned char>(byte) == r.single)
                row = &r;
        if (row && forward.substr(o, 2) == Pair(*row)) {
            o += 2;
        } else {
            if (o >= forward.size() || forward[o] != byte)
                return false;
            ++o;
        }
    }
    return o == forward.size();
}

// The buffer forms, into buffers of exactly the promised room, so that the
// address sanitizer sees any byte written past it; the forward one in each
// way it can run on this CPU.
std::string ForwardIntoExactRoom(std::string_view text, velmo::ForwardKernel kernel) {
    const std::size_t room = velmo::TwoCharacterFormRoom(text);
    FUZZ_CHECK(room >= text.size() && room <= 2 * text.size());
    auto buffer = std::make_unique<char[]>(room);
    const std::size_t written =
        velmo::UmlauteToTwoCharacterForm(text, buffer.get(), velmo::IsWellFormedUtf8(text), kernel);
    FUZZ_CHECK(written <= room);
    return {buffer.get(), written};
}
std::string ReverseIntoExactRoom(std::string_view text) {
    auto buffer = std::make_unique<char[]>(text.size());
    const std::size_t written = velmo::UmlauteToSingleCharacter(text, buffer.get());
    FUZZ_CHECK(written <= text.size());
    return {buffer.get(), written};
}

// The leading bytes that make a file one the conversion refuses, and what it is then.
struct Signature {
    std::string_view bytes;
    velmo::ScriptKind kind;
};
constexpr Signature kSignatures[] = {
    {std::string_view("\x1BLua", 4), velmo::ScriptKind::CompiledChunk},
    {std::string_view("\x1BLJ", 3), velmo::ScriptKind::CompiledChunk},
    {std::string_view("\xFF\xFE\0\0", 4), velmo::ScriptKind::Utf32},
    {std::string_view("\0\0\xFE\xFF", 4), velmo::ScriptKind::Utf32},
    {std::string_view("\xFF\xFE", 2), velmo::ScriptKind::Utf16},
    {std::string_view("\xFE\xFF", 2), velmo::ScriptKind::Utf16},
};

// A file is refused only when it begins with a signature, and then as the first
// (longest) one it begins with; every other file is text and converted as ever.
bool ClassifiedBySignature(std::string_view text) {
    const velmo::ScriptKind kind = velmo::ClassifyScript(text);
    for (const Signature& signature : kSignatures)
        if (text.substr(0, signature.bytes.size()) == signature.bytes)
            return kind == signature.kind;
    return kind == velmo::ScriptKind::Text;
}

// The text handed to a stream `slice` bytes at a time, worked `piece` bytes
// at a time: what comes out, and its counts, are the whole text's (the text
// is far shorter than the stream ever holds back).
bool StreamedAsWhole(std::string_view text, velmo::Direction direction, std::size_t slice,
                     std::size_t piece) {
    std::string out;
    velmo::UmlautStream stream(
        direction, [&](std::string_view bytes) { out.append(bytes); }, std::nullopt, piece);
    for (std::size_t at = 0; at < text.size(); at += slice)
        stream.Add(text.substr(at, slice));
    stream.Finish();
    const velmo::ScriptDecision decision = velmo::DecideScript(text, direction);
    return out == (decision.Changes() ? std::string_view(decision.text) : text) &&
           stream.Converted() == decision.converted &&
           stream.KeptSentence() == velmo::KeptAsUtf8Sentence(decision, text) &&
           stream.GuardWord() == velmo::ContainsGuardWord(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string forward = velmo::UmlauteToTwoCharacterForm(text);
    const std::string reverse = velmo::UmlauteToSingleCharacter(text);
    FUZZ_CHECK(forward == ReferenceForward(std::string(text)));
    FUZZ_CHECK(reverse == ReferenceReverse(std::string(text)));
    FUZZ_CHECK(EveryOtherByteUntouched(text, forward));
    for (const auto kernel :
         {velmo::ForwardKernel::Baseline, velmo::ForwardKernel::BaselineBranchFree,
          velmo::ForwardKernel::Ssse3, velmo::ForwardKernel::Ssse3BranchFree})
        FUZZ_CHECK(ForwardIntoExactRoom(text, kernel) == forward);
    FUZZ_CHECK(ReverseIntoExactRoom(text) == reverse);
    FUZZ_CHECK(velmo::ContainsGuardWord(text) == ReferenceGuard(text));
    FUZZ_CHECK(ClassifiedBySignature(text));

    FUZZ_CHECK(velmo::IsWellFormedUtf8(text) == ReferenceUtf8(text));

    // UTF-8 text is never changed on its way to Velmo, and comes back from a
    // round trip byte for byte; but NKo and Syriac characters (DF, DC and one
    // byte 80–BF) read as "ß…" or "Ü“" once "für mich" made the file
    // Windows-1252, which the rule must convert.
    if (ReferenceUtf8(text)) {
        FUZZ_CHECK(forward == text);
        const bool nkoOrSyriac = text.find('\xDF') != std::string_view::npos ||
                                 text.find('\xDC') != std::string_view::npos;
        if (!nkoOrSyriac || ReferenceUtf8(reverse))
            FUZZ_CHECK(velmo::UmlauteToTwoCharacterForm(reverse) == text);
    }
    // Converting back restores a text that held no two-character form.
    if (!HoldsTwoCharacterForm(text))
        FUZZ_CHECK(velmo::UmlauteToSingleCharacter(forward) == text);
    // The same direction twice changes nothing more: forward leaves only bytes
    // that begin UTF-8 characters, which stay so, and reverse writes no 0xC3
    // and no byte that could complete a pair with a 0xC3 it left standing.
    FUZZ_CHECK(velmo::UmlauteToTwoCharacterForm(forward) == forward);
    FUZZ_CHECK(!HoldsTwoCharacterForm(reverse));
    FUZZ_CHECK(velmo::UmlauteToSingleCharacter(reverse) == reverse);

    // The decision both programs act on: refused only by a signature; what it
    // converts is the forward or reverse text, and what it counts as kept is
    // what the forward conversion left.
    for (const auto direction :
         {velmo::Direction::ToTwoCharacterForm, velmo::Direction::ToSingleCharacter}) {
        const velmo::ScriptDecision decision = velmo::DecideScript(text, direction);
        const velmo::ScriptDecision counted = velmo::CheckScript(text, direction);
        FUZZ_CHECK(counted.kind == decision.kind);
        if (decision.Refused())
            continue;
        const std::string& expected =
            direction == velmo::Direction::ToTwoCharacterForm ? forward : reverse;
        FUZZ_CHECK(decision.Changes() == (expected != text));
        if (decision.Changes())
            FUZZ_CHECK(decision.text == expected);
        // The check counts what the conversion writes, without writing it;
        // told to stop early, it still knows whether anything changes.
        FUZZ_CHECK(counted.converted ==
                   std::max(expected.size(), text.size()) - std::min(expected.size(), text.size()));
        FUZZ_CHECK(counted.keptAsUtf8 == decision.keptAsUtf8);
        FUZZ_CHECK(counted.keptAsUtf8 == 0 || counted.firstKept == decision.firstKept);
        FUZZ_CHECK(counted.guardWord == (decision.Changes() && decision.guardWord));
        FUZZ_CHECK(velmo::CheckScript(text, direction, {true, false}).Changes() ==
                   decision.Changes());
        if (direction == velmo::Direction::ToTwoCharacterForm)
            FUZZ_CHECK(decision.converted + decision.keptAsUtf8 ==
                       static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
                           for (const auto& r : kUmlautRows)
                               if (static_cast<unsigned char>(c) == r.single)
                                   return true;
                           return false;
                       })));
    }

    // Split where the first two bytes say.
    const std::size_t slice = size > 0 ? 1 + data[0] % 9 : 1;
    const std::size_t piece = size > 1 ? 4 + data[1] % 9 : 4;
    for (const auto direction :
         {velmo::Direction::ToTwoCharacterForm, velmo::Direction::ToSingleCharacter})
        FUZZ_CHECK(StreamedAsWhole(text, direction, slice, piece));
    return 0;
}
