// vesk_send_message CLASS MESSAGE WPARAM LPARAM: sends a window message to
// the top-level window of a class, as the manager application does, for
// the tests that run VESK.exe under wine. SendMessage rather than
// PostMessage, so that the caller knows the window has handled it.
// Exits 0 once sent, 1 when no such window appears, 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool ParseNumber(const char* text, long long* value) {
  char* end = nullptr;
  *value = std::strtoll(text, &end, 0);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  long long message = 0, wParam = 0, lParam = 0;
  if (argc != 5 || !ParseNumber(argv[2], &message) || !ParseNumber(argv[3], &wParam) ||
      !ParseNumber(argv[4], &lParam)) {
    std::fputs("usage: vesk_send_message CLASS MESSAGE WPARAM LPARAM\n", stderr);
    return 2;
  }
  // The window appears a moment after the program starts.
  HWND window = nullptr;
  for (int attempt = 0; attempt < 40 && window == nullptr; ++attempt) {
    if (attempt > 0) ::Sleep(50);
    window = ::FindWindowA(argv[1], nullptr);
  }
  if (window == nullptr) {
    std::fprintf(stderr, "vesk_send_message: no window of class %s\n", argv[1]);
    return 1;
  }
  ::SendMessageA(window, static_cast<UINT>(message), static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
  return 0;
}
