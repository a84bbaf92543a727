// Errors of Win32 calls as PlatformError, carrying the system's text.
#pragma once

#include "platform/FileServices.h"

#include "platform/WinApi.h"

#include <string>

namespace velmo {

// The system's text for a Windows error number, without its line end.
std::string SystemErrorText(DWORD code);
PlatformError MakeError(DWORD code, const std::string& subject);
// The error of the last failed Win32 call.
PlatformError LastError(const std::string& subject);

} // namespace velmo
