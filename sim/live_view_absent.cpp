// Builds without cpp-httplib (the Windows ones) have no live view.
#include "sim/live_view.h"

namespace vesk::sim {

bool StartLiveView(const LiveViewOptions&, std::string* error) {
  if (error != nullptr) *error = "this build has no live view (it needs cpp-httplib, which Windows builds lack)";
  return false;
}

std::uint16_t LiveViewPort() { return 0; }

void StopLiveView() {}

}  // namespace vesk::sim
