#include "platform/platform.h"

namespace quilbo {

namespace {
const PlatformApi* gCurrent = nullptr;
}  // namespace

const PlatformApi& Os() {
  if (gCurrent == nullptr) gCurrent = &NativePlatform();
  return *gCurrent;
}

void SetPlatform(const PlatformApi* api) {
  gCurrent = api != nullptr ? api : &NativePlatform();
}

}  // namespace quilbo
