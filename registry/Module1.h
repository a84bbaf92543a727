// The registry reader and the clean-up of a looked-up directory.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace velmo {

// What ReadRegistryValue may leave in its result: nothing yet, a text (string
// value) or a signed 32-bit number (DWORD value).
using RegistryResult = std::variant<std::monostate, std::string, std::int32_t>;

// Reads one value with the narrow registry functions. Returns 0 or the Windows
// error code of the first call that failed; `result` changes only when the value
// was read (REG_SZ or REG_DWORD) — a failing close after that still reports its
// status. `viewFlag` selects the registry view
// (0 for the program's own, KEY_WOW64_32KEY or KEY_WOW64_64KEY). The predefined
// root key is never closed.
std::int32_t ReadRegistryValue(Platform& platform, RegKey root, const std::string& subKey,
                               const std::string& valueName, RegistryResult& result,
                               std::uint32_t viewFlag = 0);

// Turns a successfully looked-up value into a directory: its text (a number
// gives its digits) without the blanks at both ends, then without the string's
// terminating NUL and anything behind it. Empty means there is no directory.
std::string CleanUpDirectory(const RegistryResult& result);

// One lookup as start-up makes it: the 32-bit registry view first, where the
// game's installer writes, then the 64-bit view when the first answered with an
// error (the 64-bit Notepad++ installer writes there). Empty when the value is
// not there or cleans up to nothing.
std::optional<std::string> LookUpDirectory(Platform& platform, const std::string& subKey,
                                           const std::string& valueName);

} // namespace velmo
