#include "app/Fonts.h"

#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <cwchar>
#include <string>
#include <string_view>

namespace velmo {
namespace {

int CALLBACK NoteTrueTypeFace(const LOGFONTW*, const TEXTMETRICW*, DWORD type, LPARAM found) {
    if (type & TRUETYPE_FONTTYPE)
        *reinterpret_cast<bool*>(found) = true;
    return 1;
}

bool HasTrueTypeFace(const wchar_t* face) {
    LOGFONTW query{};
    query.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(query.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    WindowDc screen(nullptr);
    EnumFontFamiliesExW(screen.Get(), &query, NoteTrueTypeFace, reinterpret_cast<LPARAM>(&found),
                        0);
    return found;
}

// "MS Sans Serif" is a bitmap font that has no 18 or 72 point sizes; its TrueType
// successor "Microsoft Sans Serif" takes its place, or else the system's own
// dialog font. "Courier New" is left to the font mapper, which picks the nearest
// fixed-pitch TrueType font where it is missing.
struct FaceChoice {
    std::wstring face;
    BYTE pitchAndFamily;
};

FaceChoice ChooseFace(std::string_view face) {
    if (face == "MS Sans Serif") {
        static const std::wstring substitute = [] {
            if (HasTrueTypeFace(L"Microsoft Sans Serif"))
                return std::wstring(L"Microsoft Sans Serif");
            NONCLIENTMETRICSW metrics{};
            metrics.cbSize = sizeof metrics;
            if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
                return std::wstring(metrics.lfMessageFont.lfFaceName);
            return std::wstring(L"Tahoma");
        }();
        return {substitute, VARIABLE_PITCH | FF_SWISS};
    }
    if (face.find("Courier") != std::string_view::npos)
        return {Widen(std::string(face)), FIXED_PITCH | FF_MODERN};
    return {Widen(std::string(face)), DEFAULT_PITCH | FF_DONTCARE};
}

} // namespace

int PixelHeight(const FontDef& def, int dpi) {
    return MulDiv(def.hundredthsOfPoint, dpi, 7200);
}

AutoFont MakeFont(const FontDef& def, int pixelHeight) {
    const FaceChoice choice = ChooseFace(def.face);
    LOGFONTW font{};
    font.lfHeight = -pixelHeight;
    font.lfWeight = def.bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfOutPrecision = OUT_TT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = choice.pitchAndFamily;
    wcsncpy(font.lfFaceName, choice.face.c_str(), LF_FACESIZE - 1);
    AutoFont handle(CreateFontIndirectW(&font));
    if (!handle)
        throw LastError(std::string(def.face));
    return handle;
}

} // namespace velmo
