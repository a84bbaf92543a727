// How captions and the notice's lines are fitted to their controls.
#include "app/TextFit.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace velmo {
namespace {

TEST(TextFit, FontShrinksUntilTheCaptionsFitButNotBelowTwoThirds) {
    struct Case {
        int nominal, fitsFrom, chosen;
    } cases[] = {
        {24, 24, 24}, // fits at once
        {24, 21, 21}, // three pixels smaller
        {24, 10, 16}, // never fits: two thirds
        {10, 3, 6},   // two thirds rounded down to the first height at or below it
    };
    for (const Case& c : cases) {
        std::vector<int> asked;
        const int chosen = FittingHeight(c.nominal, [&](int height) {
            asked.push_back(height);
            return height <= c.fitsFrom;
        });
        EXPECT_EQ(chosen, c.chosen) << c.nominal << " " << c.fitsFrom;
        // Every height tried was asked about, the chosen one last, so the
        // controls end up with the font that was chosen.
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.back(), chosen);
        EXPECT_EQ(asked.size(), static_cast<std::size_t>(c.nominal - chosen + 1));
    }
}

TEST(TextFit, LettersMoveCloserUntilTheLineFits) {
    EXPECT_EQ(LetterSpacingToFit(100, 100, 10), 0);
    EXPECT_EQ(LetterSpacingToFit(80, 100, 10), 0);
    EXPECT_EQ(LetterSpacingToFit(500, 100, 1), 0);
    // Nine gaps take the 9 pixels too many: 1 each; 10 too many: 2 each.
    EXPECT_EQ(LetterSpacingToFit(109, 100, 10), -1);
    EXPECT_EQ(LetterSpacingToFit(110, 100, 10), -2);
    for (int width = 101; width < 400; ++width)
        EXPECT_LE(width + 9 * LetterSpacingToFit(width, 100, 10), 100) << width;
}

TEST(TextFit, LinesSplitAtCrLfWithoutTrailingBlanks) {
    using Lines = std::vector<std::string_view>;
    EXPECT_EQ(TextLines<char>("Das Spiel  \r\nist nicht\r\n\r\ninstalliert "),
              (Lines{"Das Spiel", "ist nicht", "", "installiert"}));
    EXPECT_EQ(TextLines<char>(""), Lines{});
    EXPECT_EQ(TextLines<char>("eine\nZeile"), Lines{"eine\nZeile"});
    EXPECT_EQ(TextLines<wchar_t>(L"a \r\nb").size(), 2u);
}

} // namespace
} // namespace velmo
