#include "app/BitmapFile.h"

#include <cstdint>
#include <cstdlib>

namespace velmo {
namespace {

std::uint32_t Read(std::string_view bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

} // namespace

std::optional<PixelImage> DecodeBitmapFile(std::string_view file) {
    // BITMAPFILEHEADER (14 bytes), then a BITMAPINFOHEADER or a later, longer one.
    constexpr std::size_t kFileHeader = 14, kInfoHeader = 40;
    if (file.size() < kFileHeader + kInfoHeader || file.substr(0, 2) != "BM")
        return std::nullopt;
    const std::uint32_t offset = Read(file, 10, 4);
    const std::uint32_t headerSize = Read(file, 14, 4);
    const auto width = static_cast<std::int32_t>(Read(file, 18, 4));
    const auto height = static_cast<std::int32_t>(Read(file, 22, 4));
    const std::uint32_t planes = Read(file, 26, 2), bits = Read(file, 28, 2);
    const std::uint32_t compression = Read(file, 30, 4);
    constexpr std::int32_t kLargest = 1 << 14;
    if (headerSize < kInfoHeader || planes != 1 || (bits != 24 && bits != 32) || compression != 0 ||
        width <= 0 || width > kLargest || height == 0 || height < -kLargest || height > kLargest)
        return std::nullopt;
    const int rows = std::abs(height);
    const int bytesPerPixel = static_cast<int>(bits / 8);
    const std::size_t stride = (static_cast<std::size_t>(width) * bytesPerPixel + 3) / 4 * 4;
    if (offset < kFileHeader + headerSize || offset > file.size() ||
        (file.size() - offset) / stride < static_cast<std::size_t>(rows))
        return std::nullopt;

    PixelImage image;
    image.width = width;
    image.height = rows;
    image.pixels.resize(static_cast<std::size_t>(width) * rows);
    for (int y = 0; y < rows; ++y) {
        // A positive height stores the bottom row first.
        const std::size_t row =
            offset + stride * static_cast<std::size_t>(height > 0 ? rows - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            // Blue, green, red and, in 32 bits, alpha: the pixel's own byte order.
            const std::size_t at = row + static_cast<std::size_t>(x) * bytesPerPixel;
            image.pixels[static_cast<std::size_t>(y) * width + x] =
                bytesPerPixel == 4 ? Read(file, at, 4) : 0xFF000000u | Read(file, at, 3);
        }
    }
    return image;
}

} // namespace velmo
