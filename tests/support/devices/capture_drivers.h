// Choosing capture drivers in tests.
#pragma once

#include <memory>
#include <vector>

#include "platform/vfw/capture_driver.h"

// Makes the driver table exactly `drivers`, every time it is built afresh (an empty list: no
// driver at all).
void SetCaptureDriversForTesting(std::vector<std::shared_ptr<CaptureDriver>> drivers);
