# Cross-compiling for 32-bit Windows (the instrument's control PC) with
# mingw-w64. The POSIX thread model of the compiler gives std::thread and
# std::mutex to the tests; everything is linked statically, so the programs
# run without any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VESK_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
