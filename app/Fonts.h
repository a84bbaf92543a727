// The window's fonts on Win32: the face chosen for each font of the control
// table where the system lacks it, and the font at a given size.
#pragma once

#include "app/Controls.h"
#include "platform/Handle.h"

#include <array>
#include <string_view>

namespace velmo {

// The height in pixels of the font `def` at `dpi`, as its point size gives it.
int PixelHeight(const FontDef& def, int dpi);

// The font `def` with the nearest face the system has, `pixelHeight` pixels
// high (its characters, without the internal leading). Throws PlatformError.
AutoFont MakeFont(const FontDef& def, int pixelHeight);

// The window's fonts at `dpi`, by FontId, each given to the controls in it
// (`children`, by control; null for those without a window). A font is a
// pixel smaller at a time while a caption in it does not fit its control by
// the control's own measure (a substitute face is wider than the one the
// layout was made for, and its hinting grows faster than the rectangles),
// down to two thirds of its size.
std::array<AutoFont, kFontCount> FittedFonts(int dpi,
                                             const std::array<HWND, kControlCount>& children);

// Draws the lines of `text` (CR LF between them) in the selected font, each
// centred in `width`, one below the other from the top. A line wider than that
// has its letters moved closer together until it fits; the font keeps its size.
void DrawCentredLines(HDC dc, std::wstring_view text, int width);

} // namespace velmo
