// Text at the Win32 boundary, and errors carrying the system's text.
#pragma once

#include "platform/Platform.h"

#include "platform/WinApi.h"

#include <string>

namespace velmo {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
std::string Narrow(const wchar_t* wide, int length);

// The system's text for a Windows error number, without its line end.
std::string SystemErrorText(DWORD code);
PlatformError MakeError(DWORD code, const std::string& subject);
// The error of the last failed Win32 call.
PlatformError LastError(const std::string& subject);

// A path as the wide file functions take it: long paths get the "\\?\" prefix
// so files beyond 260 characters can be read and written too.
std::wstring FilePath(const std::string& utf8);

} // namespace velmo
