#include "tests/support/devices/capture_drivers.h"

void SetCaptureDriversForTesting(std::vector<std::shared_ptr<CaptureDriver>> drivers) {
  SetCaptureDriverSource([drivers] { return drivers; });
}
