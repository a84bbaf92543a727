# The same sources as 64-bit Windows programs: for running the tests under Wine
# on hosts that cannot execute 32-bit Linux programs (and so no 32-bit Wine).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
