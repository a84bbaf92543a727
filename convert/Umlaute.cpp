#include "convert/Umlaute.h"

namespace velmo {
namespace {

// For each byte: its second UTF-8 byte when it is one of the seven characters, else 0.
constexpr std::array<unsigned char, 256> MakeForwardTable() {
    std::array<unsigned char, 256> table{};
    for (const UmlautRow& row : kUmlautRows) table[row.single] = row.second;
    return table;
}
// For each second byte after 0xC3: the single character it stands for, else 0.
constexpr std::array<unsigned char, 256> MakeReverseTable() {
    std::array<unsigned char, 256> table{};
    for (const UmlautRow& row : kUmlautRows) table[row.second] = row.single;
    return table;
}
constexpr auto kForward = MakeForwardTable();
constexpr auto kReverse = MakeReverseTable();

} // namespace

std::string UmlauteToTwoCharacterForm(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        const unsigned char second = kForward[static_cast<unsigned char>(c)];
        if (second) {
            out += static_cast<char>(kUtf8Lead);
            out += static_cast<char>(second);
        } else {
            out += c;
        }
    }
    return out;
}

std::string UmlauteToSingleCharacter(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == kUtf8Lead && i + 1 < text.size()) {
            if (unsigned char single = kReverse[static_cast<unsigned char>(text[i + 1])]) {
                out += static_cast<char>(single);
                ++i;
                continue;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

bool ContainsGuardWord(std::string_view text) {
    constexpr std::string_view kGuard = "UMLAUTE";
    if (text.size() < kGuard.size()) return false;
    for (std::size_t i = 0; i + kGuard.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < kGuard.size()) {
            unsigned char c = static_cast<unsigned char>(text[i + k]);
            if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
            if (c != static_cast<unsigned char>(kGuard[k])) break;
            ++k;
        }
        if (k == kGuard.size()) return true;
    }
    return false;
}

} // namespace velmo
