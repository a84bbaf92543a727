#include "app/Pictures.h"

#include "app/BitmapFile.h"
#include "app/Layout.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace velmo {
namespace {

std::string PictureSubject(int resource) {
    return "Bild " + std::to_string(resource);
}

// A picture resource of the program file, as pixels. Throws PlatformError naming
// the picture.
PixelImage DecodePicture(HINSTANCE instance, int resource) {
    HRSRC found =
        FindResourceW(instance, MAKEINTRESOURCEW(resource), MAKEINTRESOURCEW(RT_PICTURE_FILE));
    if (!found)
        throw LastError(PictureSubject(resource));
    HGLOBAL loaded = LoadResource(instance, found);
    const DWORD size = SizeofResource(instance, found);
    const auto* bytes = static_cast<const char*>(loaded ? LockResource(loaded) : nullptr);
    if (!bytes || size == 0)
        throw LastError(PictureSubject(resource));
    std::optional<PixelImage> image = DecodeBitmapFile(std::string_view(bytes, size));
    if (!image)
        throw MakeError(ERROR_INVALID_DATA, PictureSubject(resource));
    return std::move(*image);
}

} // namespace

Bitmap MakeBitmap(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    Bitmap bitmap;
    bitmap.handle.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap.handle)
        throw LastError("");
    bitmap.pixels = {static_cast<std::uint32_t*>(bits), width, height};
    return bitmap;
}

void Artwork::Decode(HINSTANCE instance) {
    for (const Control& c : kControls)
        if (c.picture)
            sources_[c.id] = DecodePicture(instance, c.picture);
}

void Artwork::BuildFaces(int dpi) {
    for (const Control& c : kControls) {
        const PixelImage& source = sources_[c.id];
        if (source.pixels.empty() || c.kind == ControlKind::Image)
            continue;
        const RECT r = PixelRect(c, dpi);
        Bitmap face = MakeBitmap(std::max(1L, r.right - r.left), std::max(1L, r.bottom - r.top));
        Fill(face.pixels, OpaquePixel(c.backColour == kDefaultColour ? kBlack : c.backColour));
        const int width = MulDiv(source.width, dpi, kDefaultDpi);
        const int height = MulDiv(source.height, dpi, kDefaultDpi);
        if (width == source.width && height == source.height)
            Blend(face.pixels, source, 0, 0);
        else
            Blend(face.pixels, Stretch(source, width, height), 0, 0);
        faces_[c.id] = std::move(face);
    }
}

void Artwork::BuildSurface(int dpi, const std::function<bool(ControlId)>& visible,
                           const std::array<AutoFont, kFontCount>& fonts,
                           const std::optional<HighContrast>& highContrast) {
    const int width = TwipsToPixels(kClientWidthTwips, dpi);
    const int height = TwipsToPixels(kClientHeightTwips, dpi);
    if (surface_.pixels.width != width || surface_.pixels.height != height)
        surface_ = MakeBitmap(width, height);
    Fill(surface_.pixels, OpaquePixel(WindowBackground(highContrast)));
    for (const Control& c : kControls) {
        if (c.kind != ControlKind::Image || !visible(c.id))
            continue;
        const RECT r = PixelRect(c, dpi);
        PixelImage& image = stretched_[c.id];
        if (image.width != r.right - r.left || image.height != r.bottom - r.top)
            image = Stretch(sources_[c.id], r.right - r.left, r.bottom - r.top);
        Blend(surface_.pixels, image, r.left, r.top);
    }

    MemoryDc dc(nullptr, surface_.handle.Get());
    SetBkMode(dc.Get(), TRANSPARENT);
    for (const Control& c : kControls) {
        if (c.kind != ControlKind::Label || !visible(c.id))
            continue;
        Selection font(dc.Get(), fonts[static_cast<int>(c.font)].Get());
        SetTextColor(dc.Get(), ToColorRef(ShownColoursOf(c, highContrast).text));
        RECT r = PixelRect(c, dpi);
        const std::wstring text = Widen(std::string(c.text));
        // Sized to the caption: a substitute font a little wider still shows it whole.
        DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &r,
                  DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    }
    GdiFlush();
}

} // namespace velmo
