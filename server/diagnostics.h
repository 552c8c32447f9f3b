// Diagnostic lines of the command server. "Both" lines go to the standard
// error stream and, cut to 128 characters, to the debugger output.
#pragma once

namespace vesk {

void ReportToStandardError(const char* text);
void ReportToDebugger(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ReportBoth(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The departure line goes to the standard output stream and the debugger.
void ReportDeparture(int index, const char* clientName);

}  // namespace vesk
