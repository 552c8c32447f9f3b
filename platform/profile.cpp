#include "platform/profile.h"

namespace plat {

std::string FolderOf(const char* file) {
#if defined(_WIN32)
  const char* separators = "\\/";
#else
  const char* separators = "/";
#endif
  const std::string path = file != nullptr ? file : "";
  const std::size_t last = path.find_last_of(separators);
  if (last == std::string::npos) return ".";
  // The root itself ("/", "C:\"), not what names the drive's current folder.
  if (last == 0 || (last == 2 && path[1] == ':')) return path.substr(0, last + 1);
  return path.substr(0, last);
}

}  // namespace plat
