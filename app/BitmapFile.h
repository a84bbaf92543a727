// Decodes the Windows bitmap files the window carries its pictures in,
// straight into pixels: no imaging component (and no COM) is needed at start.
// Portable, tested natively.
#pragma once

#include "app/Pixels.h"

#include <optional>
#include <string_view>

namespace velmo {

// The picture in an uncompressed BMP file (rows bottom-up or top-down): 24 bits
// per pixel as opaque pixels, or 32 bits per pixel as premultiplied blue,
// green, red and alpha, taken as they are. nullopt for any other or a damaged
// file.
std::optional<PixelImage> DecodeBitmapFile(std::string_view file);

} // namespace velmo
