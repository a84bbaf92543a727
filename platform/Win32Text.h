// Text at the Win32 boundary: UTF-8 inside the program, UTF-16 for the wide
// functions, and paths as the wide file functions take them.
#pragma once

#include "platform/WinApi.h"

#include <string>

namespace velmo {

// Text in a code page (UTF-8 unless another is named, such as the system's
// ANSI code page CP_ACP) to UTF-16 and back.
std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8);
std::string Narrow(const std::wstring& wide, UINT codePage = CP_UTF8);
std::string Narrow(const wchar_t* wide, int length, UINT codePage = CP_UTF8);

// The character(s) the user's number format puts between groups of three
// digits (a German Windows: "."; Swiss: "'"), in UTF-8; "." where Windows
// gives none. Read at each call, so a change in the settings shows at once.
std::string UserThousandsSeparator();

// A path as the wide file functions take it: always in the "\\?\" form (see
// ExtendedPath), so names such as "con.lua" are files and not devices, and
// files beyond 260 characters can be read and written too.
std::wstring FilePath(const std::string& utf8);

} // namespace velmo
