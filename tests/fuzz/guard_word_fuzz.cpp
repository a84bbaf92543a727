// The guard-word search against a naive one. The input's first byte may plant
// the word, in the spelling its second byte picks, at the place its third byte
// picks, so that the search's hits are exercised as often as its misses.
#include "convert/Umlaute.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

bool NaiveGuard(std::string_view text) {
    constexpr std::string_view kWord = "UMLAUTE";
    for (std::size_t at = 0; at + kWord.size() <= text.size(); ++at) {
        std::size_t k = 0;
        for (; k < kWord.size(); ++k) {
            char c = text[at + k];
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            if (c != kWord[k])
                break;
        }
        if (k == kWord.size())
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size >= 3 && (data[0] & 1)) {
        text.erase(0, 3);
        // Bit k of the spelling: letter k in small case; bit 7: one letter spoiled.
        std::string word = "UMLAUTE";
        for (std::size_t k = 0; k < word.size(); ++k)
            if (data[1] >> k & 1)
                word[k] = static_cast<char>(word[k] - 'A' + 'a');
        if (data[1] & 0x80)
            word[data[0] % word.size()] ^= 0x01;
        text.insert(data[2] % (text.size() + 1), word);
    }
    // An exact-size copy, so that the address sanitizer sees any read past the end.
    auto copy = std::make_unique<char[]>(text.size());
    std::memcpy(copy.get(), text.data(), text.size());
    const std::string_view exact(copy.get(), text.size());
    FUZZ_CHECK(velmo::ContainsGuardWord(exact) == NaiveGuard(exact));
    return 0;
}
