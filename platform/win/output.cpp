// Diagnostic output on Windows. The service's texts are in code page 932,
// the control PC's own, so the standard streams get their bytes unchanged;
// the debugger output is OutputDebugStringA.
#include <windows.h>

#include <cstdio>

#include "platform/native_api.h"

namespace plat::native {

void WriteStandardError(const char* text) {
  std::fputs(text, stderr);
  std::fflush(stderr);
}

void WriteStandardOutput(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

void DebugOutput(const char* text) { ::OutputDebugStringA(text); }

}  // namespace plat::native
