// The window's pixel work: decoding the portraits, resizing them and the other
// pictures for the window's DPI, and laying them over the background. What only screenshots showed
// before: the average colour survives resizing, transparent stays transparent, and no edge moves by
// a pixel.
#include "app/BitmapFile.h"
#include "app/Controls.h"
#include "app/Pixels.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace velmo {
namespace {

constexpr std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}

std::uint32_t ChannelOf(std::uint32_t pixel, int c) {
    return (pixel >> (8 * c)) & 0xFF;
}

PixelImage Picture(int width, int height, const std::function<std::uint32_t(int, int)>& pixel) {
    PixelImage image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels.push_back(pixel(x, y));
    return image;
}

std::uint32_t At(const PixelImage& image, int x, int y) {
    return image.pixels[static_cast<std::size_t>(y) * image.width + x];
}

// Opaque, irregular content like a photograph: no two neighbours alike.
PixelImage Portrait(int width, int height) {
    std::uint32_t state = 0x9E3779B9u ^ static_cast<std::uint32_t>(width * 131 + height);
    return Picture(width, height, [&](int, int) {
        state = state * 1664525u + 1013904223u;
        return Argb(255, state >> 24, (state >> 16) & 0xFF, (state >> 8) & 0xFF);
    });
}

std::array<double, 4> AverageChannels(const PixelImage& image) {
    std::array<double, 4> sum{};
    for (std::uint32_t pixel : image.pixels)
        for (int c = 0; c < 4; ++c)
            sum[c] += ChannelOf(pixel, c);
    for (double& s : sum)
        s /= static_cast<double>(image.pixels.size());
    return sum;
}

struct Resize {
    const char* what;
    int fromWidth, fromHeight, toWidth, toHeight;
};

// The portraits' own sizes to their rectangles at 96 and 144 DPI, and the
// pictures shown at their own size grown for 120, 144 and 192 DPI.
const Resize kResizes[] = {
    {"largest portrait to 61 x 60", 192, 191, 61, 60},
    {"portrait to 61 x 60", 125, 130, 61, 60},
    {"smallest portrait to 61 x 60", 54, 57, 61, 60},
    {"portrait at 144 DPI", 66, 59, TwipsToPixels(915, 144), TwipsToPixels(900, 144)},
    {"portrait at 192 DPI", 88, 95, TwipsToPixels(915, 192), TwipsToPixels(900, 192)},
    {"title at 120 DPI", 327, 107, 409, 134},
    {"title at 144 DPI", 327, 107, 491, 161},
    {"notepad at 192 DPI", 50, 50, 130, 116},
};

TEST(Stretch, KeepsTheAverageColour) {
    for (const Resize& r : kResizes) {
        const PixelImage source = Portrait(r.fromWidth, r.fromHeight);
        const PixelImage target = Stretch(source, r.toWidth, r.toHeight);
        ASSERT_EQ(target.width, r.toWidth) << r.what;
        ASSERT_EQ(target.height, r.toHeight) << r.what;
        ASSERT_EQ(target.pixels.size(), static_cast<std::size_t>(r.toWidth) * r.toHeight);
        const auto before = AverageChannels(source), after = AverageChannels(target);
        // Each target pixel is rounded to a whole value: half a step at most.
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(after[c], before[c], 0.5) << r.what << ", channel " << c;
        for (std::uint32_t pixel : target.pixels)
            ASSERT_EQ(pixel >> 24, 255u) << r.what << ": an opaque picture stays opaque";
    }
}

// A picture that reads the same from both sides stays so: a shift by a pixel,
// or a last row or column weighted differently from the first, breaks it.
TEST(Stretch, MovesNoEdge) {
    for (const Resize& r : kResizes) {
        const PixelImage framed = Picture(r.fromWidth, r.fromHeight, [&](int x, int y) {
            const bool edge = x == 0 || y == 0 || x == r.fromWidth - 1 || y == r.fromHeight - 1;
            const bool centre = std::abs(2 * x - (r.fromWidth - 1)) <= 4;
            return edge     ? Argb(255, 255, 0, 0)
                   : centre ? Argb(255, 0, 0, 255)
                            : Argb(255, 0, 90, 0);
        });
        const PixelImage target = Stretch(framed, r.toWidth, r.toHeight);
        for (int y = 0; y < r.toHeight; ++y)
            for (int x = 0; x < r.toWidth; ++x) {
                ASSERT_EQ(At(target, x, y), At(target, r.toWidth - 1 - x, y))
                    << r.what << " at " << x << "," << y << ": not mirrored left to right";
                ASSERT_EQ(At(target, x, y), At(target, x, r.toHeight - 1 - y))
                    << r.what << " at " << x << "," << y << ": not mirrored top to bottom";
            }
        // The frame still reaches the outermost pixels.
        EXPECT_GT(ChannelOf(At(target, 0, r.toHeight / 2), 2), 0u) << r.what;
        EXPECT_GT(ChannelOf(At(target, r.toWidth / 2, 0), 2), 0u) << r.what;
    }
}

// Where an edge of the source falls on a pixel boundary of the target, it stays
// sharp there: the pixels on both sides are pure.
TEST(Stretch, EdgeOnAPixelBoundaryStaysSharp) {
    struct Case {
        int from, to, edge; // edge: the first source column of the right part
    };
    const Case cases[] = {{100, 150, 50}, {100, 50, 50}, {64, 96, 16}, {90, 60, 30}};
    for (const Case& c : cases) {
        const PixelImage source = Picture(c.from, 3, [&](int x, int) {
            return x < c.edge ? Argb(255, 255, 255, 255) : Argb(255, 0, 0, 0);
        });
        const PixelImage target = Stretch(source, c.to, 3);
        const int edge = c.edge * c.to / c.from;
        for (int x = 0; x < c.to; ++x)
            EXPECT_EQ(At(target, x, 1), x < edge ? Argb(255, 255, 255, 255) : Argb(255, 0, 0, 0))
                << c.from << " to " << c.to << ", column " << x;
    }
}

TEST(Stretch, AtItsOwnSizeChangesNothing) {
    const PixelImage source = Portrait(59, 64);
    EXPECT_EQ(Stretch(source, 59, 64).pixels, source.pixels);
}

// The title's transparent colour (premultiplied: all zero) stays transparent
// when the title grows with the DPI, and the box's background shows through it
// unchanged; only pixels at the border of the lettering mix.
TEST(Stretch, TransparentStaysTransparentOverTheBackground) {
    const std::uint32_t letter = Argb(255, 200, 180, 40);
    const PixelImage title = Picture(
        40, 20, [&](int x, int y) { return x >= 10 && x < 30 && y >= 5 && y < 15 ? letter : 0u; });
    const std::uint32_t background = Argb(255, 10, 20, 30);
    for (const auto& [width, height] : {std::pair{60, 30}, std::pair{80, 40}, std::pair{50, 25}}) {
        const PixelImage grown = Stretch(title, width, height);
        std::vector<std::uint32_t> box(static_cast<std::size_t>(width) * height);
        const PixelView view{box.data(), width, height};
        Fill(view, background);
        Blend(view, grown, 0, 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                // The source area this pixel covers, in source pixels.
                const double left = x * 40.0 / width, right = (x + 1) * 40.0 / width;
                const double top = y * 20.0 / height, bottom = (y + 1) * 20.0 / height;
                const bool allClear = right <= 10 || left >= 30 || bottom <= 5 || top >= 15;
                const bool allLetter = left >= 10 && right <= 30 && top >= 5 && bottom <= 15;
                const std::uint32_t pixel = box[static_cast<std::size_t>(y) * width + x];
                if (allClear) {
                    ASSERT_EQ(At(grown, x, y), 0u) << width << " at " << x << "," << y;
                    ASSERT_EQ(pixel, background) << width << " at " << x << "," << y;
                } else if (allLetter) {
                    ASSERT_EQ(pixel, letter) << width << " at " << x << "," << y;
                } else {
                    ASSERT_NE(pixel, background) << width << " at " << x << "," << y;
                }
            }
    }
}

TEST(Blend, LaysPremultipliedPixelsOverTheTarget) {
    struct Case {
        const char* what;
        std::uint32_t source, target, expected;
    };
    const Case cases[] = {
        {"opaque replaces", Argb(255, 1, 2, 3), Argb(255, 200, 200, 200), Argb(255, 1, 2, 3)},
        {"transparent leaves the target", 0, Argb(255, 200, 100, 50), Argb(255, 200, 100, 50)},
        // Half-covered red over white: red's half plus white's half.
        {"half covered mixes", Argb(128, 128, 0, 0), Argb(255, 255, 255, 255),
         Argb(255, 255, 127, 127)},
        {"half covered over black keeps its colour", Argb(128, 100, 50, 0), Argb(255, 0, 0, 0),
         Argb(255, 100, 50, 0)},
    };
    for (const Case& c : cases) {
        std::uint32_t target = c.target;
        Blend(PixelView{&target, 1, 1}, Picture(1, 1, [&](int, int) { return c.source; }), 0, 0);
        EXPECT_EQ(target, c.expected) << c.what;
    }
}

TEST(Blend, DropsWhatFallsOutsideTheTarget) {
    struct Case {
        int left, top;
        int changed; // target pixels the 3 x 3 source covers
    };
    const Case cases[] = {{0, 0, 9}, {-2, -2, 1}, {3, 3, 1}, {-1, 2, 4}, {4, 0, 0}, {0, -3, 0}};
    const std::uint32_t mark = Argb(255, 9, 9, 9);
    for (const Case& c : cases) {
        std::vector<std::uint32_t> pixels(16, Argb(255, 0, 0, 0));
        Blend(PixelView{pixels.data(), 4, 4}, Picture(3, 3, [&](int, int) { return mark; }), c.left,
              c.top);
        int changed = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const bool covered = x >= c.left && x < c.left + 3 && y >= c.top && y < c.top + 3;
                EXPECT_EQ(pixels[y * 4 + x] == mark, covered)
                    << "at " << c.left << "," << c.top << ": pixel " << x << "," << y;
                changed += pixels[y * 4 + x] == mark;
            }
        EXPECT_EQ(changed, c.changed) << "at " << c.left << "," << c.top;
    }
}

TEST(Fill, SetsEveryPixelAndNoMore) {
    std::vector<std::uint32_t> pixels(7 * 5 + 1, 0);
    Fill(PixelView{pixels.data(), 7, 5}, OpaquePixel(kCyan));
    for (std::size_t i = 0; i < 35; ++i)
        ASSERT_EQ(pixels[i], Argb(255, 0, 255, 255)) << i;
    EXPECT_EQ(pixels[35], 0u);
}

// ---- bitmap files

void Put(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A BMP file of `rows` (top row first) in 24 or 32 bits, stored bottom-up unless
// `topDown`; each row padded to four bytes, as the format wants.
std::string BmpFile(const std::vector<std::vector<std::uint32_t>>& rows, bool topDown = false,
                    int bits = 24, int compression = 0) {
    const int width = static_cast<int>(rows[0].size()), height = static_cast<int>(rows.size());
    const int bytesPerPixel = bits == 32 ? 4 : 3;
    const std::size_t stride = (width * bytesPerPixel + 3) / 4 * 4;
    std::string bytes(54 + stride * height, '\x7F'); // padding bytes left non-zero
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put(bytes, 2, static_cast<std::uint32_t>(bytes.size()), 4);
    Put(bytes, 10, 54, 4);
    Put(bytes, 14, 40, 4);
    Put(bytes, 18, width, 4);
    Put(bytes, 22, topDown ? -height : height, 4);
    Put(bytes, 26, 1, 2);
    Put(bytes, 28, bits, 2);
    Put(bytes, 30, compression, 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Put(bytes, 54 + stride * (topDown ? y : height - 1 - y) + x * bytesPerPixel, rows[y][x],
                bytesPerPixel);
    return bytes;
}

TEST(BitmapFile, DecodesRowsInOrderWithTheirPadding) {
    // Three pixels a row: nine bytes and three of padding.
    const std::vector<std::vector<std::uint32_t>> rows = {{0x102030, 0x405060, 0x708090},
                                                          {0xA0B0C0, 0xD0E0F0, 0x0A0B0C}};
    for (bool topDown : {false, true}) {
        const std::optional<PixelImage> image = DecodeBitmapFile(BmpFile(rows, topDown));
        ASSERT_TRUE(image) << "top-down " << topDown;
        EXPECT_EQ(image->width, 3);
        EXPECT_EQ(image->height, 2);
        EXPECT_EQ(image->pixels, (std::vector<std::uint32_t>{0xFF102030, 0xFF405060, 0xFF708090,
                                                             0xFFA0B0C0, 0xFFD0E0F0, 0xFF0A0B0C}))
            << "top-down " << topDown;
    }
}

// 32 bits carry premultiplied alpha, taken as it is: a transparent pixel, a
// half-covered one, an opaque one.
TEST(BitmapFile, ThirtyTwoBitsKeepTheirAlpha) {
    const std::vector<std::vector<std::uint32_t>> rows = {{0x00000000, 0x80402010, 0xFF123456}};
    for (bool topDown : {false, true}) {
        const std::optional<PixelImage> image = DecodeBitmapFile(BmpFile(rows, topDown, 32));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->pixels, rows[0]);
    }
}

TEST(BitmapFile, RefusesEveryOtherFile) {
    const std::vector<std::vector<std::uint32_t>> rows = {{1, 2}, {3, 4}};
    const std::string good = BmpFile(rows);
    struct Case {
        const char* what;
        std::string file;
    };
    const Case cases[] = {
        {"16 bits per pixel", BmpFile(rows, false, 16)},
        {"compressed", BmpFile(rows, false, 24, 1)},
        {"a row missing", good.substr(0, good.size() - 8)},
        {"no header", good.substr(0, 30)},
        {"a GIF", "GIF89a" + good.substr(6)},
        {"empty", ""},
    };
    ASSERT_TRUE(DecodeBitmapFile(good));
    for (const Case& c : cases)
        EXPECT_FALSE(DecodeBitmapFile(c.file)) << c.what;
}

} // namespace
} // namespace velmo
