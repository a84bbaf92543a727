# The 32-bit Windows programs (the win32 zip), cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# i686 defaults to a Pentium Pro without SSE2; every Windows since 8 requires
# SSE2, and the conversion kernel scans scripts 16 bytes at a time with it.
# A 32-bit Windows thread starts on a stack aligned to 4 bytes only: every
# function that keeps SSE2 values on its stack aligns its own frame
# (cmake/StackAlignment.cmake checks that the compiler does).
set(CMAKE_C_FLAGS_INIT "-msse2 -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mstackrealign")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
