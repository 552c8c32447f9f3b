# Cross-compiling the control PC's program for 32-bit Windows XP SP3 and
# later with mingw-w64. The compiler's win32 thread model: its runtime needs
# nothing newer than XP's kernel32, where the POSIX model's winpthreads
# imports GetTickCount64 (Vista). The program's own threads, locks and
# events come from the platform layer; std::thread and std::mutex do not
# exist in this model, so only the program is built, not the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VESK_MINGW_TRIPLET i686-w64-mingw32)
set(VESK_MINGW_THREADS win32)
set(VESK_WINDOWS_XP ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
