#include "platform/platform.h"

#include <atomic>

namespace plat {
namespace {
std::atomic<const PlatformApi*> installed{nullptr};
}

const PlatformApi& Platform() {
  const PlatformApi* api = installed.load(std::memory_order_acquire);
  return api != nullptr ? *api : NativePlatform();
}

void SetPlatformForTesting(const PlatformApi* api) {
  installed.store(api, std::memory_order_release);
}

}  // namespace plat
