// The window's fonts on Win32: the face chosen for each font of the control
// table where the system lacks it, and the font at a given DPI.
#pragma once

#include "app/Controls.h"
#include "platform/Handle.h"

namespace velmo {

// The font `def` at `dpi`, with the nearest face the system has. Throws
// PlatformError.
AutoFont MakeFont(const FontDef& def, int dpi);

} // namespace velmo
