// Decodes 24-bit Windows bitmap files, the portraits' format, straight into
// pixels: no imaging component is needed for them. Portable, tested natively.
#pragma once

#include "app/Pixels.h"

#include <optional>
#include <string_view>

namespace velmo {

// The picture in a BMP file with 24 bits per pixel and no compression (rows
// bottom-up or top-down), as opaque pixels; nullopt for any other or a damaged
// file, which is then left to the imaging component.
std::optional<PixelImage> DecodeBitmap24(std::string_view file);

} // namespace velmo
