# Shared by the mingw-w64 toolchain files; VESK_MINGW_TRIPLET names the target.
set(CMAKE_C_COMPILER ${VESK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VESK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VESK_MINGW_TRIPLET}-windres)
set(VESK_DLLTOOL ${VESK_MINGW_TRIPLET}-dlltool CACHE FILEPATH "dlltool of the target")

set(CMAKE_FIND_ROOT_PATH /usr/${VESK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs: libgcc, libstdc++ and winpthread go into each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and test discovery run the programs under wine.
find_program(VESK_WINE NAMES wine wine64)
if(VESK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VESK_WINE})
endif()
