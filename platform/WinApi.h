// <windows.h> for this project's Win32 code. Include this instead of it:
// the platform interface has operations named MoveFile and DeleteFile, which
// the header would otherwise rename to their wide variants.
#pragma once

#include <windows.h>

#undef MoveFile
#undef DeleteFile
