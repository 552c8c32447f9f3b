// Diagnostic output on POSIX. The service's texts are in code page 932; the
// terminals of these machines expect UTF-8, so the standard streams get the
// text converted. The debugger output has no POSIX counterpart: it goes to
// the file named by VESK_DEBUG_OUTPUT when that is set, unconverted.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <mutex>
#include <string>

#include "platform/confined_file.h"
#include "platform/native_api.h"

namespace plat::native {
namespace {

// False when the text is no code-page-932 text (or no converter exists).
bool ConvertCodePage932(const char* text, std::string* out) {
  bool ascii = true;
  for (const char* p = text; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    *out = text;
    return true;
  }
  iconv_t converter = iconv_open("UTF-8", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(text);
  out->assign(in.size() * 3 + 1, '\0');
  char* inPointer = in.data();
  std::size_t inLeft = in.size();
  char* outPointer = out->data();
  std::size_t outLeft = out->size();
  std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) return false;
  out->resize(out->size() - outLeft);
  return true;
}

std::string FromCodePage932(const char* text) {
  std::string converted;
  return ConvertCodePage932(text, &converted) ? converted : std::string(text);
}

std::mutex debugFileMutex;

}  // namespace

void WriteStandardError(const char* text) {
  std::string converted = FromCodePage932(text);
  std::fputs(converted.c_str(), stderr);
  std::fflush(stderr);
}

void WriteStandardOutput(const char* text) {
  std::string converted = FromCodePage932(text);
  std::fputs(converted.c_str(), stdout);
  std::fflush(stdout);
}

void DebugOutput(const char* text) {
  const char* path = std::getenv("VESK_DEBUG_OUTPUT");
  if (path == nullptr || *path == '\0') return;
  std::lock_guard<std::mutex> guard(debugFileMutex);
  if (std::FILE* file = std::fopen(path, "ab")) {
    std::fputs(text, file);
    std::fclose(file);
  }
}

}  // namespace plat::native

namespace plat {
void UseParentConsole() {}  // a POSIX program always has the streams it was started with
}  // namespace plat

namespace plat {

bool FileNameFromCodePage932(const std::string& name, std::string* fileName) {
  return native::ConvertCodePage932(name.c_str(), fileName);
}

}  // namespace plat
