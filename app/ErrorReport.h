// The last line of error reporting on Win32: what escapes to the boundary with
// Windows' own code is shown in a message box there.
#pragma once

#include "platform/WinApi.h"

namespace velmo {

// Shows the exception being handled in a message box owned by `owner`: a
// PlatformError with its number and text, anything else with what is known.
// Call only inside a catch block.
void ReportCurrentException(HWND owner) noexcept;

} // namespace velmo
