# 32-bit Windows starts a thread on a stack aligned to 4 bytes only, and the
# worker threads of a batch run the conversion kernel, whose SSE2 values GCC
# may keep in 16-byte stack slots with aligned moves. Such a function must
# align its own frame (-mstackrealign, set by the i686 toolchain file). The
# threads cannot be run in the test of the 32-bit programs under emulation,
# so the build checks here, before anything is compiled, that the compiler
# with the project's flags really does it: a function holding a 16-byte
# aligned SSE2 value on its stack must round its stack pointer down itself.
if(NOT (WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang"))
  return()
endif()

set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/stack_alignment_probe.cpp)
file(WRITE ${probe} [=[
#include <emmintrin.h>
void Keep(__m128i*);
void Entry() {
    __m128i slot[2];
    slot[0] = _mm_set1_epi32(1);
    slot[1] = _mm_set1_epi32(2);
    Keep(slot);
}
]=])
string(TOUPPER "${CMAKE_BUILD_TYPE}" config)
set(flag_text "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${config}}")
separate_arguments(flags UNIX_COMMAND "${flag_text}")
execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${flags} -S -o - ${probe}
                OUTPUT_VARIABLE assembly ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "The stack alignment probe does not compile:\n${errors}")
endif()
if(NOT assembly MATCHES "and[l]?[ \t]+\\$-16,[ \t]*%esp")
  message(FATAL_ERROR
    "${CMAKE_CXX_COMPILER} with \"${flag_text}\" does not align the stack of a function "
    "that keeps SSE2 values on it; on 32-bit Windows threads (4-byte aligned stacks) "
    "the conversion would crash. Build with -mstackrealign (cmake/mingw-i686.cmake).\n"
    "The probe compiled to:\n${assembly}")
endif()
message(STATUS "32-bit stacks: functions with SSE2 values on the stack align it themselves")
