// Counts in the window's texts as German writes them: 3.000, 12.500.
// Portable: the separator comes from the user's number format (the window
// asks the platform), "." where there is none to be had.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmo {

inline constexpr std::string_view kGermanThousands = ".";

// `n` with `separator` between each group of three digits from the right
// (1000 -> "1.000"); an empty separator leaves the digits as they are.
inline std::string GroupedCount(std::size_t n, std::string_view separator = kGermanThousands) {
    const std::string digits = std::to_string(n);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += separator;
        text += digits[i];
    }
    return text;
}

} // namespace velmo
