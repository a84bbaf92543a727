// Text at the Win32 boundary: UTF-8 inside the program, UTF-16 for the wide
// functions, and paths as the wide file functions take them.
#pragma once

#include <string>

namespace velmo {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
std::string Narrow(const wchar_t* wide, int length);

// A path as the wide file functions take it: long paths get the "\\?\" prefix
// so files beyond 260 characters can be read and written too.
std::wstring FilePath(const std::string& utf8);

} // namespace velmo
