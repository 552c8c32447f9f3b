// The bridge for a control-library implementation that offers no way in:
// sem_GetManagerHandle keeps whatever the library reports, and simulator
// options cannot be passed on.
#include "app/scope_link.h"
#include "platform/platform.h"

namespace vesk::app {

void AttachManagerWindow(SemWindow) {}

int ApplySimulatorOptions(const SimulatorOptions& options) {
  if (options.AnyGiven()) {
    plat::Platform().writeStandardError("Warning:simulator options ignored; no bridge to the simulator yet.\n");
  }
  return 0;
}

}  // namespace vesk::app
