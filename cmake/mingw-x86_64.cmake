# The 64-bit Windows programs, cross-built with mingw-w64: the main download
# (the win64 zip), and what the tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
