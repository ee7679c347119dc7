// The test open of the one port the configurator would take, on a worker with a time limit.
#pragma once

#include <windows.h>

#include <string>

#include "tools/kanalyst/cable_report.h"

namespace kanalyst {

// Opens \\.\<port> ("COM5", UTF-8) for reading and writing without sharing and closes it again,
// on a taktor::Worker that gets limitMs. "Access denied" is tried once more after 200 ms, since
// a port closed a moment ago may still answer so. When the open does not return in time, the
// worker is abandoned inside the driver, the outcome is NoAnswer and returned is set to false:
// the caller must then end the process instead of returning from it.
OpenOutcome TestOpenPort(const std::string& port, DWORD limitMs, bool& returned);

}  // namespace kanalyst
