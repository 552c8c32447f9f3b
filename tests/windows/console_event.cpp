// vesk_console_event PROGRAM [ARGUMENTS...]: runs a program in a console
// of its own, as a command prompt would, and sends that console Ctrl+C
// when a line "c" arrives on the standard input, for the tests that stop
// VESK.exe under wine the way an operator does. The program keeps this
// helper's standard streams. Exits with the program's exit code, 100 when
// it cannot be started, 101 when the event cannot be sent.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The helper itself outlives the event it sends.
BOOL WINAPI Ignore(DWORD) { return TRUE; }

void AppendQuoted(std::string* line, const char* argument) {
  if (!line->empty()) *line += ' ';
  *line += '"';
  *line += argument;  // the tests' arguments hold no quotes
  *line += '"';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: vesk_console_event PROGRAM [ARGUMENTS...]\n", stderr);
    return 2;
  }
  // Under wine, a program started from Linux has no console window; the
  // program's streams stay the ones this helper was given.
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE errors = ::GetStdHandle(STD_ERROR_HANDLE);
  ::FreeConsole();
  if (::AllocConsole() == FALSE) return 100;
  ::SetConsoleCtrlHandler(Ignore, TRUE);

  std::string line;
  for (int i = 1; i < argc; ++i) AppendQuoted(&line, argv[i]);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output;
  startup.hStdError = errors;
  PROCESS_INFORMATION process = {};
  if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process) ==
      FALSE) {
    return 100;
  }
  char command[16];
  DWORD read = 0;
  std::string pending;
  while (::ReadFile(input, command, sizeof command, &read, nullptr) != FALSE && read > 0) {
    pending.append(command, read);
    if (pending.find("c\n") != std::string::npos) {
      if (::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == FALSE) return 101;
      break;
    }
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
