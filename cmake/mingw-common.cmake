# Shared by the mingw-w64 toolchain files; VESK_MINGW_TRIPLET names the
# target, VESK_MINGW_THREADS the compiler's thread model (posix by default).
if(NOT VESK_MINGW_THREADS)
  set(VESK_MINGW_THREADS posix)
endif()
set(CMAKE_C_COMPILER ${VESK_MINGW_TRIPLET}-gcc-${VESK_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${VESK_MINGW_TRIPLET}-g++-${VESK_MINGW_THREADS})
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

# Tests run the programs under wine, through the loader of the programs'
# own width, named explicitly: /usr/bin/wine is whichever wine was
# installed last (wine32 takes it over), and Debian keeps wine64's loader
# out of PATH.
if(VESK_MINGW_TRIPLET STREQUAL "x86_64-w64-mingw32")
  find_program(VESK_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine NO_DEFAULT_PATH)
else()
  find_program(VESK_WINE_LOADER NAMES wine PATHS /usr/lib/wine /usr/lib/i386-linux-gnu/wine NO_DEFAULT_PATH)
endif()
if(VESK_WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VESK_WINE_LOADER})
endif()
