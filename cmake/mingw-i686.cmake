# The 32-bit Windows programs (the win32 zip), cross-built with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
# i686 defaults to a Pentium Pro without SSE2; every Windows since 8 requires
# SSE2, and the conversion kernel scans scripts 16 bytes at a time with it.
set(CMAKE_C_FLAGS_INIT "-msse2")
set(CMAKE_CXX_FLAGS_INIT "-msse2")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
