#include "app/Painting.h"

#include "app/Fonts.h"
#include "app/Layout.h"
#include "platform/Win32Error.h"
#include "platform/Win32Text.h"

#include <string>

namespace velmo {

HBRUSH ControlPainter::BrushFor(std::int32_t colour) {
    if (colour == kDefaultColour)
        return GetSysColorBrush(COLOR_BTNFACE);
    for (const auto& [rgb, brush] : brushes_)
        if (rgb == colour)
            return brush.Get();
    AutoBrush brush(CreateSolidBrush(ToColorRef(colour)));
    if (!brush)
        throw LastError("");
    brushes_.emplace_back(colour, std::move(brush));
    return brushes_.back().second.Get();
}

HBRUSH ControlPainter::ColoursFor(HDC dc, const Control& c, bool button) {
    if (button)
        return BrushFor(WindowBackground(highContrast_));
    const ShownColours shown = ShownColoursOf(c, highContrast_);
    if (shown.text == kDefaultColour && shown.background == kDefaultColour)
        return nullptr;
    if (shown.text != kDefaultColour)
        SetTextColor(dc, ToColorRef(shown.text));
    const std::int32_t back =
        shown.background == kDefaultColour ? WindowBackground(highContrast_) : shown.background;
    SetBkColor(dc, ToColorRef(back));
    return BrushFor(back);
}

void ControlPainter::PaintPictureBox(HWND box, HDC dc, const Control& c, const Bitmap& face,
                                     bool focused) {
    RECT client;
    GetClientRect(box, &client);
    if (face.handle) {
        MemoryDc picture(dc, face.handle.Get());
        BitBlt(dc, 0, 0, face.pixels.width, face.pixels.height, picture.Get(), 0, 0, SRCCOPY);
    } else {
        FillRect(dc, &client, BrushFor(c.backColour));
    }
    if (focused)
        DrawFocusRect(dc, &client);
}

void ControlPainter::PaintTextBox(HWND box, HDC dc, const Control& c, HFONT font) {
    RECT client;
    GetClientRect(box, &client);
    const ShownColours shown = ShownColoursOf(c, highContrast_);
    FillRect(dc, &client, BrushFor(shown.background == kDefaultColour ? kBlack : shown.background));
    Selection selected(dc, font);
    SetTextColor(dc, ToColorRef(shown.text == kDefaultColour ? 0xFFFFFF : shown.text));
    SetBkMode(dc, TRANSPARENT);
    DrawCentredLines(dc, Widen(std::string(c.text)), client.right - client.left);
}

} // namespace velmo
