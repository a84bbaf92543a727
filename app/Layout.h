// Where a control of the table lies in the window's client area, in pixels,
// and the table's colours as GDI takes them.
#pragma once

#include "app/Controls.h"
#include "platform/WinApi.h"

#include <cstdint>

namespace velmo {

// The DPI that the table's pixel sizes (pictures, margins) are given at.
inline constexpr int kDefaultDpi = 96;

inline COLORREF ToColorRef(std::int32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

inline std::int32_t FromColorRef(COLORREF colour) {
    return static_cast<std::int32_t>((GetRValue(colour) << 16) | (GetGValue(colour) << 8) |
                                     GetBValue(colour));
}

inline RECT PixelRect(const Control& c, int dpi) {
    const int left = TwipsToPixels(c.left, dpi);
    const int top = TwipsToPixels(c.top, dpi);
    return {left, top, left + TwipsToPixels(c.width, dpi), top + TwipsToPixels(c.height, dpi)};
}

} // namespace velmo
