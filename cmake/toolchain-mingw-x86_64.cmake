# Cross-compiling for 64-bit Windows with mingw-w64: a second target for the
# Windows layer on machines whose wine runs only 64-bit programs. The
# instrument's control PC itself is 32-bit (toolchain-mingw-i686.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VESK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
