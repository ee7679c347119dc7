// For tests only: a look inside the transfer attempt.
#pragma once

#include <functional>

#include "common/text.h"

namespace taktor {

// A function that every reply reader runs first, in its own thread; empty for none. Lets a test
// stand in for a reader thread that the system starts late.
void SetReaderStartHook(std::function<void()> hook);

// The text of the last reply (DeviceReply), as the last reader left it.
Text LastDeviceReply();

}  // namespace taktor
