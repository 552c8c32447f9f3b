#include "server/diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace vesk {
namespace {
constexpr int kDebugLineSize = 128;
constexpr int kStreamLineSize = 1024;
}  // namespace

void ReportToStandardError(const char* text) { plat::Platform().writeStandardError(text); }

void ReportToDebugger(const char* format, ...) {
  char line[kDebugLineSize];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  plat::Platform().debugOutput(line);
}

void ReportBoth(const char* format, ...) {
  char stream[kStreamLineSize];
  char debug[kDebugLineSize];
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  std::vsnprintf(stream, sizeof stream, format, arguments);
  std::vsnprintf(debug, sizeof debug, format, copy);
  va_end(copy);
  va_end(arguments);
  plat::Platform().writeStandardError(stream);
  plat::Platform().debugOutput(debug);
}

void ReportDeparture(int index, const char* clientName) {
  char line[kDebugLineSize];
  std::snprintf(line, sizeof line, "%d %s left.\n", index, clientName);
  plat::Platform().writeStandardOutput(line);
  plat::Platform().debugOutput(line);
}

}  // namespace vesk
