// Every function of Windows the program looks up at run time, in one list:
// those that older systems lack, and those of libraries it does not import
// (an imported library is looked up before the program runs, and where the
// system keeps no list of known libraries, as under Wine, a copy planted beside
// the program would be taken). Each is typed by its own declaration, looked up
// in the system folder when first asked for, and null when missing.
#pragma once

#include "platform/WinApi.h"

#include <commctrl.h>
#include <commdlg.h>
#include <oleacc.h>
#include <shellapi.h>
#include <uxtheme.h>

#define VELMO_DYNAMIC_CALLS(X)                                                                     \
    X(L"kernel32.dll", SetDefaultDllDirectories) /* Windows 7 has it only with an update */        \
    X(L"user32.dll", GetDpiForWindow)            /* Windows 10 1607 */                             \
    X(L"user32.dll", AdjustWindowRectExForDpi)   /* Windows 10 1607 */                             \
    X(L"user32.dll", SystemParametersInfoForDpi) /* Windows 10 1607 */                             \
    X(L"comctl32.dll", InitCommonControlsEx)     /* version 6, as the manifest asks */             \
    X(L"comctl32.dll", TaskDialogIndirect)       /* version 6 only */                              \
    X(L"shell32.dll", DragQueryFileW)                                                              \
    X(L"shell32.dll", DragFinish)                                                                  \
    X(L"uxtheme.dll", SetWindowTheme)                                                              \
    X(L"comdlg32.dll", GetOpenFileNameW)                                                           \
    X(L"comdlg32.dll", CommDlgExtendedError)                                                       \
    X(L"oleacc.dll", LresultFromObject)                                                            \
    X(L"oleacc.dll", CreateStdAccessibleObject)

namespace velmo::dynamic {

#define VELMO_DECLARE_DYNAMIC_CALL(library, function) decltype(&::function) function() noexcept;
VELMO_DYNAMIC_CALLS(VELMO_DECLARE_DYNAMIC_CALL)
#undef VELMO_DECLARE_DYNAMIC_CALL

} // namespace velmo::dynamic
