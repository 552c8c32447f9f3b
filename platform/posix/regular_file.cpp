#include "platform/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

FileRead ReadRegularFile(const char* path, std::size_t most, std::string* bytes) {
  bytes->clear();
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block the open
  if (fd < 0) return FileRead::kCannotRead;
  struct stat info {};
  FileRead result = FileRead::kRead;
  if (::fstat(fd, &info) != 0) {
    result = FileRead::kCannotRead;
  } else if (!S_ISREG(info.st_mode)) {
    result = FileRead::kNotRegular;
  } else if (static_cast<unsigned long long>(info.st_size) > most) {
    result = FileRead::kTooLarge;
  }
  std::size_t filled = 0;
  if (result == FileRead::kRead) bytes->resize(most + 1);
  while (result == FileRead::kRead && filled < bytes->size()) {
    const ssize_t n = ::read(fd, bytes->data() + filled, bytes->size() - filled);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) result = FileRead::kCannotRead;
    if (n > 0) filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (result == FileRead::kRead && filled > most) result = FileRead::kTooLarge;
  bytes->resize(result == FileRead::kRead ? filled : 0);
  return result;
}

}  // namespace plat
