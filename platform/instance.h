// The named lock that keeps a second instance of a program from running:
// a named mutex on Windows ("VeskInstance"), a locked file on POSIX. The
// operating system lets go of it when the process ends in any way, so a
// crashed instance never blocks the next start.
#pragma once

namespace plat {

enum class InstanceLockResult {
  kAcquired,       // this process now holds the name, for the rest of its life
  kHeldElsewhere,  // another process holds it
  kUnavailable,    // the lock could not be set up at all (no such directory...)
};

// Takes the name in one step, so two starts at the same moment cannot both
// win. The lock is held until the process ends.
//
// POSIX: the lock file is <directory>/<name>.lock, where directory is
// $VESK_RUNTIME_DIR, else $XDG_RUNTIME_DIR, else /tmp/vesk-<uid>.
InstanceLockResult AcquireInstanceLock(const char* name);

// Tells whoever started this second instance that another one holds the
// name. POSIX: a line on the standard error stream naming the lock file.
// Windows: nothing; the manager application starts it regardless.
void ReportInstanceHeldElsewhere(const char* name);

}  // namespace plat
