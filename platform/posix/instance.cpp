// The single-instance lock on POSIX: flock on a file in the runtime
// directory. The descriptor is kept open (and the lock with it) until the
// process ends; the kernel drops the lock then, however the process ended.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/instance.h"
#include "platform/platform.h"

namespace plat {
namespace {

std::string RuntimeDirectory() {
  for (const char* variable : {"VESK_RUNTIME_DIR", "XDG_RUNTIME_DIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  std::string fallback = "/tmp/vesk-" + std::to_string(static_cast<unsigned long>(::getuid()));
  if (::mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  return fallback;
}

}  // namespace

InstanceLockResult AcquireInstanceLock(const char* name) {
  const std::string directory = RuntimeDirectory();
  if (directory.empty() || name == nullptr || name[0] == '\0') return InstanceLockResult::kUnavailable;
  const std::string path = directory + "/" + name + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return InstanceLockResult::kUnavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? InstanceLockResult::kHeldElsewhere : InstanceLockResult::kUnavailable;
  }
  return InstanceLockResult::kAcquired;  // fd stays open for the life of the process
}

void ReportInstanceHeldElsewhere(const char* name) {
  const std::string line = "vesk: another instance is already running (lock file " + RuntimeDirectory() + "/" +
                           name + ".lock); this one ends.\n";
  Platform().writeStandardError(line.c_str());
}

}  // namespace plat
