// The test open of the one port the configurator would take, on a worker with a time limit.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "tools/kanalyst/device_record.h"

namespace kanalyst {

// Opens \\.\<port> for reading and writing without sharing and closes it again. "Access denied"
// is tried once more after 200 ms, since a port closed a moment ago may still answer so.
PortOpen OpenPortOnce(const std::wstring& port, std::uint32_t& error);

// Opens the device's port once on a taktor::Worker that gets limitMs, and fills open and
// openError. False when the open did not return in time: the worker is abandoned inside the
// driver (the port shows as NoAnswer), and the caller must end the process instead of returning
// from it. Only the port that PortToTestOpen picks is to be opened this way.
bool TestOpenPort(DeviceRecord& device, DWORD limitMs);

}  // namespace kanalyst
