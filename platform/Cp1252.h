// Windows-1252, the ANSI code page of the German systems the launcher serves.
#pragma once

#include <string>

namespace velmo {

// Each byte becomes one character; the five bytes the code page leaves
// undefined map to the C1 control characters of the same value, as Windows does.
std::string Cp1252ToUtf8(const std::string& bytes);

} // namespace velmo
