// The window's pictures on Win32: decoded from the program's own resources into
// pixels, and the DIB sections they are drawn into for GDI.
#pragma once

#include "app/Pixels.h"
#include "platform/Handle.h"
#include "platform/WinApi.h"

struct IWICImagingFactory;

namespace velmo {

// Decodes the picture resources of a program file: 24-bit bitmaps directly,
// the others with the imaging component, which is created when the first of
// them needs it and released with the decoder.
class PictureDecoder {
  public:
    explicit PictureDecoder(HINSTANCE instance) noexcept : instance_(instance) {}
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Throws PlatformError naming the picture.
    PixelImage Decode(int resource);

  private:
    HINSTANCE instance_;
    IWICImagingFactory* factory_ = nullptr;
};

// Pixels ready for GDI: a top-down 32-bit DIB section with premultiplied alpha.
struct Bitmap {
    AutoBitmap handle;
    PixelView pixels;
};

// A new DIB section of the given size; its pixels are not yet set.
Bitmap MakeBitmap(int width, int height);

} // namespace velmo
