// The pictures the window carries as bitmap files are the artwork's GIF and
// JPEG designs exactly as Windows' imaging component decodes them, pixel for
// pixel, so the window looks as it did when it decoded the designs itself at
// start. With VELMO_WRITE_CARRIED_ART=1 the test writes the bitmap files from
// the designs instead (after the artwork has changed), into resources/images.
#include "TestSupport.h"

#include "app/BitmapFile.h"

#include <gtest/gtest.h>
#include <wincodec.h>

#include <cstdlib>
#include <string>

namespace velmo {
namespace {

using test::ReadRaw;
using test::WriteRaw;

struct Art {
    const char* designed;
    const char* carried;
};
constexpr Art kArt[] = {
    {"title.gif", "title.bmp"},         {"starter.jpg", "starter.bmp"},
    {"eisenmark.jpg", "eisenmark.bmp"}, {"sturmtal.jpg", "sturmtal.bmp"},
    {"notepad.gif", "notepad.bmp"},
};

// The source tree's picture folder, as Wine shows the host's root (Z:).
std::string ImagesDir() {
    std::string dir = VELMO_IMAGES_DIR;
    for (char& c : dir)
        if (c == '/')
            c = '\\';
    return (dir.front() == '\\' ? "Z:" : "") + dir + "\\";
}

template <class T> struct Released {
    T* p = nullptr;
    ~Released() {
        if (p)
            p->Release();
    }
};

void Check(HRESULT result, const char* what) {
    if (FAILED(result))
        throw std::runtime_error(what);
}

// The design decoded to premultiplied BGRA, as the window used to decode it.
PixelImage DecodeWithImagingComponent(const std::string& file) {
    Released<IWICImagingFactory> factory;
    Check(CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IWICImagingFactory, reinterpret_cast<void**>(&factory.p)),
          "imaging component");
    const std::optional<std::string> bytes = ReadRaw(file);
    if (!bytes)
        throw std::runtime_error("cannot read " + file);
    Released<IWICStream> stream;
    Check(factory.p->CreateStream(&stream.p), "stream");
    Check(stream.p->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes->data())),
                                         static_cast<DWORD>(bytes->size())),
          "stream");
    Released<IWICBitmapDecoder> decoder;
    Check(factory.p->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnLoad,
                                             &decoder.p),
          "decoder");
    Released<IWICBitmapFrameDecode> frame;
    Check(decoder.p->GetFrame(0, &frame.p), "frame");
    Released<IWICFormatConverter> converter;
    Check(factory.p->CreateFormatConverter(&converter.p), "converter");
    Check(converter.p->Initialize(frame.p, GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                  nullptr, 0.0, WICBitmapPaletteTypeCustom),
          "converter");
    UINT width = 0, height = 0;
    Check(converter.p->GetSize(&width, &height), "size");
    PixelImage image{static_cast<int>(width), static_cast<int>(height), {}};
    image.pixels.resize(static_cast<std::size_t>(width) * height);
    Check(converter.p->CopyPixels(nullptr, width * 4, width * height * 4,
                                  reinterpret_cast<BYTE*>(image.pixels.data())),
          "pixels");
    return image;
}

void Put(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A bottom-up BMP file of the picture: 24 bits where every pixel is opaque,
// else 32 bits with premultiplied alpha.
std::string BitmapFileOf(const PixelImage& image) {
    bool opaque = true;
    for (std::uint32_t pixel : image.pixels)
        opaque = opaque && (pixel >> 24) == 0xFF;
    const int bytesPerPixel = opaque ? 3 : 4;
    const std::size_t stride = (static_cast<std::size_t>(image.width) * bytesPerPixel + 3) / 4 * 4;
    std::string bytes(54 + stride * image.height, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put(bytes, 2, static_cast<std::uint32_t>(bytes.size()), 4);
    Put(bytes, 10, 54, 4);
    Put(bytes, 14, 40, 4);
    Put(bytes, 18, static_cast<std::uint32_t>(image.width), 4);
    Put(bytes, 22, static_cast<std::uint32_t>(image.height), 4);
    Put(bytes, 26, 1, 2);
    Put(bytes, 28, static_cast<std::uint32_t>(bytesPerPixel * 8), 2);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            Put(bytes, 54 + stride * (image.height - 1 - y) + x * bytesPerPixel,
                image.pixels[static_cast<std::size_t>(y) * image.width + x], bytesPerPixel);
    return bytes;
}

TEST(CarriedArt, IsTheDesignDecodedByTheImagingComponent) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const bool write = std::getenv("VELMO_WRITE_CARRIED_ART") != nullptr;
    for (const Art& art : kArt) {
        SCOPED_TRACE(art.designed);
        const PixelImage designed = DecodeWithImagingComponent(ImagesDir() + art.designed);
        if (write) {
            WriteRaw(ImagesDir() + art.carried, BitmapFileOf(designed));
            continue;
        }
        const std::optional<std::string> file = ReadRaw(ImagesDir() + art.carried);
        ASSERT_TRUE(file) << art.carried;
        const std::optional<PixelImage> carried = DecodeBitmapFile(*file);
        ASSERT_TRUE(carried) << art.carried;
        EXPECT_EQ(carried->width, designed.width);
        EXPECT_EQ(carried->height, designed.height);
        std::size_t differing = 0;
        for (std::size_t i = 0; i < designed.pixels.size() && i < carried->pixels.size(); ++i)
            differing += designed.pixels[i] != carried->pixels[i];
        EXPECT_EQ(differing, 0u) << "of " << designed.pixels.size() << " pixels";
    }
    CoUninitialize();
}

} // namespace
} // namespace velmo
