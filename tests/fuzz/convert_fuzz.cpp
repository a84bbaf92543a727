// The umlaut conversion in both directions, on any bytes, against a plain
// reference made of one replacing pass per table row, and the properties the
// two conversion actions promise each other; and which files are refused.
// Built twice: with the vector kernel and with the portable one.
#include "convert/ScriptKind.h"
#include "convert/Umlaute.h"
#include "fuzz_check.h"

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

std::string ReferenceForward(std::string text) {
    for (const auto& row : kUmlautRows)
        text =
            ReplaceAll(std::move(text), std::string(1, static_cast<char>(row.single)), Pair(row));
    return text;
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
bool HoldsSingleCharacter(std::string_view text) {
    return Holds(text, [](const auto& row, std::string_view t) {
        return t.find(static_cast<char>(row.single)) != std::string_view::npos;
    });
}

// Walks the text and the forward conversion in step: each of the seven bytes
// became 0xC3 and its second byte, every other byte is still there, unchanged
// and in order, and nothing else was added.
bool EveryOtherByteUntouched(std::string_view text, std::string_view forward) {
    std::size_t o = 0;
    for (const char byte : text) {
        const velmo::UmlautRow* row = nullptr;
        for (const auto& r : kUmlautRows)
            if (static_cast<unsigned char>(byte) == r.single)
                row = &r;
        if (row) {
            if (forward.substr(o, 2) != Pair(*row))
                return false;
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
// address sanitizer sees any byte written past it.
std::string ForwardIntoExactRoom(std::string_view text) {
    const std::size_t room = velmo::TwoCharacterFormRoom(text);
    FUZZ_CHECK(room >= text.size() && room <= 2 * text.size());
    auto buffer = std::make_unique<char[]>(room);
    const std::size_t written = velmo::UmlauteToTwoCharacterForm(text, buffer.get());
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string forward = velmo::UmlauteToTwoCharacterForm(text);
    const std::string reverse = velmo::UmlauteToSingleCharacter(text);
    FUZZ_CHECK(forward == ReferenceForward(std::string(text)));
    FUZZ_CHECK(reverse == ReferenceReverse(std::string(text)));
    FUZZ_CHECK(EveryOtherByteUntouched(text, forward));
    FUZZ_CHECK(ForwardIntoExactRoom(text) == forward);
    FUZZ_CHECK(ReverseIntoExactRoom(text) == reverse);
    FUZZ_CHECK(velmo::ContainsGuardWord(text) == ReferenceGuard(text));
    FUZZ_CHECK(ClassifiedBySignature(text));

    // Converting back restores a text that held no two-character form, and
    // forward again restores one that held none of the seven characters.
    if (!HoldsTwoCharacterForm(text))
        FUZZ_CHECK(velmo::UmlauteToSingleCharacter(forward) == text);
    if (!HoldsSingleCharacter(text))
        FUZZ_CHECK(velmo::UmlauteToTwoCharacterForm(reverse) == text);
    // The same direction twice changes nothing more: forward writes none of
    // the seven bytes, and reverse writes no 0xC3 and no byte that could
    // complete a pair with a 0xC3 it left standing.
    FUZZ_CHECK(!HoldsSingleCharacter(forward));
    FUZZ_CHECK(velmo::UmlauteToTwoCharacterForm(forward) == forward);
    FUZZ_CHECK(!HoldsTwoCharacterForm(reverse));
    FUZZ_CHECK(velmo::UmlauteToSingleCharacter(reverse) == reverse);
    return 0;
}
