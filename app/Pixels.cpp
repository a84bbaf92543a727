#include "app/Pixels.h"

#include <algorithm>
#include <cmath>

namespace velmo {
namespace {

// For each target pixel, the source pixels it covers and how much of it each
// covers.
struct Tap {
    int index;
    double weight;
};

std::vector<std::vector<Tap>> AreaWeights(int from, int to) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (int i = 0; i < to; ++i) {
        const double begin = i * scale, end = (i + 1) * scale;
        for (int j = static_cast<int>(begin); j < from && j < end; ++j) {
            const double overlap = std::min(end, j + 1.0) - std::max(begin, static_cast<double>(j));
            if (overlap > 0)
                taps[i].push_back({j, overlap / scale});
        }
    }
    return taps;
}

std::uint32_t Channel(std::uint32_t pixel, int c) {
    return (pixel >> (8 * c)) & 0xFF;
}

} // namespace

// The quality GDI's HALFTONE mode aims at, independent of how well the
// system's own stretching does.
PixelImage Stretch(const PixelImage& source, int width, int height) {
    if (source.width == width && source.height == height)
        return source;
    const auto across = AreaWeights(source.width, width);
    const auto down = AreaWeights(source.height, height);

    // Across first, into one row of sums per source row.
    std::vector<double> rows(static_cast<std::size_t>(source.height) * width * 4);
    for (int y = 0; y < source.height; ++y)
        for (int x = 0; x < width; ++x)
            for (const Tap& tap : across[x]) {
                const std::uint32_t pixel = source.pixels[y * source.width + tap.index];
                for (int c = 0; c < 4; ++c)
                    rows[(y * width + x) * 4 + c] += Channel(pixel, c) * tap.weight;
            }

    PixelImage target;
    target.width = width;
    target.height = height;
    target.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double sum[4] = {};
            for (const Tap& tap : down[y])
                for (int c = 0; c < 4; ++c)
                    sum[c] += rows[(tap.index * width + x) * 4 + c] * tap.weight;
            std::uint32_t pixel = 0;
            for (int c = 0; c < 4; ++c) {
                const auto value =
                    static_cast<std::uint32_t>(std::clamp(std::lround(sum[c]), 0L, 255L));
                pixel |= value << (8 * c);
            }
            target.pixels[y * width + x] = pixel;
        }
    return target;
}

void Fill(PixelView target, std::uint32_t pixel) {
    std::fill_n(target.pixels, static_cast<std::size_t>(target.width) * target.height, pixel);
}

void Blend(PixelView target, const PixelImage& source, int left, int top) {
    for (int y = 0; y < source.height; ++y) {
        const int ty = top + y;
        if (ty < 0 || ty >= target.height)
            continue;
        for (int x = 0; x < source.width; ++x) {
            const int tx = left + x;
            if (tx < 0 || tx >= target.width)
                continue;
            const std::uint32_t s = source.pixels[y * source.width + x];
            const std::uint32_t alpha = s >> 24;
            std::uint32_t& d = target.pixels[ty * target.width + tx];
            if (alpha == 255) {
                d = s;
            } else if (alpha != 0 || (s & 0xFFFFFF) != 0) {
                std::uint32_t out = 0;
                for (int c = 0; c < 32; c += 8) {
                    const std::uint32_t value =
                        ((s >> c) & 0xFF) + (((d >> c) & 0xFF) * (255 - alpha) + 127) / 255;
                    out |= std::min<std::uint32_t>(value, 255) << c;
                }
                d = out;
            }
        }
    }
}

} // namespace velmo
