// The bridge for the scriptable test double of the control library: it
// hands out the manager window like any other result; it has no simulator
// options.
#include "app/scope_link.h"
#include "platform/platform.h"
#include "scope/test_double.h"

namespace vesk::app {

void AttachManagerWindow(SemWindow manager) { scope_double::SetManagerHandle(manager); }

int ApplySimulatorOptions(const SimulatorOptions& options) {
  if (options.AnyGiven()) {
    plat::Platform().writeStandardError("Warning:simulator options ignored; this build has no simulator.\n");
  }
  return 0;
}

void StopSimulatorView() {}

}  // namespace vesk::app
