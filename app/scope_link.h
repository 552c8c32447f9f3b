// The bridge between the service and the control-library implementation it
// is linked with. Each implementation brings its own definitions of these
// two functions (scope_link_<implementation>.cpp); the Windows build with
// the maker's library has neither, as the real manager application is
// there.
#pragma once

#include "app/options.h"
#include "scope/sem.h"

namespace vesk::app {

// Hands the manager application's window to the library, so that
// sem_GetManagerHandle returns it from then on. Called before the service's
// window is created.
void AttachManagerWindow(SemWindow manager);

// Passes the simulator's options on. 0 when accepted; otherwise a message
// has been written and the service ends with exit code 2.
int ApplySimulatorOptions(const SimulatorOptions& options);

// Stops what ApplySimulatorOptions started beside the service (the live
// view's threads) while the process is still whole, before its static
// objects are destroyed.
void StopSimulatorView();

}  // namespace vesk::app
