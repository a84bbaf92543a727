// How captions and the notice's lines are made to fit their controls: the
// decisions, apart from measuring and drawing, so that they are tested natively.
#pragma once

#include <string_view>
#include <vector>

namespace velmo {

// The font height to use: `nominal`, or, while a caption at that height does not
// fit (`fits(height)` is false), a pixel smaller at a time down to two thirds of
// it, which is taken whether it fits or not. `fits` is asked at every height
// tried, the last one included.
template <class Fits> int FittingHeight(int nominal, Fits fits) {
    for (int height = nominal;; --height)
        if (fits(height) || height * 3 <= nominal * 2)
            return height;
}

// The space to add after each character (negative: closer together) so that a
// line of `characters` characters, `width` pixels wide, fits `boxWidth`; 0 when
// it fits already or has one character.
constexpr int LetterSpacingToFit(int width, int boxWidth, int characters) {
    if (width <= boxWidth || characters < 2)
        return 0;
    // Rounded up, so the line never ends up wider than the box.
    return -((width - boxWidth + characters - 2) / (characters - 1));
}

// The lines of a multi-line text, split at CR LF, each without its trailing blanks.
template <class Char>
std::vector<std::basic_string_view<Char>> TextLines(std::basic_string_view<Char> text) {
    constexpr Char kBreak[] = {Char('\r'), Char('\n'), Char(0)};
    std::vector<std::basic_string_view<Char>> lines;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find(kBreak, begin);
        if (end == std::basic_string_view<Char>::npos)
            end = text.size();
        std::basic_string_view<Char> line = text.substr(begin, end - begin);
        while (!line.empty() && line.back() == Char(' '))
            line.remove_suffix(1);
        lines.push_back(line);
        begin = end + 2;
    }
    return lines;
}

} // namespace velmo
