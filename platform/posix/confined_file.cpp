// Confined writes on POSIX: openat and mkdirat from the folder's descriptor,
// O_NOFOLLOW and O_DIRECTORY on every folder, O_EXCL on the temporary, and
// renameat within the last folder.
#include "platform/confined_file.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The descriptor of the folder `name` inside `parent`, made when missing;
// -1 when it is a link, a file, or cannot be made.
int OpenOrMakeFolder(int parent, const char* name) {
  int fd = ::openat(parent, name, kFolderFlags);
  if (fd < 0 && errno == ENOENT) {
    if (::mkdirat(parent, name, 0777) != 0 && errno != EEXIST) return -1;
    fd = ::openat(parent, name, kFolderFlags);  // what is there now, still no link
  }
  return fd;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd, bytes + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// Exclusive creation: a link planted under the temporary's name is removed
// (the link itself, from this folder), never followed.
int CreateTemporary(int folder, const char* name) {
  int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EEXIST && ::unlinkat(folder, name, 0) == 0) {
    fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  }
  return fd;
}

bool WriteInFolder(int folder, const std::string& name, const void* data, std::size_t size) {
  const std::string temporary = name + kPartSuffix;
  const int fd = CreateTemporary(folder, temporary.c_str());
  if (fd < 0) return false;
  const bool written = WriteAll(fd, data, size);
  const bool closed = ::close(fd) == 0;
  if (written && closed && ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0) return true;
  ::unlinkat(folder, temporary.c_str(), 0);
  return false;
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() > end.size() && text.substr(text.size() - end.size()) == end;
}

int RemovePartsIn(int folder, int depth) {
  DIR* listing = ::fdopendir(folder);  // owns folder from here
  if (listing == nullptr) {
    ::close(folder);
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(status.st_mode) && depth > 0) {
      const int inner = ::openat(folder, name.c_str(), kFolderFlags);
      if (inner >= 0) removed += RemovePartsIn(inner, depth - 1);
    } else if (S_ISREG(status.st_mode) && EndsWith(name, kPartSuffix) && ::unlinkat(folder, name.c_str(), 0) == 0) {
      ++removed;
    }
  }
  ::closedir(listing);
  return removed;
}

}  // namespace

int WriteFileBelow(const char* folder, const std::vector<std::string>& names, const void* data, std::size_t size) {
  if (folder == nullptr || names.empty()) return 0;
  for (const std::string& name : names) {
    if (!PlainName(name)) return 0;
  }
  int at = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t i = 0; at >= 0 && i + 1 < names.size(); ++i) {
    const int next = OpenOrMakeFolder(at, names[i].c_str());
    ::close(at);
    at = next;
  }
  if (at < 0) return 0;
  const bool written = WriteInFolder(at, names.back(), data, size);
  ::close(at);
  return written ? 1 : 0;
}

int RemoveLeftoverParts(const char* folder) {
  constexpr int kDeepest = 64;  // deeper than any capture path goes
  const int fd = folder != nullptr ? ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  return fd >= 0 ? RemovePartsIn(fd, kDeepest) : 0;
}

}  // namespace plat
