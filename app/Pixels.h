// Pictures in memory as premultiplied 32-bit BGRA pixels, and what the window
// does with them: area-weighted resizing, filling and laying one over another.
// Portable, so it is tested natively; the window code hands GDI the results.
#pragma once

#include <cstdint>
#include <vector>

namespace velmo {

// A decoded picture: premultiplied 32-bit BGRA pixels, top row first.
struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Pixels owned elsewhere (a DIB section's bits) in the same layout.
struct PixelView {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

inline PixelView ViewOf(PixelImage& image) {
    return {image.pixels.data(), image.width, image.height};
}

// The opaque pixel of a 0xRRGGBB colour.
constexpr std::uint32_t OpaquePixel(std::int32_t rgb) {
    return 0xFF000000u | static_cast<std::uint32_t>(rgb & 0xFFFFFF);
}

// The picture resized to width x height by averaging the source area each
// target pixel covers, so shrinking keeps detail smooth and the average colour.
// At its own size the picture is returned as it is.
PixelImage Stretch(const PixelImage& source, int width, int height);

void Fill(PixelView target, std::uint32_t pixel);

// Lays the premultiplied source over the target with its top-left corner at
// (left, top): source over target; what falls outside the target is dropped.
void Blend(PixelView target, const PixelImage& source, int left, int top);

} // namespace velmo
