// The window's pictures on Win32: decoded from the program's own resources (bitmap
// files, read without an imaging component) into pixels, and the DIB sections
// they are drawn into for GDI.
#pragma once

#include "app/Contrast.h"
#include "app/Controls.h"
#include "app/Pixels.h"
#include "platform/Handle.h"
#include "platform/WinApi.h"

#include <array>
#include <functional>
#include <optional>

namespace velmo {

// Pixels ready for GDI: a top-down 32-bit DIB section with premultiplied alpha.
struct Bitmap {
    AutoBitmap handle;
    PixelView pixels;
};

// A new DIB section of the given size; its pixels are not yet set.
Bitmap MakeBitmap(int width, int height);

// What the window shows of the table's pictures and captions, at the window's
// DPI: the picture boxes' faces, and the window's own surface with the images
// and labels drawn on it.
class Artwork {
  public:
    // Decodes every picture the table names. Throws PlatformError.
    void Decode(HINSTANCE instance);
    // A picture box shows its picture at the picture's own size (in pixels at 96
    // DPI, so it grows with the DPI like the box) from the top-left corner, on
    // the box's background.
    void BuildFaces(int dpi);
    // Black (high contrast's background while it is on), with the images
    // stretched to their rectangles and the labels in their fonts (by FontId)
    // and colours, of the controls `visible` says are shown. An image is
    // stretched when first drawn: a hidden one never is.
    void BuildSurface(int dpi, const std::function<bool(ControlId)>& visible,
                      const std::array<AutoFont, kFontCount>& fonts,
                      const std::optional<HighContrast>& highContrast);

    const Bitmap& Face(ControlId id) const { return faces_[id]; }
    const Bitmap& Surface() const { return surface_; }

  private:
    std::array<PixelImage, kControlCount> sources_{};   // decoded, by control
    std::array<PixelImage, kControlCount> stretched_{}; // shown images, at their size
    std::array<Bitmap, kControlCount> faces_{};         // picture boxes' faces
    Bitmap surface_;
};

} // namespace velmo
