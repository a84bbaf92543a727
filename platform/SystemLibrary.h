// Windows' own libraries loaded at run time, from the system folder only, and
// their functions typed by their declarations in the Windows headers.
#pragma once

#include "platform/WinApi.h"

namespace velmo {

// Loads a library of Windows from the system folder only: never from the
// program's folder, the current directory or the PATH, where a planted copy
// could stand in for it. The library stays loaded for the rest of the run, like
// an imported one. Null when it cannot be loaded (GetLastError says why).
inline HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The function `name` of the system library `library` as a `Function`; null
// when the library or the function is missing (an older Windows).
template <class Function>
Function SystemFunction(const wchar_t* library, const char* name) noexcept {
    HMODULE module = LoadSystemLibrary(library);
    if (!module)
        return nullptr;
    // Through a plain function pointer type: FARPROC converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace velmo

// A system function typed by its own declaration, so no signature is written by
// hand: VELMO_SYSTEM_FUNCTION(L"comdlg32.dll", GetOpenFileNameW) is a
// decltype(&GetOpenFileNameW), null when missing. The declaration is only
// named, never called, so the program file does not import the library.
#define VELMO_SYSTEM_FUNCTION(library, function)                                                   \
    ::velmo::SystemFunction<decltype(&::function)>(library, #function)
