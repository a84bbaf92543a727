#include "app/Fonts.h"

#include "app/Layout.h"
#include "app/TextFit.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <commctrl.h>

#include <algorithm>
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

// Space between a push button's edge and its caption, at 96 DPI: some systems'
// own measure of a button allows less, and the caption then touches its frame.
constexpr int kButtonTextMargin = 3;

// Gives the controls in `font` that font and tells whether each caption fits.
bool CaptionsFit(FontId font, HFONT handle, int dpi,
                 const std::array<HWND, kControlCount>& children) {
    bool fit = true;
    WindowDc screen(nullptr);
    Selection selected(screen.Get(), handle);
    for (const Control& c : kControls) {
        if (c.font != font)
            continue;
        const RECT r = PixelRect(c, dpi);
        const std::wstring text = Widen(std::string(c.text));
        SIZE extent{};
        GetTextExtentPoint32W(screen.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
        int needed = extent.cx;
        HWND child = children[c.id];
        if (child)
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(handle), FALSE);
        if (c.kind == ControlKind::CommandButton)
            needed += 2 * MulDiv(kButtonTextMargin, dpi, kDefaultDpi);
        if (c.kind == ControlKind::CheckBox || c.kind == ControlKind::CommandButton) {
            // The control's own measure: its caption with the box or the frame and
            // margins it draws beside it.
            SIZE ideal{};
            if (child && SendMessageW(child, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)))
                needed = std::max<int>(needed, ideal.cx);
        }
        // The notice has its own way to fit its lines (DrawCentredLines).
        if (c.kind != ControlKind::TextBox &&
            (needed > r.right - r.left || extent.cy > r.bottom - r.top))
            fit = false;
    }
    return fit;
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

std::array<AutoFont, kFontCount> FittedFonts(int dpi,
                                             const std::array<HWND, kControlCount>& children) {
    std::array<AutoFont, kFontCount> fonts{};
    for (int font = 0; font < kFontCount; ++font) {
        const FontDef def = FontOf(static_cast<FontId>(font));
        if (def.hundredthsOfPoint <= 0)
            continue;
        FittingHeight(PixelHeight(def, dpi), [&](int height) {
            fonts[font] = MakeFont(def, height);
            return CaptionsFit(static_cast<FontId>(font), fonts[font].Get(), dpi, children);
        });
    }
    return fonts;
}

void DrawCentredLines(HDC dc, std::wstring_view text, int width) {
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    int y = 0;
    for (const std::wstring_view line : TextLines(text)) {
        const int length = static_cast<int>(line.size());
        SIZE size{};
        SetTextCharacterExtra(dc, 0);
        GetTextExtentPoint32W(dc, line.data(), length, &size);
        if (const int spacing = LetterSpacingToFit(size.cx, width, length)) {
            SetTextCharacterExtra(dc, spacing);
            GetTextExtentPoint32W(dc, line.data(), length, &size);
        }
        TextOutW(dc, (width - size.cx) / 2, y, line.data(), length);
        y += metrics.tmHeight;
    }
    SetTextCharacterExtra(dc, 0);
}

} // namespace velmo
