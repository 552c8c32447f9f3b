// The live view: a read-only web page on which a developer watches the
// simulated instrument's screen, its state and the last library requests
// while a script drives it. It runs on threads of its own and reads the
// instrument only through ReadScreen, so a slow or stuck browser never
// holds up the service.
#pragma once

#include <cstdint>
#include <string>

namespace vesk::sim {

// Whether this build has the live view (it needs cpp-httplib, which the
// Windows builds lack).
#if defined(VESK_SIM_LIVE_VIEW)
inline constexpr bool kHasLiveView = true;
#else
inline constexpr bool kHasLiveView = false;
#endif

struct LiveViewOptions {
  std::string address = "127.0.0.1";  // loopback unless told otherwise
  std::uint16_t port = 0;             // 0: any free port
};

// Starts serving (stopping a view already running). False, with a reason
// in *error, when the address cannot be listened on or the build has no
// live view.
bool StartLiveView(const LiveViewOptions& options, std::string* error = nullptr);
// The port listened on, 0 when the view is not running.
std::uint16_t LiveViewPort();
void StopLiveView();

}  // namespace vesk::sim
