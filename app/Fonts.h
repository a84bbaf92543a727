// The window's fonts on Win32: the face chosen for each font of the control
// table where the system lacks it, and the font at a given size.
#pragma once

#include "app/Controls.h"
#include "platform/Handle.h"

namespace velmo {

// The height in pixels of the font `def` at `dpi`, as its point size gives it.
int PixelHeight(const FontDef& def, int dpi);

// The font `def` with the nearest face the system has, `pixelHeight` pixels
// high (its characters, without the internal leading). Throws PlatformError.
AutoFont MakeFont(const FontDef& def, int pixelHeight);

} // namespace velmo
