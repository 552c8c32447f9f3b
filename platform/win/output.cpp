// Diagnostic output on Windows. The service's texts are in code page 932,
// the control PC's own, so the standard streams get their bytes unchanged;
// the debugger output is OutputDebugStringA. The program is a windows
// program: it has standard streams only when its starter gave it some
// (redirected to a file or a pipe) or when it borrows its parent's console.
#include <windows.h>

#include <cstdio>

#include "platform/native_api.h"

namespace plat {
namespace {

bool HasStream(DWORD which) {
  const HANDLE stream = ::GetStdHandle(which);
  return stream != nullptr && stream != INVALID_HANDLE_VALUE && ::GetFileType(stream) != FILE_TYPE_UNKNOWN;
}

}  // namespace

// Attached also when both streams are redirected: the console's Ctrl+C and
// its closing then still reach the program, which is what an operator
// expects of a program started from that prompt.
void UseParentConsole() {
  const bool hasOutput = HasStream(STD_OUTPUT_HANDLE);
  const bool hasError = HasStream(STD_ERROR_HANDLE);
  if (::AttachConsole(ATTACH_PARENT_PROCESS) == FALSE) return;  // no console: what the starter gave, if anything
  // Redirected streams stay what the starter chose.
  if (!hasOutput) (void)std::freopen("CONOUT$", "w", stdout);
  if (!hasError) (void)std::freopen("CONOUT$", "w", stderr);
}

}  // namespace plat

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
